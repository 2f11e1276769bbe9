// LED meters and the meter thread's tick rules, ticked by hand on a thread that is paused.
#include <QtTest>
#include <thread>

#include "ui/LedMeter.h"
#include "ui/MeterThread.h"

namespace {
// The window's meter: 20 bar LEDs and the overload LED, vertical.
struct CMeter : CLedMeter {
    CMeter() {
        resize(18, 195);
        SetLedCount(20);
    }
};

// Two meters fed from `levels` (written by the test, read by the worker).
struct Rig {
    CMeter meter[2];
    struct {
        std::atomic<int> level{-100}, peak{-100}, overload{0};
    } levels[2];
    std::atomic<int> calls{0};
    CMeterThread thread;
    Rig(int intervalMs, int peakHoldMs, bool runBeforeStart = false) {
        for (CMeter& m : meter) thread.AddMeter(&m);
        if (runBeforeStart) thread.SetRunning(true);  // nothing to run yet: ignored
        thread.Start(
            [this](int m, int* l, int* p, int* o) {
                ++calls;
                *l = levels[m].level;
                *p = levels[m].peak;
                *o = levels[m].overload;
            },
            20, 40, intervalMs, 300, peakHoldMs);
    }
};

// The lit LEDs as runs, e.g. "0-5 15 20".
QString Lit(const CLedMeter& meter) {
    QStringList runs;
    for (int i = 0; i < meter.GetLedCount(); ++i) {
        if (!meter.IsLedLit(i)) continue;
        int last = i;
        while (last + 1 < meter.GetLedCount() && meter.IsLedLit(last + 1)) ++last;
        runs.append(last == i ? QString::number(i) : QStringLiteral("%1-%2").arg(i).arg(last));
        i = last;
    }
    return runs.join(' ');
}

constexpr int kAnyPeak = 1;
struct Step {
    int level, peak, overload;
    const char* lit;  // on the left meter; the right one, fed nothing, stays dark
    int heldPeak = kAnyPeak;
};

void Run(Rig& rig, const std::vector<Step>& steps) {
    int tick = 0;
    for (const Step& s : steps) {
        rig.levels[0].level = s.level;
        rig.levels[0].peak = s.peak;
        rig.levels[0].overload = s.overload;
        rig.thread.Tick();
        ++tick;
        const int held = s.heldPeak == kAnyPeak ? kAnyPeak : rig.thread.GetHeldPeak(0);
        const QString format = QStringLiteral("tick %1 (%2 dB): lit %3 | held %4 | right %5");
        QCOMPARE(
            format.arg(tick).arg(s.level).arg(Lit(rig.meter[0])).arg(held).arg(Lit(rig.meter[1])),
            format.arg(tick).arg(s.level).arg(s.lit).arg(s.heldPeak).arg(QString()));
    }
}
}  // namespace

class LedMeterTest : public QObject {
    Q_OBJECT

private slots:
    // Bar LEDs touch in order from the bottom (or the left); the overload LED sits apart at the
    // far end; every LED lies inside the control.
    void layoutVerticalAndHorizontal() {
        CMeter meter;
        QCOMPARE(meter.GetLedCount(), 21);
        QVERIFY(meter.IsVertical());
        QVERIFY(meter.HasImage());
        QCOMPARE(meter.GetLedRect(0).bottom(), 194);
        for (int i = 1; i < 20; ++i)
            QCOMPARE(meter.GetLedRect(i),
                     meter.GetLedRect(i - 1).translated(0, -meter.GetLedRect(0).height()));
        QCOMPARE(meter.GetLedRect(20).top(), 0);
        QVERIFY(meter.GetLedRect(20).bottom() < meter.GetLedRect(19).top());

        meter.resize(120, 12);
        meter.SetLedCount(10);
        QVERIFY(!meter.IsVertical());
        QCOMPARE(meter.GetLedRect(0).topLeft(), QPoint(0, 0));
        QCOMPARE(meter.GetLedRect(9).left(), 9 * meter.GetLedRect(0).width());
        QCOMPARE(meter.GetLedRect(10).right(), 119);
        QVERIFY(meter.GetLedRect(10).left() > meter.GetLedRect(9).right());
        for (int i = 0; i <= 10; ++i) QVERIFY(meter.rect().contains(meter.GetLedRect(i)));
        meter.resize(30, 30);  // square counts as horizontal
        meter.SetLedCount(3);
        QVERIFY(!meter.IsVertical());
    }

    void coloursGlintAndIgnoredInput() {
        CMeter meter;
        // Bands: 0-9 green, 10-19 yellow, 20 red.
        QCOMPARE(meter.GetLitColour(9), QColor(0, 255, 0));
        QCOMPARE(meter.GetDarkColour(10), QColor(128, 128, 0));
        QCOMPARE(meter.GetLitColour(19), QColor(255, 255, 0));
        QCOMPARE(meter.GetLitColour(20), QColor(255, 0, 0));
        meter.SetLed(5, true);
        meter.SetLedCount(0);
        meter.SetLedCount(-3);
        meter.SetLed(21, true);
        meter.SetLed(-1, true);
        QCOMPARE(meter.GetLedCount(), 21);
        QCOMPARE(Lit(meter), QStringLiteral("5"));
        // A dark LED's glint pixel shows the lit colour, a lit LED's is white.
        meter.SetLed(0, true);
        QCoreApplication::processEvents();
        const QImage shot = meter.grab().toImage();
        const QRect lit = meter.GetLedRect(0).adjusted(2, 2, -2, -2);
        const QRect dark = meter.GetLedRect(1).adjusted(2, 2, -2, -2);
        QCOMPARE(shot.pixelColor(lit.topLeft()), QColor(255, 255, 255));
        QCOMPARE(shot.pixelColor(lit.center()), QColor(0, 255, 0));
        QCOMPARE(shot.pixelColor(dark.topLeft() + QPoint(0, 1)), QColor(0, 255, 0));
        QCOMPARE(shot.pixelColor(dark.center()), QColor(0, 102, 0));
    }

