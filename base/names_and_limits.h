#pragma once

#include <cstddef>
#include <cstdint>

// What the patcher and the publishing tool must agree on: the files a release
// puts on the server besides the game files, the names the patcher keeps in the
// game folder, and the limits it reads the server's files with.

// An ASCII name from one literal, both as bytes (the publishing tool's UTF-8)
// and as a wide string (the patcher's paths and URLs).
template <size_t Size>
struct AsciiName {
    constexpr AsciiName(const char (&text)[Size]) : utf8(), wide() {
        for (size_t i = 0; i < Size; ++i) {
            utf8[i] = text[i];
            wide[i] = static_cast<wchar_t>(text[i]);
        }
    }
    char utf8[Size];
    wchar_t wide[Size];
};

// Fetched from below the server's base URL, besides the listed game files.
constexpr AsciiName kPatchListName("patchlist.txt");
constexpr AsciiName kVersionFileName("patcher_version.txt");
constexpr AsciiName kPatcherExeName("Vorlen-Patcher.exe");
// A signed release's statement (base/release_statement.h) is served under the
// list's name plus this.
constexpr AsciiName kSignatureSuffix(".sig");

// Written in the game folder: the log, a game file's download (its path plus
// the suffix) and the new patcher (its own path plus the suffix).
constexpr AsciiName kLogFileName("patcher.log");
constexpr AsciiName kDownloadSuffix(".tmp");
constexpr AsciiName kNewPatcherSuffix(".new");
// A patcher that checks signed releases keeps here the highest release number
// it has accepted, so that an older signed release cannot be served to it again.
// A patch list may not name it, nor any name that begins with it (the patcher
// writes it through a temporary file of its name plus kDownloadSuffix).
constexpr AsciiName kReleaseStateFileName("vorlen-release.dat");

// The patcher reads the patch list and the version file into memory and
// refuses either beyond this size.
constexpr size_t kLargestServerText = 16u * 1024u * 1024u;
// A release statement is a few hundred bytes; neither the patcher nor the
// publishing tool takes one beyond this size.
constexpr size_t kLargestReleaseStatement = 4096u;

// A list's size field is an unsigned 32-bit number: a listed file is smaller
// than 4 GiB.
constexpr uint64_t kLargestListedSize = 0xFFFFFFFFull;
