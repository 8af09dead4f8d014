#pragma once

#include <cstdint>
#include <string>

// The game folder's record of the highest release a keyed patcher accepted
// (kReleaseStateFileName): the line "release N" and LF. A player who deletes it
// starts again from 0, as on a fresh install.

enum class ReleaseRecord { Missing, Read, Unreadable };

// The recorded number in `release`, 0 unless Read.
ReleaseRecord ReadReleaseRecord(const std::wstring& path, uint64_t& release);

// Writes the record whole or not at all: a temporary file beside it, flushed,
// then moved over it with write-through. False when that fails (a read-only
// folder, a full disk); the old record is then unchanged.
bool WriteReleaseRecord(const std::wstring& path, uint64_t release);
