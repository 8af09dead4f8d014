#pragma once

// The files the tool keeps for itself in the server folder. They share one
// prefix, which the shipped nginx configuration never serves and no game file
// may carry.
constexpr char kToolFilePrefix[] = ".vorlen-publish-";
// What the tool placed in the folder (publish_record.h).
constexpr char kPublishRecordName[] = ".vorlen-publish-state";
// Held by the publish that runs (publish_lock.h).
constexpr char kPublishLockName[] = ".vorlen-publish-lock";
// A file being written: the prefix, random hex digits, this suffix.
constexpr char kStagingSuffix[] = ".part";
