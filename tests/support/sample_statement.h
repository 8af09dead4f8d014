#pragma once

#include <string>

// A release statement with every optional line, and a signature line over it
// made with openssl by the test publisher key whose id it names (its point is in
// tests/engine/release_signature_test.cpp).
inline const std::string kSampleUnsignedStatement =
    "vorlen-release 1\n"
    "release 42\n"
    "expires 2026-12-31T23:59:59Z\n"
    "list-sha256 d9d03c76f532568ffde9f446568db8e1d18fb2b40c7559b1c114e0a89d71db32\n"
    "list-size 41\n"
    "patcher-version 1.0.6.0\n"
    "patcher-sha256 9b8db510ef42b8ed54a3712636fda55a4f8cfcd5493e20b74ab00cd4f3979f2d\n"
    "patcher-size 2\n";
inline const std::string kSampleSignatureLine =
    "signature fe2992a81a456411 VCQiv7ubjevRkz4N1uCprug0NhXDDaYkJ7BiAlO4EHhdQ5W7p0+1oWkriFoQkrqXAuFefusMq5FPLnpWlW4Cjw==\n";
