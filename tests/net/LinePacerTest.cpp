#include <gtest/gtest.h>

#include "net/ChatClient.h"
#include "net/LinePacer.h"

namespace {

using namespace std::chrono_literals;
const LinePacer::Clock::time_point t0 = LinePacer::Clock::time_point{} + 1h;

// Lines popReady gives at time now, until it gives none.
std::vector<std::string> ready(LinePacer& pacer, LinePacer::Clock::time_point now) {
    std::vector<std::string> lines;
    std::string line;
    while (pacer.popReady(now, line))
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST(LinePacer, ABurstGoesAtOnceThenOneLinePerInterval) {
    LinePacer pacer;
    pacer.setLimits(3, 2000ms);
    for (int i = 0; i < 6; ++i)
        pacer.push("line " + std::to_string(i));
    EXPECT_EQ(ready(pacer, t0), (std::vector<std::string>{"line 0", "line 1", "line 2"}));
    EXPECT_EQ(ready(pacer, t0 + 1999ms).size(), 0u);
    EXPECT_EQ(ready(pacer, t0 + 2000ms), std::vector<std::string>{"line 3"});
    EXPECT_EQ(ready(pacer, t0 + 6000ms), (std::vector<std::string>{"line 4", "line 5"}));
    EXPECT_FALSE(pacer.nextReadyIn(t0 + 6000ms).has_value());
}

TEST(LinePacer, TheAllowanceRefillsOnlyUpToTheBurst) {
    LinePacer pacer;
    pacer.setLimits(2, 1000ms);
    pacer.push("a");
    EXPECT_EQ(ready(pacer, t0).size(), 1u);
    for (int i = 0; i < 5; ++i)
        pacer.push("b");
    EXPECT_EQ(ready(pacer, t0 + 1h).size(), 2u);
}

TEST(LinePacer, LongLinesCostMore) {
    LinePacer pacer;
    pacer.setLimits(4, 1000ms);
    pacer.chargeBySize(510);
    EXPECT_EQ(pacer.cost(std::string(255, 'x')), 1.0);
    EXPECT_EQ(pacer.cost(std::string(256, 'x')), 2.0);
    // What the framing cuts off never reaches the server.
    EXPECT_EQ(pacer.cost(std::string(5000, 'x')), 2.0);
    pacer.push(std::string(300, 'a'));
    pacer.push(std::string(300, 'b'));
    pacer.push("short");
    EXPECT_EQ(ready(pacer, t0).size(), 2u);
    EXPECT_EQ(ready(pacer, t0 + 999ms).size(), 0u);
    EXPECT_EQ(ready(pacer, t0 + 1000ms), std::vector<std::string>{"short"});
}

TEST(LinePacer, ALineDearerThanTheWholeBurstStillGoes) {
    LinePacer pacer;
    pacer.setLimits(1, 1000ms);
    pacer.push(std::string(400, 'x'));
    pacer.push(std::string(400, 'y'));
    EXPECT_EQ(ready(pacer, t0).size(), 1u);
    EXPECT_EQ(ready(pacer, t0 + 1000ms).size(), 0u);
    EXPECT_EQ(ready(pacer, t0 + 2000ms).size(), 1u);
}

TEST(LinePacer, TellsWhenTheNextLineMayGo) {
    LinePacer pacer;
    pacer.setLimits(1, 2000ms);
    EXPECT_FALSE(pacer.nextReadyIn(t0).has_value());
    pacer.push("a");
    pacer.push("b");
    EXPECT_EQ(*pacer.nextReadyIn(t0), LinePacer::Clock::duration::zero());
    ready(pacer, t0);
    const auto wait = *pacer.nextReadyIn(t0 + 500ms);
    EXPECT_GE(wait, 1500ms);
    EXPECT_LT(wait, 1501ms);
    EXPECT_TRUE(ready(pacer, t0 + 500ms + wait).size() == 1);
}

TEST(LinePacer, KeepsOrderAndDropsTheOldestPastTheLineBound) {
    LinePacer pacer;
    pacer.setLimits(5, 1000ms);
    for (std::size_t i = 0; i < LinePacer::kMaxQueuedLines + 100; ++i)
        pacer.push(std::to_string(i));
    EXPECT_EQ(pacer.queuedLines(), LinePacer::kMaxQueuedLines);
    EXPECT_EQ(pacer.takeDropped(), 100u);
    EXPECT_EQ(pacer.takeDropped(), 0u);
    std::string first;
    ASSERT_TRUE(pacer.popReady(t0, first));
    EXPECT_EQ(first, "100");
}

TEST(LinePacer, DropsTheOldestPastTheByteBound) {
    LinePacer pacer;
    pacer.setLimits(5, 1000ms);
    const std::size_t lines = LinePacer::kMaxQueuedBytes / 500 + 10;
    for (std::size_t i = 0; i < lines; ++i)
        pacer.push(std::string(500, 'x'));
    EXPECT_LE(pacer.queuedLines() * 500, LinePacer::kMaxQueuedBytes);
    EXPECT_EQ(pacer.takeDropped(), lines - pacer.queuedLines());
}

// A line that waited past its age is history, not conversation.
TEST(LinePacer, LinesOlderThanTheirAgeAreDroppedAndCounted) {
    LinePacer pacer;
    pacer.setLimits(1, 1000ms, 60s);
    pacer.push("first", t0);
    pacer.push("stale", t0);
    pacer.push("fresh", t0 + 30s);
    EXPECT_EQ(ready(pacer, t0), std::vector<std::string>{"first"});
    EXPECT_EQ(ready(pacer, t0 + 61s), std::vector<std::string>{"fresh"});
    EXPECT_EQ(pacer.takeExpired(), 1u);
    EXPECT_EQ(pacer.takeExpired(), 0u);
}

// A hub counts messages: what waited goes out as one, up to the bounds on
// weight and lines, whatever its size; a line that alone is heavier still
// goes.
TEST(LinePacer, LinesThatWaitedGoOutJoinedAsOneMessage) {
    LinePacer pacer;
    pacer.chargePerMessage();
    pacer.setLimits(1, 3000ms);
    pacer.push("first", t0);
    std::string batch;
    ASSERT_TRUE(pacer.popBatch(t0, 20, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "first");
    const std::vector<std::string> waiting = {"two", "three", "four", std::string(300, 'x'), "six", "7", "8", "9"};
    for (const std::string& line : waiting)
        pacer.push(line, t0);
    EXPECT_FALSE(pacer.popBatch(t0 + 2999ms, 20, 5, "\n", 1, batch));
    ASSERT_TRUE(pacer.popBatch(t0 + 3000ms, 20, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "two\nthree\nfour");
    ASSERT_TRUE(pacer.popBatch(t0 + 6000ms, 20, 5, "\n", 1, batch));
    EXPECT_EQ(batch.size(), 300u);
    ASSERT_TRUE(pacer.popBatch(t0 + 9000ms, 20, 2, "\n", 1, batch));
    EXPECT_EQ(batch, "six\n7");
    // A line weighs what its escapes make of it on the wire.
    pacer.push("$$$$", t0, 0, 20);
    ASSERT_TRUE(pacer.popBatch(t0 + 12000ms, 20, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "8\n9");
    ASSERT_TRUE(pacer.popBatch(t0 + 15000ms, 20, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "$$$$");
}

// Chat goes before answers and notices queued earlier, which wait for a
// moment no chat waits.
TEST(LinePacer, ChatGoesFirst) {
    LinePacer pacer;
    pacer.chargePerMessage();
    pacer.setLimits(1, 3000ms);
    pacer.push("answer", t0, ChatClient::kAnswerLine);
    pacer.push("notice", t0, ChatClient::kNoticeLine);
    pacer.push("chat 1", t0);
    pacer.push("chat 2", t0);
    std::string batch;
    ASSERT_TRUE(pacer.popBatch(t0, 256, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "chat 1\nchat 2");
    ASSERT_TRUE(pacer.popBatch(t0 + 3000ms, 256, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "answer");
    EXPECT_EQ(pacer.poppedKind(), ChatClient::kAnswerLine);
    pacer.push("chat 3", t0 + 4000ms);
    ASSERT_TRUE(pacer.popBatch(t0 + 6000ms, 256, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "chat 3");
    ASSERT_TRUE(pacer.popBatch(t0 + 9000ms, 256, 5, "\n", 1, batch));
    EXPECT_EQ(batch, "notice");
}
