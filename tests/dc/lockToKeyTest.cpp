#include <gtest/gtest.h>

#include "ScriptedHub.h"
#include "dc/lockToKey.h"

TEST(LockToKey, WorkedExamples) {
    EXPECT_EQ(lockToKey("abc"), std::string("\x56\x30\x10"));
    EXPECT_EQ(lockToKey("aag"), std::string("&/%DCN000%//%DCN096%/"));
    EXPECT_EQ(lockToKey("aag").size(), 21u);
}

TEST(LockToKey, TwoByteLocksUseTheSecondByteForTheFirstKeyByte) {
    // key[0] before the swap is lock[1] ^ 5: 'B' ^ 5 = 0x47 -> 0x74 't'.
    EXPECT_EQ(lockToKey("AB"), std::string("t\x30"));
}

TEST(LockToKey, RepeatedBytesGiveEscapedZeros) {
    const std::string key = lockToKey("zzzz");
    EXPECT_EQ(key.substr(1), "/%DCN000%//%DCN000%//%DCN000%/");
}

TEST(LockToKey, EveryEscapedByteIncludingHighOnes) {
    // Two-byte locks whose first key byte, before the swap, is each value
    // that swaps into one of the six escaped bytes: with two bytes that
    // value is lock[1] ^ 5.
    const std::pair<unsigned char, const char*> cases[] = {
        {0x00, "/%DCN000%/"}, {0x50, "/%DCN005%/"}, {0x42, "/%DCN036%/"},
        {0x06, "/%DCN096%/"}, {0xC7, "/%DCN124%/"}, {0xE7, "/%DCN126%/"},
    };
    for (const auto& [preSwap, escape] : cases) {
        const std::string lock{'x', static_cast<char>(preSwap ^ 0x05)};
        const std::string key = lockToKey(lock);
        EXPECT_EQ(key.substr(0, 10), escape) << static_cast<int>(preSwap);
        EXPECT_EQ(key, referenceKey(lock));
    }
}

TEST(LockToKey, AgreesWithTheHubsOwnComputationOnArbitraryLocks) {
    std::string lock;
    for (int i = 0; i < 256; ++i)
        lock += static_cast<char>((i * 37 + 11) & 0xFF);
    EXPECT_EQ(lockToKey(lock), referenceKey(lock));
    EXPECT_EQ(lockToKey("EXTENDEDPROTOCOL_verlihub"), referenceKey("EXTENDEDPROTOCOL_verlihub"));
}

TEST(LockToKey, KeyWithoutEscapesHasTheLocksLength) {
    EXPECT_EQ(lockToKey("abcdefgh").size(), 8u);
}

TEST(LockToKey, ShortLocksHaveNoKeyAndAreNeverReadOutOfBounds) {
    EXPECT_EQ(lockToKey(""), "");
    EXPECT_EQ(lockToKey("a"), "");
}
