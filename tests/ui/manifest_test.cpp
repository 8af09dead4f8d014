#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// 64-bit Windows refuses to start an x86-64 program whose manifest declares x86,
// so the shipped executable's manifest must name the architecture it was built for.
TEST(Manifest, NamesTheArchitectureOfTheBuildInBothLanguages) {
#ifdef _WIN64
    const std::string expected = "processorArchitecture=\"amd64\"";
#else
    const std::string expected = "processorArchitecture=\"x86\"";
#endif
    const std::wstring exe = BuildDir() + L"\\Vorlen-Patcher.exe";
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    for (WORD language : {WORD{1033}, WORD{1045}}) {
        HRSRC found = FindResourceExW(module, RT_MANIFEST, MAKEINTRESOURCEW(1), language);
        ASSERT_NE(found, nullptr) << language;
        HGLOBAL loaded = LoadResource(module, found);
        ASSERT_NE(loaded, nullptr) << language;
        const std::string text(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module, found));
        // The patcher's own identity and its Common-Controls dependency.
        size_t named = 0, matching = 0;
        for (size_t at = text.find("processorArchitecture="); at != std::string::npos;
             at = text.find("processorArchitecture=", at + 1)) {
            ++named;
            if (text.compare(at, expected.size(), expected) == 0) ++matching;
        }
        EXPECT_EQ(named, 2u) << language;
        EXPECT_EQ(matching, 2u) << language << ": " << text;
    }
    FreeLibrary(module);
}

}  // namespace
