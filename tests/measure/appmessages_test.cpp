#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <vector>

#include "engine/soundengine.h"
#include "measure/appmessages.h"
#include "measure/tdummy.h"
#include "platform/loopbackcard.h"

namespace sonvera {
namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "appmessages_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

/// Records the application messages it receives, in order.
class Receiver : public QObject {
public:
    std::vector<int> received;
    std::function<void(int)> onMessage;

protected:
    bool event(QEvent* e) override
    {
        if (const int m = AppMessageOf(e)) {
            received.push_back(m);
            if (onMessage) {
                onMessage(m);
            }
            return true;
        }
        return QObject::event(e);
    }
};

/// Runs the event loop until done() or a generous time limit; sleeps between events.
bool RunUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    QElapsedTimer t;
    t.start();
    QTimer tick;  // wakes the loop now and then so the time limit is seen
    tick.start(10);
    while (!done() && t.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

TEST(AppMessages, NumbersCountFromTheFirstPrivateMessage)
{
    EXPECT_EQ(WM_USER, 0x400);
    EXPECT_EQ(WM_SPECTRUM_NEXT, 0x401);
    EXPECT_EQ(WM_SCOPE_NEXT, 0x402);
    EXPECT_EQ(WM_SWEEP_STEP, 0x403);
    EXPECT_EQ(WM_CALIB_NEXT, 0x404);
    EXPECT_EQ(WM_DIAGRAM_OPTIONS, 0x406);
    EXPECT_EQ(MM_WIM_DATA, 0x3C0);
    // Every message lands in Qt's user event range, each on its own type.
    for (int m : {WM_SPECTRUM_NEXT, WM_SCOPE_NEXT, WM_SWEEP_STEP, WM_CALIB_NEXT, WM_DIAGRAM_OPTIONS, MM_WIM_DATA}) {
        EXPECT_GE(AppEventType(m), QEvent::User);
        EXPECT_LE(AppEventType(m), QEvent::MaxUser);
        AppMessageEvent e(m);
        EXPECT_EQ(AppMessageOf(&e), m);
        EXPECT_EQ(e.Message(), m);
    }
    EXPECT_NE(AppEventType(WM_SPECTRUM_NEXT), AppEventType(WM_SCOPE_NEXT));
}

TEST(AppMessages, ForeignEventsCarryNoMessage)
{
    QEvent timer(QEvent::Timer);
    EXPECT_EQ(AppMessageOf(&timer), 0);
    QEvent user(QEvent::User);
    EXPECT_EQ(AppMessageOf(&user), 0);
    EXPECT_EQ(AppMessageOf(nullptr), 0);
}

TEST(AppMessages, PostedMessagesArriveLaterInOrder)
{
    App();
    Receiver r;
    PostAppMessage(&r, WM_SWEEP_STEP);
    PostAppMessage(&r, WM_SPECTRUM_NEXT);
    PostAppMessage(nullptr, WM_SCOPE_NEXT);  // no receiver: nothing happens
    EXPECT_TRUE(r.received.empty());         // posted, not sent
    ASSERT_TRUE(RunUntil([&] { return r.received.size() == 2; }));
    EXPECT_EQ(r.received, (std::vector<int>{WM_SWEEP_STEP, WM_SPECTRUM_NEXT}));
}

class TdummyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        int in = 0, out = 0;
        std::uint32_t formats = 0;
        engine.BuildDeviceReport(in, out, formats);
        ASSERT_EQ(engine.InitSoundEngine(), 0);
    }
    void TearDown() override { engine.ShutdownSoundEngine(); }

    LoopbackCard card{DutConfig{}, LoopbackClock::Instant};
    SoundEngine engine{card};
    Tdummy dummy{engine};
};

TEST_F(TdummyTest, CompletionRunsTheHandlerFromTheEventLoopNotInsideStartCapture)
{
    int calls = 0, count = 0, over = 0;
    std::uint32_t user = 0;
    ASSERT_EQ(engine.StartCapture(1024, 3, [&] {
        ++calls;
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        EXPECT_NE(engine.TakeCapturedBlock(count, over, user), nullptr);
    }), 0);
    EXPECT_EQ(calls, 0);  // the instant card completed already, but only posted
    EXPECT_EQ(dummy.PendingWaveInData(), 1);
    ASSERT_TRUE(RunUntil([&] { return calls == 1; }));
    EXPECT_EQ(count, 2048);
    EXPECT_EQ(user, 3u);
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
}