    // Level lights LEDs 0..20*level/40+20 (truncated); the peak mark far below shows nothing.
    void lightingRule() {
        Rig rig(150, 1);
        const std::vector<Step> steps = {
            {0, -100, 0, "0-19"},  {6, -100, 0, "0-19"},   {-3, -100, 0, "0-19"},
            {-4, -100, 0, "0-18"}, {-21, -100, 0, "0-10"}, {-23, -100, 0, "0-9"},
            {-41, -100, 0, "0"},   {-42, -100, 0, ""},     {-100, -100, 0, ""}};
        Run(rig, steps);
    }

    // 300 ms at 150 ms a tick: the overload LED stays two ticks after the last clip, and a new
    // clip while held restarts the hold.
    void overloadHold() {
        Rig rig(150, 1);
        const std::vector<Step> steps = {{-100, -100, 7, "20"}, {-100, -100, 0, "20"},
                                         {-100, -100, 0, "20"}, {-100, -100, 0, ""},
                                         {-100, -100, 1, "20"}, {-100, -100, 0, "20"},
                                         {-100, -100, 1, "20"}, {-100, -100, 0, "20"},
                                         {-100, -100, 0, "20"}, {-100, -100, 0, ""}};
        Run(rig, steps);
        rig.levels[1].overload = 1;  // the right meter is asked for its own levels
        rig.thread.Tick();
        QCOMPARE(Lit(rig.meter[0]) + "|" + Lit(rig.meter[1]), QStringLiteral("|20"));
    }

    // No hold: the mark falls 1 dB a tick from the next tick on; from -2 dB up it would fall
    // past the top LED, so it stays on it. With a hold of two ticks it waits before it falls.
    void fallingPeak() {
        Rig rig(150, 1);
        QCOMPARE(rig.thread.GetHeldPeak(0), -9999);
        const std::vector<Step> falling = {
            {-100, -6, 0, "17", -6},     {-30, -10, 0, "0-5 17", -7},  {-30, -10, 0, "0-5 16", -8},
            {-30, -10, 0, "0-5 16", -9}, {-30, -10, 0, "0-5 15", -10}, {-30, -10, 0, "0-5 15", -11},
            {-30, -2, 0, "0-5 19", -2},  {-30, -1, 0, "0-5 19", -1},   {-30, 3, 0, "0-5 19", 3}};
        Run(rig, falling);
        Rig holding(150, 300);
        const std::vector<Step> held = {{-100, -10, 0, "15", -10},
                                        {-100, -30, 0, "15", -10},
                                        {-100, -30, 0, "15", -10},
                                        {-100, -30, 0, "15", -11}};
        Run(holding, held);
    }

    // Waits for events, not for time: a pause counts once the worker has come to rest, and the
    // interval is long enough that only a prompt close ends within the limit.
    void pauseAndResumeKeepHeldValuesAndCloseEndsPromptly() {
        auto rig = std::make_unique<Rig>(10, 1000, true);  // a peak hold of 100 ticks
        rig->levels[0].peak = -6;
        QVERIFY(!rig->thread.IsRunning());
        QTRY_VERIFY(rig->thread.IsParked());
        QCOMPARE(rig->calls.load(), 0);  // started paused
        rig->thread.SetRunning(true);
        QTRY_VERIFY(rig->calls.load() >= 2);
        rig->thread.SetRunning(false);
        QTRY_VERIFY(rig->thread.IsParked());
        const int pausedAt = rig->calls.load();
        QCOMPARE(rig->thread.GetHeldPeak(0), -6);
        rig->levels[0].peak = -100;
        rig->thread.SetRunning(true);
        QTRY_VERIFY(rig->calls.load() > pausedAt);
        rig->thread.SetRunning(false);
        QTRY_VERIFY(rig->thread.IsParked());
        QCOMPARE(rig->thread.GetHeldPeak(0), -6);  // held through the pause

        for (bool running : {false, true}) {
            auto slow = std::make_unique<Rig>(600000, 1);  // a tick every ten minutes
            slow->thread.SetRunning(running);
            if (running) QTRY_VERIFY(slow->calls.load() >= 1);
            QElapsedTimer closing;
            closing.start();
            slow.reset();
            QVERIFY(closing.elapsed() < 300000);
        }
    }

    // The worker never paints: it queues repaints of just the LEDs that changed.
    void workerRepaintsOnlyChangedLeds() {
        struct CCountingMeter : CMeter {
            QRegion painted;
            void paintEvent(QPaintEvent* e) override {
                painted += e->region();
                CLedMeter::paintEvent(e);
            }
        } meter;
        meter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&meter));
        QCoreApplication::processEvents();
        meter.painted = QRegion();
        std::thread([&] {
            meter.SetLed(3, true);
            meter.SetLed(3, true);
        }).join();
        QTRY_VERIFY(!meter.painted.isEmpty());
        QVERIFY(meter.painted.contains(meter.GetLedRect(3)));
        QVERIFY(!meter.painted.intersects(meter.GetLedRect(10)));
    }
};

QTEST_MAIN(LedMeterTest)
#include "LedMeterTest.moc"
