#include <gtest/gtest.h>

#include "translator/HubCharset.h"
#include "translator/splitChat.h"
#include "translator/stripIRCFormatting.h"
#include "translator/utf8.h"

namespace {

// Every piece within the limit, begun with the tag and valid UTF-8.
void expectWellFormed(const ChatPieces& split, const std::string& tag, std::size_t maxBytes) {
    for (const std::string& piece : split.pieces) {
        EXPECT_LE(piece.size(), maxBytes) << piece;
        EXPECT_EQ(piece.compare(0, tag.size(), tag), 0) << piece;
        EXPECT_TRUE(isValidUtf8(piece)) << piece;
    }
}

}  // namespace

TEST(SplitChat, CutsAtTheLastSpaceAndNeverInsideACharacter) {
    const ChatPieces words = splitChat("aaaa bbbb cccc", "<n> ", 13, 10);
    EXPECT_EQ(words.pieces, (std::vector<std::string>{"<n> aaaa bbbb", "<n> cccc"}));
    // "Ж" is two bytes; a cut after 5 bytes of "ЖЖЖЖ" falls inside the third.
    const ChatPieces wide = splitChat("\xd0\x96\xd0\x96\xd0\x96\xd0\x96", "<n> ", 4 + 5, 10);
    EXPECT_EQ(wide.pieces, (std::vector<std::string>{"<n> \xd0\x96\xd0\x96", "<n> \xd0\x96\xd0\x96"}));
    const std::string word(600, 'x');
    const ChatPieces longWord = splitChat(word, "<n> ", 200, 10);
    ASSERT_EQ(longWord.pieces.size(), 4u);
    expectWellFormed(longWord, "<n> ", 200);
    EXPECT_EQ(longWord.cutBytes, 0u);
}

TEST(SplitChat, OnePiecePerLineEmptyLinesSkippedAndTheRestCounted) {
    EXPECT_EQ(splitChat("one\r\ntwo\n\n\rthree\r", "<n> ", 100, 10).pieces,
              (std::vector<std::string>{"<n> one", "<n> two", "<n> three"}));
    EXPECT_TRUE(splitChat("\r\n \n", "<n> ", 100, 10).pieces.size() == 1);
    EXPECT_TRUE(splitChat("", "<n> ", 100, 10).pieces.empty());
    std::string many;
    for (int i = 0; i < 12; ++i)
        many += "line " + std::to_string(i) + "\n";
    const ChatPieces cut = splitChat(many, "<n> ", 40, 3);
    ASSERT_EQ(cut.pieces.size(), 3u);
    EXPECT_EQ(cut.pieces[2], "<n> line 2 ... [56 more bytes]");
    EXPECT_EQ(cut.cutBytes, 56u);
    expectWellFormed(cut, "<n> ", 40);
    // Exactly as many lines as allowed: nothing is cut.
    EXPECT_EQ(splitChat("a\nb\nc", "<n> ", 40, 3).cutBytes, 0u);
    // A budget smaller than one character still moves forward.
    EXPECT_EQ(splitChat("\xd0\x96\xd0\x96", "<n> ", 5, 10).pieces.size(), 2u);
}

TEST(StripIRCFormatting, RemovesEveryCodeAndTheColourNumbersWithIt) {
    EXPECT_EQ(stripIRCFormatting("\x02" "b\x1D" "i\x1F" "u\x1E" "s\x11" "m\x16" "r\x0F" "x"), "biusmrx");
    EXPECT_EQ(stripIRCFormatting("\x03" "4red \x03" "04,12both \x03" "off"), "red both off");
    EXPECT_EQ(stripIRCFormatting("\x03" "123 keeps the third digit"), "3 keeps the third digit");
    EXPECT_EQ(stripIRCFormatting("\x03" "4,text comma stays"), ",text comma stays");
    EXPECT_EQ(stripIRCFormatting("\x04" "FF0000,00ff00hex \x04" "off"), "hex off");
    EXPECT_EQ(stripIRCFormatting("at the end \x03"), "at the end ");
    EXPECT_EQ(stripIRCFormatting("at the end \x03" "12,"), "at the end ,");
    EXPECT_EQ(stripIRCFormatting("\x01" "ACTION\x07 bell stays"), "\x01" "ACTION\x07 bell stays");
}

TEST(Utf8, InvalidSequencesOfEveryKindAreRecognised) {
    EXPECT_TRUE(isValidUtf8("plain caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
    for (const char* bad : {"\x80", "caf\xe9", "\xc3", "\xe2\x82", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                            "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xc3\xc3", "\xff"})
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
    EXPECT_EQ(utf8Prefix("a\xd0\x96", 2), "a");
    EXPECT_EQ(utf8CharacterLength("\xf0\x9f\x98\x80x"), 4u);
    EXPECT_EQ(utf8CharacterLength("\x80x"), 1u);
}

TEST(HubCharset, UnknownSetsAreRefusedAndUnreadableBytesBecomeQuestionMarks) {
    EXPECT_TRUE(HubCharset::isKnown("KOI8-R"));
    EXPECT_FALSE(HubCharset::isKnown("no-such-set"));
    HubCharset charset;
    ASSERT_TRUE(charset.setCharset("CP1252"));
    // 0x81 has no character in CP1252.
    EXPECT_EQ(charset.toUtf8("a\x81" "b"), "a?b");
    EXPECT_EQ(charset.toHub("\xd0\x96 \xe2\x82\xac"), "? \x80");
    ASSERT_TRUE(charset.setCharset("utf8"));
    EXPECT_EQ(charset.toHub("\xd0\x96"), "\xd0\x96");
}
