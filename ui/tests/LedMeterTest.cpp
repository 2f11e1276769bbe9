#include <QtTest>

#include "LedMeter.h"
#include "MeterThread.h"

namespace {
// Levels a test hands to the meters, per meter index.
struct Levels {
    int level = -100;
    int peak = -100;
    int overload = 0;
};

// Collects the bar LEDs that are lit, lowest first.
QList<int> LitBar(const CLedMeter& meter, int barLeds) {
    QList<int> lit;
    for (int i = 0; i < barLeds; ++i)
        if (meter.IsLedLit(i)) lit.append(i);
    return lit;
}
}  // namespace

class LedMeterTest : public QObject {
    Q_OBJECT

private slots:
    void verticalLayoutPutsLedZeroAtTheBottomAndOverloadOnTop();
    void horizontalLayoutRunsLeftToRight();
    void colourBandsAndIgnoredCount();
    void lightingRuleThresholds_data();
    void lightingRuleThresholds();
    void overloadHoldsForTwoTicksAfterLastClip();
    void peakMarkFallsOneDbPerTick();
    void pauseAndResumeKeepHeldValuesAndCloseEndsPromptly();
    void workerRepaintsOnlyChangedLeds();
};

void LedMeterTest::verticalLayoutPutsLedZeroAtTheBottomAndOverloadOnTop() {
    CLedMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    QCOMPARE(meter.GetLedCount(), 21);
    QVERIFY(meter.IsVertical());
    QCOMPARE(meter.GetLitOffset(), QPoint(18, 0));
    const int s = 2 * 195 / 43;  // 9
    QCOMPARE(meter.GetLedRect(0), QRect(0, 195 - s, 18, s));
    QCOMPARE(meter.GetLedRect(19), QRect(0, 195 - 20 * s, 18, s));
    // Bar LEDs touch each other; the overload LED sits at the top, apart from the bar.
    for (int i = 1; i < 20; ++i)
        QCOMPARE(meter.GetLedRect(i).bottom() + 1, meter.GetLedRect(i - 1).top());
    QCOMPARE(meter.GetLedRect(20), QRect(0, 0, 18, s));
    QVERIFY(meter.GetLedRect(20).bottom() < meter.GetLedRect(19).top());
    QVERIFY(meter.HasImage());
}

void LedMeterTest::horizontalLayoutRunsLeftToRight() {
    CLedMeter meter;
    meter.resize(120, 12);
    meter.SetLedCount(10);
    QVERIFY(!meter.IsVertical());
    QCOMPARE(meter.GetLitOffset(), QPoint(0, 12));
    const int s = 2 * 120 / 23;  // 10
    QCOMPARE(meter.GetLedRect(0), QRect(0, 0, s, 12));
    QCOMPARE(meter.GetLedRect(9), QRect(9 * s, 0, s, 12));
    QCOMPARE(meter.GetLedRect(10), QRect(120 - s, 0, s, 12));
    // A square control counts as horizontal.
    meter.resize(30, 30);
    meter.SetLedCount(3);
    QVERIFY(!meter.IsVertical());
}

void LedMeterTest::colourBandsAndIgnoredCount() {
    CLedMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    // Band edges: 0-9 green, 10-19 yellow, 20 red.
    QCOMPARE(meter.GetLitColour(9), QColor(0, 255, 0));
    QCOMPARE(meter.GetDarkColour(10), QColor(128, 128, 0));
    QCOMPARE(meter.GetLitColour(19), QColor(255, 255, 0));
    QCOMPARE(meter.GetLitColour(20), QColor(255, 0, 0));

    meter.SetLed(5, true);
    meter.SetLedCount(0);
    meter.SetLedCount(-3);
    QCOMPARE(meter.GetLedCount(), 21);
    QVERIFY(meter.IsLedLit(5));
    meter.SetLed(21, true);  // beyond the last LED: ignored, no crash
    meter.SetLed(-1, true);
    QVERIFY(!meter.IsLedLit(21));

    // Painted LEDs: a dark glint pixel shows the lit colour, a lit one is white.
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

void LedMeterTest::lightingRuleThresholds_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("highestLit");
    QTest::newRow("full scale lights all") << 0 << 19;
    QTest::newRow("above full scale") << 6 << 19;
    QTest::newRow("-3 dB reaches LED 19") << -3 << 19;
    QTest::newRow("-4 dB stops below 19") << -4 << 18;
    QTest::newRow("-21 dB reaches LED 10") << -21 << 10;
    QTest::newRow("-23 dB reaches LED 9") << -23 << 9;
    QTest::newRow("-41 dB lights LED 0") << -41 << 0;
    QTest::newRow("-42 dB lights none") << -42 << -1;
    QTest::newRow("idle -100 dB") << -100 << -1;
}

void LedMeterTest::lightingRuleThresholds() {
    QFETCH(int, level);
    QFETCH(int, highestLit);
    CLedMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    CMeterThread thread;
    thread.AddMeter(&meter);
    // Peak far below the bar so that only the level rule shows.
    thread.Start(
        [&](int, int* l, int* p, int* o) {
            *l = level;
            *p = -100;
            *o = 0;
        },
        20, 40, 150, 300, 1);
    thread.Tick();
    QList<int> expected;
    for (int i = 0; i <= highestLit; ++i) expected.append(i);
    QCOMPARE(LitBar(meter, 20), expected);
    QVERIFY(!meter.IsLedLit(20));
}

