#include "tools/publish/shared/command_argument.h"

#include "tools/publish/shared/platform_files.h"

std::filesystem::path CommandOption::ValuePath() const {
    return valueArgument != nullptr ? valueArgument->path : PathBelow("", value);
}

bool ReadCommandOption(const std::vector<CommandArgument>& args, size_t& index,
                       std::initializer_list<const char*> valued, CommandOption& option,
                       std::string& problem) {
    option = CommandOption();
    option.name = args[index].text;
    bool takesValue = false;
    for (const char* name : valued) takesValue = takesValue || option.name.rfind(name, 0) == 0;
    if (!takesValue) return true;
    const size_t equals = option.name.find('=');
    if (equals != std::string::npos) {
        option.value = option.name.substr(equals + 1);
        option.name = option.name.substr(0, equals);
        return true;
    }
    if (index + 1 >= args.size()) {
        problem = option.name + " needs a value";
        return false;
    }
    option.valueArgument = &args[++index];
    option.value = option.valueArgument->text;
    return true;
}

bool ReadWaitSeconds(const std::string& value, int& seconds) {
    if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(value) > 86400) {
        return false;
    }
    seconds = std::stoi(value);
    return true;
}
