// The release statement a signed release is served with: the parser takes one
// form only, so whatever it accepts is written back byte for byte, and what it
// writes it reads again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/names_and_limits.h"
#include "base/release_statement.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ReleaseStatement statement;
    std::string problem;
    if (!ParseReleaseStatement(text, statement, problem)) {
        FUZZ_CHECK(!problem.empty());
        return 0;
    }
    FUZZ_CHECK(problem.empty());
    FUZZ_CHECK(text.size() <= kLargestReleaseStatement);
    FUZZ_CHECK(StatementFieldProblem(statement).empty());
    FUZZ_CHECK(SerializeReleaseStatement(statement) == text);
    FUZZ_CHECK(!statement.signatures.empty());
    const std::string unsignedText = StatementUnsignedText(statement);
    FUZZ_CHECK(text.compare(0, unsignedText.size(), unsignedText) == 0);
    FUZZ_CHECK(StatementSignedBytes(statement) == kStatementContext + unsignedText);
    if (statement.hasExpiry) {
        int64_t again = -1;
        FUZZ_CHECK(ParseStatementTime(FormatStatementTime(statement.expires), again));
        FUZZ_CHECK(again == statement.expires);
    }
    ReleaseStatement reread;
    FUZZ_CHECK(ParseReleaseStatement(SerializeReleaseStatement(statement), reread, problem));
    FUZZ_CHECK(reread.release == statement.release && reread.listSha256 == statement.listSha256 &&
               reread.signatures.size() == statement.signatures.size());
    return 0;
}
