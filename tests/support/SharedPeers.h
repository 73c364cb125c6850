// The servers the tests build from the project's shared folder (the NMDC
// hubs, Ergo): a test that needs one that is missing skips, unless CI asks
// for them all (BRIVOX_REQUIRE_PEERS), where it fails instead.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

inline bool sharedPeersRequired() { return std::getenv("BRIVOX_REQUIRE_PEERS") != nullptr; }

// In a test's SetUp: skips or fails, saying why, when why is not empty.
#define SKIP_WITHOUT_SHARED_PEER(why)              \
    do {                                           \
        const std::string reason = (why);          \
        if (!reason.empty()) {                     \
            if (sharedPeersRequired())             \
                FAIL() << reason;                  \
            GTEST_SKIP() << reason;                \
        }                                          \
    } while (false)
