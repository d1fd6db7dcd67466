// When every consumer sends its placeholder and which one: at once and then
// every period without a service or a streaming link before the first live
// frame; otherwise only after the stall time without one; the worker's wait;
// the wrapping tick.
#include <gtest/gtest.h>

#include <string.h>

#include "placeholder_pacing.h"

namespace {

const uint32_t STALL = 1000, PERIOD = 200;

TEST(PlaceholderPacing, AtOnceWithoutALinkThenEveryPeriod)
{
    PlaceholderPacing p;
    PacingStart(p, 5000, STALL, PERIOD);
    EXPECT_EQ(0u, PacingDueInMs(p, 5000, false));
    PacingPlaceholderSent(p, 5000);
    EXPECT_EQ(PERIOD, PacingDueInMs(p, 5000, false));
    EXPECT_EQ(1u, PacingDueInMs(p, 5000 + PERIOD - 1, false));
    EXPECT_EQ(0u, PacingDueInMs(p, 5000 + PERIOD, false));
    PacingPlaceholderSent(p, 5000 + PERIOD);
    EXPECT_EQ(50u, PacingWaitMs(p, 5000 + PERIOD + 150, false));
    EXPECT_EQ(1u, PacingWaitMs(p, 5000 + 2 * PERIOD, false));   // due: look again, no spin
}

TEST(PlaceholderPacing, AStreamingLinkGetsTheStallTimeAfterEachLiveFrame)
{
    PlaceholderPacing p;
    PacingStart(p, 5000, STALL, PERIOD);
    EXPECT_EQ(STALL, PacingDueInMs(p, 5000, true));   // the first frame has the whole stall time
    PacingLiveSent(p, 5400);
    for (uint32_t t = 5400; t < 5400 + STALL; t += 33)
        EXPECT_NE(0u, PacingDueInMs(p, t, true)) << t;
    EXPECT_EQ(0u, PacingDueInMs(p, 5400 + STALL, true));   // the phone stalled
    PacingPlaceholderSent(p, 6400);
    EXPECT_EQ(150u, PacingDueInMs(p, 6450, true));
    EXPECT_EQ(0u, PacingDueInMs(p, 6600, true));
    // A live frame ends the placeholders at once and starts the stall time again.
    PacingLiveSent(p, 6500);
    EXPECT_EQ(STALL, PacingDueInMs(p, 6500, true));
}

TEST(PlaceholderPacing, ALinkLostBeforeTheFirstFrameIsNoticedWithinAPeriod)
{
    PlaceholderPacing p;
    PacingStart(p, 0, STALL, PERIOD);
    EXPECT_EQ(PERIOD, PacingWaitMs(p, 0, true));   // not the whole stall time
    EXPECT_EQ(0u, PacingDueInMs(p, 150, false));
    // After live frames a lost link is bridged for the stall time: the
    // service links again when a reader asks for another size.
    PacingLiveSent(p, 300);
    EXPECT_EQ(STALL - 50, PacingDueInMs(p, 350, false));
    EXPECT_EQ(0u, PacingDueInMs(p, 300 + STALL, false));
    // Properties may change the times between calls.
    p.stallMs = 3000;
    EXPECT_EQ(2000u, PacingDueInMs(p, 1300, true));
}

TEST(PlaceholderPacing, SurvivesTheTickWrap)
{
    PlaceholderPacing p;
    PacingStart(p, 0xFFFFFF00u, STALL, PERIOD);
    PacingLiveSent(p, 0xFFFFFFF0u);
    EXPECT_NE(0u, PacingDueInMs(p, 0x100u, true));   // 272 ms later, across the wrap
    EXPECT_EQ(0u, PacingDueInMs(p, 0xFFFFFFF0u + STALL, true));
    PacingPlaceholderSent(p, 0xFFFFFFF0u + STALL);
    EXPECT_EQ(PERIOD, PacingWaitMs(p, 0xFFFFFFF0u + STALL, true));
}

TEST(PlaceholderPacing, KindFollowsServiceAndLink)
{
    EXPECT_EQ(PLACEHOLDER_NO_SERVICE, PlaceholderKindFor(false, false));
    EXPECT_EQ(PLACEHOLDER_NO_PHONE, PlaceholderKindFor(true, false));
    EXPECT_EQ(PLACEHOLDER_NO_PICTURE, PlaceholderKindFor(true, true));
    EXPECT_STREQ("no-service", PlaceholderKindName(PLACEHOLDER_NO_SERVICE));
    EXPECT_STREQ("no-phone", PlaceholderKindName(PLACEHOLDER_NO_PHONE));
    EXPECT_STREQ("no-picture", PlaceholderKindName(PLACEHOLDER_NO_PICTURE));
    EXPECT_STREQ("", PlaceholderKindName(PLACEHOLDER_KIND_COUNT));
}

}  // namespace
