#include <gtest/gtest.h>

#include "net/ByteBuffer.h"

TEST(ByteBuffer, ConsumesFromTheFrontAndFindsTerminators) {
    ByteBuffer buffer;
    buffer.append("one|two|thr");
    EXPECT_EQ(buffer.findTerminator("|"), 3u);
    buffer.consume(4);
    EXPECT_EQ(buffer.view(), "two|thr");
    EXPECT_EQ(buffer.findTerminator("|"), 3u);
    buffer.consume(4);
    EXPECT_EQ(buffer.findTerminator("|"), ByteBuffer::npos);
    buffer.append("ee|");
    EXPECT_EQ(buffer.findTerminator("|"), 5u);
    buffer.consume(6);
    EXPECT_TRUE(buffer.empty());
}

TEST(ByteBuffer, FindsATwoByteTerminatorSplitAcrossAppends) {
    ByteBuffer buffer;
    buffer.append("line\r");
    EXPECT_EQ(buffer.findTerminator("\r\n"), ByteBuffer::npos);
    buffer.append("\nnext");
    EXPECT_EQ(buffer.findTerminator("\r\n"), 4u);
}

TEST(ByteBuffer, KeepsItsContentAcrossCompaction) {
    ByteBuffer buffer;
    std::string expected;
    for (int i = 0; i < 50000; ++i)
        buffer.append("message " + std::to_string(i) + "|");
    for (int i = 0; i < 50000; ++i) {
        const std::size_t end = buffer.findTerminator("|");
        ASSERT_NE(end, ByteBuffer::npos);
        ASSERT_EQ(std::string(buffer.view().substr(0, end)), "message " + std::to_string(i));
        buffer.consume(end + 1);
        if (i == 30000)
            buffer.append("tail|");
    }
    EXPECT_EQ(buffer.view(), "tail|");
}

TEST(ByteBuffer, HoldsNulBytes) {
    ByteBuffer buffer;
    buffer.append(std::string("a\0b|", 4));
    EXPECT_EQ(buffer.findTerminator("|"), 3u);
    EXPECT_EQ(buffer.view().substr(0, 3), std::string_view("a\0b", 3));
}