void LedMeterTest::overloadHoldsForTwoTicksAfterLastClip() {
    CLedMeter left, right;
    for (CLedMeter* m : {&left, &right}) {
        m->resize(18, 195);
        m->SetLedCount(20);
    }
    Levels levels[2];
    CMeterThread thread;
    thread.AddMeter(&left);
    thread.AddMeter(&right);
    QList<int> asked;
    thread.Start(
        [&](int m, int* l, int* p, int* o) {
            asked.append(m);
            *l = levels[m].level;
            *p = levels[m].peak;
            *o = levels[m].overload;
        },
        20, 40, 150, 300, 1);

    levels[0].overload = 7;
    thread.Tick();
    QCOMPARE(asked, (QList<int>{0, 1}));
    QVERIFY(left.IsLedLit(20));
    QVERIFY(!right.IsLedLit(20));
    levels[0].overload = 0;
    thread.Tick();
    QVERIFY(left.IsLedLit(20));
    thread.Tick();
    QVERIFY(left.IsLedLit(20));
    thread.Tick();
    QVERIFY(!left.IsLedLit(20));
    // A new clip while held restarts the hold.
    levels[0].overload = 1;
    thread.Tick();
    levels[0].overload = 0;
    thread.Tick();
    levels[0].overload = 1;
    thread.Tick();
    levels[0].overload = 0;
    thread.Tick();
    thread.Tick();
    QVERIFY(left.IsLedLit(20));
    thread.Tick();
    QVERIFY(!left.IsLedLit(20));
}

void LedMeterTest::peakMarkFallsOneDbPerTick() {
    CLedMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    Levels levels;
    CMeterThread thread;
    thread.AddMeter(&meter);
    thread.Start(
        [&](int, int* l, int* p, int* o) {
            *l = levels.level;
            *p = levels.peak;
            *o = levels.overload;
        },
        20, 40, 150, 300, 1);
    QCOMPARE(thread.GetHeldPeak(0), -9999);

    levels.peak = -6;
    thread.Tick();
    QCOMPARE(thread.GetHeldPeak(0), -6);
    QCOMPARE(LitBar(meter, 20), QList<int>{17});  // the peak mark alone, level below the bar

    levels.peak = -10;
    levels.level = -30;
    thread.Tick();
    QCOMPARE(thread.GetHeldPeak(0), -7);
    for (int expected = -8; expected >= -11; --expected) {
        thread.Tick();
        QCOMPARE(thread.GetHeldPeak(0), expected);
    }
    // -11 dB: mark on LED 15, level -30 lights 0..5.
    QCOMPARE(LitBar(meter, 20), (QList<int>{0, 1, 2, 3, 4, 5, 15}));
    levels.peak = -2;
    thread.Tick();
    QCOMPARE(thread.GetHeldPeak(0), -2);

    // With a hold of two ticks the mark stays before it falls.
    CMeterThread holding;
    holding.AddMeter(&meter);
    holding.Start(
        [&](int, int* l, int* p, int* o) {
            *l = -100;
            *p = levels.peak;
            *o = 0;
        },
        20, 40, 100, 0, 250);
    levels.peak = -10;
    holding.Tick();
    levels.peak = -30;
    holding.Tick();
    holding.Tick();
    QCOMPARE(holding.GetHeldPeak(0), -10);
    holding.Tick();
    QCOMPARE(holding.GetHeldPeak(0), -11);
}

void LedMeterTest::pauseAndResumeKeepHeldValuesAndCloseEndsPromptly() {
    CLedMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    std::atomic<int> calls{0};
    std::atomic<int> peak{-6};
    QElapsedTimer closing;
    {
        CMeterThread thread;
        thread.AddMeter(&meter);
        thread.SetRunning(true);  // before Start: nothing to run
        QVERIFY(!thread.IsRunning());
        thread.Start(
            [&](int, int* l, int* p, int* o) {
                ++calls;
                *l = -100;
                *p = peak;
                *o = 0;
            },
            20, 40, 10, 300, 1000);
        QTest::qWait(30);
        QCOMPARE(calls.load(), 0);  // started paused
        thread.SetRunning(true);
        QTRY_VERIFY(calls.load() >= 1);
        thread.SetRunning(false);
        QTest::qWait(30);  // let a tick in flight finish
        const int pausedAt = calls.load();
        const int held = thread.GetHeldPeak(0);
        QCOMPARE(held, -6);
        QTest::qWait(60);
        QCOMPARE(calls.load(), pausedAt);
        QCOMPARE(thread.GetHeldPeak(0), held);
        peak = -100;
        thread.SetRunning(true);
        QTRY_VERIFY(calls.load() > pausedAt);
        thread.SetRunning(false);
        QTest::qWait(30);
        QCOMPARE(thread.GetHeldPeak(0), -6);  // peak hold of 100 ticks keeps it
        closing.start();
    }
    QVERIFY(closing.elapsed() < 1000);
}

void LedMeterTest::workerRepaintsOnlyChangedLeds() {
    // The worker never touches the widget directly: changes reach the UI thread as queued
    // repaints of just the LEDs that changed.
    class CountingMeter : public CLedMeter {
    public:
        QRegion painted;
        int paints = 0;

    protected:
        void paintEvent(QPaintEvent* e) override {
            painted += e->region();
            ++paints;
            CLedMeter::paintEvent(e);
        }
    };
    CountingMeter meter;
    meter.resize(18, 195);
    meter.SetLedCount(20);
    meter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&meter));
    QCoreApplication::processEvents();
    meter.paints = 0;
    meter.painted = QRegion();

    std::thread worker([&] {
        meter.SetLed(3, true);
        meter.SetLed(3, true);
    });
    worker.join();
    QTRY_VERIFY(meter.paints > 0);
    QVERIFY(meter.painted.contains(meter.GetLedRect(3)));
    QVERIFY(!meter.painted.intersects(meter.GetLedRect(10)));
}

QTEST_MAIN(LedMeterTest)
#include "LedMeterTest.moc"
