#include "app/patcher_config.h"

PatcherConfig MakeDefaultConfig() {
    PatcherConfig config;
    config.serverUrl = VORLEN_SERVER_URL;
    config.patchListFile = kPatchListName.wide;
    config.windowTitle = L"Vorlen Patcher";
    config.gameExecutable = L"Vorlen.exe";
    config.windowWidth = 650;
    config.windowHeight = 450;
    return config;
}
