#include <gtest/gtest.h>

#include "dc/HubCharset.h"
#include "translator/splitChat.h"
#include "translator/stripIRCFormatting.h"
#include "translator/utf8.h"

namespace {

// The pieces as they go out: each behind the tag, the last one of a cut
// message with its marker; each within the limit and valid UTF-8.
std::vector<std::string> split(std::string_view text, const std::string& tag, std::size_t maxBytes,
                               std::size_t maxPieces, std::size_t* cutBytes = nullptr) {
    ChatPieces pieces;
    splitChat(text, tag.size(), maxBytes, maxPieces, pieces);
    std::vector<std::string> lines;
    for (const std::string_view piece : pieces.pieces)
        lines.push_back(tag + std::string(piece));
    if (pieces.cutBytes > 0)
        lines.back() += moreMarker(pieces.cutBytes);
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), maxBytes) << line;
        EXPECT_TRUE(isValidUtf8(line)) << line;
    }
    if (cutBytes)
        *cutBytes = pieces.cutBytes;
    return lines;
}

}  // namespace

TEST(SplitChat, CutsAtTheLastSpaceAndNeverInsideACharacter) {
    EXPECT_EQ(split("aaaa bbbb cccc", "<n> ", 13, 10), (std::vector<std::string>{"<n> aaaa bbbb", "<n> cccc"}));
    // "Ж" is two bytes; a cut after 5 bytes of "ЖЖЖЖ" falls inside the third.
    EXPECT_EQ(split("\xd0\x96\xd0\x96\xd0\x96\xd0\x96", "<n> ", 4 + 5, 10),
              (std::vector<std::string>{"<n> \xd0\x96\xd0\x96", "<n> \xd0\x96\xd0\x96"}));
    std::size_t cut = 1;
    EXPECT_EQ(split(std::string(600, 'x'), "<n> ", 200, 10, &cut).size(), 4u);
    EXPECT_EQ(cut, 0u);
    // A space that would leave most of the line empty is not cut at.
    EXPECT_EQ(split("RUN " + std::string(30, 'x'), "<n> ", 24, 10),
              (std::vector<std::string>{"<n> RUN xxxxxxxxxxxxxxxx", "<n> xxxxxxxxxxxxxx"}));
}

TEST(SplitChat, OnePiecePerLineEmptyLinesSkippedAndTheRestCounted) {
    EXPECT_EQ(split("one\r\ntwo\n\n\rthree\r", "<n> ", 100, 10),
              (std::vector<std::string>{"<n> one", "<n> two", "<n> three"}));
    EXPECT_EQ(split("\r\n \n", "<n> ", 100, 10).size(), 1u);
    EXPECT_TRUE(split("", "<n> ", 100, 10).empty());
    std::string many;
    for (int i = 0; i < 12; ++i)
        many += "line " + std::to_string(i) + "\n";
    std::size_t cut = 0;
    const std::vector<std::string> three = split(many, "<n> ", 40, 3, &cut);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[2], "<n> line 2 ... [56 more bytes]");
    EXPECT_EQ(cut, 56u);
    // Exactly as many lines as allowed: nothing is cut.
    split("a\nb\nc", "<n> ", 40, 3, &cut);
    EXPECT_EQ(cut, 0u);
    // A long last line is cut to make room for the marker.
    EXPECT_EQ(split("a\nb\n" + std::string(60, 'c'), "<n> ", 40, 3, &cut).back(), "<n> cccccccccccccccc ... [44 more bytes]");
    // A budget smaller than one character still moves forward.
    ChatPieces tiny;
    splitChat("\xd0\x96\xd0\x96", 4, 5, 10, tiny);
    EXPECT_EQ(tiny.pieces.size(), 2u);
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
