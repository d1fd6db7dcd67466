// Status reports of the service host and the run loop's two signals.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "service_host.h"
#include "service_platform.h"
#include "service_signals.h"
#include "socket_step_pace.h"

namespace {

struct Report {
    uint32_t state;
    uint32_t checkPoint;
    uint32_t waitHint;
    uint32_t accepted;
};

std::vector<Report> ReportsFrom(uint32_t first)
{
    std::vector<Report> out;
    ServiceStatusRecord r;
    for (uint32_t i = first; ServiceStatusReportAt(i, r); ++i)
        out.push_back({r.currentState, r.checkPoint, r.waitHint, r.controlsAccepted});
    return out;
}

// The whole life of one service in one test: the checkpoint counter belongs to
// the process and is never reset.
TEST(ServiceHostTest, StartAndStopReportTheCheckpointSequence)
{
    ASSERT_EQ(ServiceStatusReportCount(), 0u);
    ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 3000);
    ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0);
    ServiceCtrlHandler(4);  // interrogate: ignored, no report
    ServiceCtrlHandler(5);  // shutdown: ignored as well
    ServiceCtrlHandler(SERVICE_CONTROL_CODE_STOP);
    ReportServiceStatus(SERVICE_STATE_STOPPED, 0, 0);

    std::vector<Report> got = ReportsFrom(0);
    ASSERT_EQ(got.size(), 5u);
    const Report want[] = {
        {SERVICE_STATE_START_PENDING, 1, 3000, 0},
        {SERVICE_STATE_RUNNING,       0, 0,    1},
        {SERVICE_STATE_STOP_PENDING,  2, 0,    1},
        {SERVICE_STATE_STOP_PENDING,  3, 0,    1},
        {SERVICE_STATE_STOPPED,       0, 0,    1},
    };
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].state, want[i].state) << i;
        EXPECT_EQ(got[i].checkPoint, want[i].checkPoint) << i;
        EXPECT_EQ(got[i].waitHint, want[i].waitHint) << i;
        EXPECT_EQ(got[i].accepted, want[i].accepted) << i;
    }

    // A stop after STOPPED repeats STOPPED; later pending reports continue
    // the count.
    ServiceCtrlHandler(SERVICE_CONTROL_CODE_STOP);
    ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 3000);
    got = ReportsFrom(5);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].state, SERVICE_STATE_STOP_PENDING);
    EXPECT_EQ(got[0].checkPoint, 4u);
    EXPECT_EQ(got[1].state, SERVICE_STATE_STOP_PENDING);
    EXPECT_EQ(got[1].checkPoint, 5u);
    EXPECT_EQ(got[2].checkPoint, 6u);
}

TEST(ServiceSignalsTest, StopWinsOverAPendingTimerExpiry)
{
    CStopEvent stop;
    CServiceTimer timer;
    ASSERT_TRUE(stop.Create());
    ASSERT_TRUE(timer.Create());
    timer.Arm(-10000);  // 1 ms
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 1);
    // Manual reset: the expiry stays signalled until the timer is re-armed.
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 1);
    stop.Set();
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 0);
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 0);
}

TEST(ServiceSignalsTest, ReArmingClearsTheExpiry)
{
    CStopEvent stop;
    CServiceTimer timer;
    ASSERT_TRUE(stop.Create());
    ASSERT_TRUE(timer.Create());
    timer.Arm(-10000);
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 1);
    timer.Arm(-100000000);  // 10 s: no longer signalled
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Set();
    });
    EXPECT_EQ(WaitForServiceWork(stop, timer, NULL, WAIT_FOREVER), 0);
    stopper.join();
}

// The socket's steps: a burst of them at once, then one a millisecond,
// whatever the clock's steps; the credit comes back with time and never
// grows past a burst.
TEST(ServiceSignalsTest, SocketStepsComeInBurstsThenOneAMillisecond)
{
    SocketStepPace pace;
    uint64_t now = 5000000;
    StartSocketStepPace(pace, now);
    for (uint32_t i = 0; i < SOCKET_STEP_BURST; ++i) {
        EXPECT_EQ(0u, SocketStepDelayMs(pace, now));
        ChargeSocketStep(pace, now);
    }
    EXPECT_EQ(1u, SocketStepDelayMs(pace, now));
    EXPECT_EQ(1u, SocketStepDelayMs(pace, now + 999));
    EXPECT_EQ(0u, SocketStepDelayMs(pace, now + 1000));
    ChargeSocketStep(pace, now + 1000);
    EXPECT_EQ(1u, SocketStepDelayMs(pace, now + 1001));

    // A flood: a second of steps taken as soon as allowed comes to one a
    // millisecond plus the burst.
    uint32_t steps = 0;
    for (now += 1000; now < 6001000; now += 100) {
        if (SocketStepDelayMs(pace, now) == 0) {
            ChargeSocketStep(pace, now);
            ++steps;
        }
    }
    EXPECT_GE(steps, 999u);
    EXPECT_LE(steps, 1000u + SOCKET_STEP_BURST);

    // A long quiet time banks one burst, no more; a clock that goes back
    // banks nothing.
    now += 60000000;
    for (uint32_t i = 0; i < SOCKET_STEP_BURST; ++i)
        ChargeSocketStep(pace, now);
    EXPECT_EQ(1u, SocketStepDelayMs(pace, now));
    EXPECT_EQ(1u, SocketStepDelayMs(pace, now - 500000));
}

}  // namespace