TEST_F(TdummyTest, MeasurementLoopPostsItsNextBlockAfterTheHandlerReturns)
{
    // A miniature continuous run: the handler takes the block and, while running, posts
    // WM_SPECTRUM_NEXT; that message's handler starts the next capture.
    Receiver mainWindow;
    int blocks = 0;
    bool running = true;
    bool startedInsideHandler = false;
    bool inHandler = false;
    std::function<void()> blockDone = [&] {
        inHandler = true;
        int c = 0, o = 0;
        std::uint32_t u = 0;
        engine.TakeCapturedBlock(c, o, u);
        ++blocks;
        if (blocks == 5) {
            running = false;
        }
        if (running) {
            PostAppMessage(&mainWindow, WM_SPECTRUM_NEXT);
        }
        inHandler = false;
    };
    mainWindow.onMessage = [&](int m) {
        ASSERT_EQ(m, WM_SPECTRUM_NEXT);
        startedInsideHandler = startedInsideHandler || inHandler;
        EXPECT_EQ(engine.StartCapture(512, 0, blockDone), 0);
    };
    ASSERT_EQ(engine.StartCapture(512, 0, blockDone), 0);
    ASSERT_TRUE(RunUntil([&] { return blocks == 5; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(blocks, 5);
    EXPECT_EQ(mainWindow.received.size(), 4u);
    EXPECT_FALSE(startedInsideHandler);
    EXPECT_EQ(card.PostedInData(), 5u);
}

TEST_F(TdummyTest, RealTimeCompletionFromTheCardsThreadReachesTheGuiThread)
{
    LoopbackCard rtCard{DutConfig{}, LoopbackClock::RealTime};
    SoundEngine rtEngine{rtCard};
    Tdummy rtDummy{rtEngine};
    int in = 0, out = 0;
    std::uint32_t formats = 0;
    rtEngine.BuildDeviceReport(in, out, formats);
    ASSERT_EQ(rtEngine.InitSoundEngine(), 0);
    rtEngine.SetOutputVolume(100);
    GeneratorParams p;
    ASSERT_EQ(rtEngine.StartPlayback(1000, -1, p), 0);

    int calls = 0, count = 0;
    bool onGuiThread = false;
    ASSERT_EQ(rtEngine.StartCapture(1024, 0, [&] {
        ++calls;
        onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        int o = 0;
        std::uint32_t u = 0;
        rtEngine.TakeCapturedBlock(count, o, u);
    }), 0);
    ASSERT_TRUE(RunUntil([&] { return calls == 1; }));
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(count, 2048);
    rtEngine.ShutdownSoundEngine();
}

TEST_F(TdummyTest, ShutdownDeliversTheQueuedCompletionBeforeFreeingBuffers)
{
    int calls = 0;
    bool gotData = false;
    ASSERT_EQ(engine.StartCapture(256, 0, [&] {
        ++calls;
        int c = 0, o = 0;
        std::uint32_t u = 0;
        gotData = engine.TakeCapturedBlock(c, o, u) != nullptr;
    }), 0);
    EXPECT_EQ(dummy.PendingWaveInData(), 1);
    engine.ShutdownSoundEngine();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(gotData);
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
    // Nothing arrives afterwards.
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
}

TEST_F(TdummyTest, ACompletionLeftOverFromBeforeAResetIsIgnored)
{
    int calls = 0;
    ASSERT_EQ(engine.StartCapture(256, 0, [&] { ++calls; }), 0);
    // Restart the engine without letting the queued message through.
    engine.SetMessagePort(nullptr);
    engine.ShutdownSoundEngine();
    engine.SetMessagePort(&dummy);
    ASSERT_EQ(engine.InitSoundEngine(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(TdummyTest, ABareBufferDoneMessageWithoutAHeaderIsIgnored)
{
    int calls = 0;
    ASSERT_EQ(engine.StartCapture(256, 0, [&] { ++calls; }), 0);
    // Posted by someone other than the wave layer: no header travels with it.
    PostAppMessage(&dummy, MM_WIM_DATA);
    EXPECT_EQ(dummy.PendingWaveInData(), 1);
    ASSERT_TRUE(RunUntil([&] { return calls == 1; }));
    QCoreApplication::processEvents();
    // Only the real completion reached the handler, and the count of pending ones is right.
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(dummy.PendingWaveInData(), 0);
}

}  // namespace
}  // namespace sonvera
