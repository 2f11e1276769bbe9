// The real window, offscreen, while the disk or the device is held up: a song file's write that
// stalls (a slow disk) and a capture read that does not come back (a card that stops answering).
// The capture device is a WAV file played in real time through the capture queue every device
// shares, dropping what finds no buffer as a sound card does; this program wraps its read and
// the song files' writes. Throughout, a 10 ms timer on the window thread measures the longest
// gap between its ticks and a thread outside measures how long a posted click waits: a freeze
// is seconds, the bounds are generous for busy cores.
//
// The stall and the hang last at least VELLISTO_STALL_MS (default 2000) and VELLISTO_HANG_MS
// (default 4000, with a no-audio limit of VELLISTO_NO_AUDIO_MS, default 1000); the figures go to
// stdout.
#include <sys/uio.h>
#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "audio/capture/FileCaptureBackend.h"
#include "audio/capture/QueuedCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/RecorderDlg.h"
#include "ui/RecordingPresenter.h"
#include "ui/tests/TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

int EnvMs(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

// Where a wrapped call waits while the test keeps it closed: a disk or a card that does not
// answer until the test says so.
struct CGate {
    std::atomic<bool> bClosed{false};
    std::atomic<bool> bWaiting{false};  // a call waits at the gate now
    std::mutex mutex;
    std::condition_variable cond;

    void Pass() {
        if (!bClosed.load()) return;
        std::unique_lock<std::mutex> lock(mutex);
        bWaiting = true;
        cond.wait(lock, [this] { return !bClosed.load(); });
        bWaiting = false;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> guard(mutex);
            bClosed = false;
        }
        cond.notify_all();
    }
};
CGate g_diskGate;  // writes of the song file Freeze1.wav
CGate g_readGate;  // reads of the input
// Writes of Freeze1.wav that passed the closed gate find the disk full.
std::atomic<bool> g_diskFull{false};

bool Names(int fd, const char* suffix) {
    char link[64], path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = 0;
    const size_t len = std::strlen(suffix);
    return size_t(n) >= len && std::strcmp(path + n - len, suffix) == 0;
}

// True when the write is to fail as on a full disk.
bool MaybeStall(int fd) {
    if (!g_diskGate.bClosed.load() || !Names(fd, "Freeze1.wav")) return false;
    g_diskGate.Pass();
    if (!g_diskFull.load()) return false;
    errno = ENOSPC;
    return true;
}

void MaybeHang(int fd) {
    if (g_readGate.bClosed.load() && Names(fd, "in.wav")) g_readGate.Pass();
}

// A 16-bit stereo WAV of a 440 Hz tone whose level steps every second between -12 and -24 dBFS,
// so that the meters move; both are well above Gap Level, so it stays one song.
void WriteSteppedWav(const QString& path, double seconds) {
    testsupport::Bytes pcm;
    for (int i = 0; i < int(seconds * kRate); ++i) {
        const double amplitude = (i / kRate) % 2 == 0 ? 8000 : 2000;
        const int16_t v = int16_t(amplitude * std::sin(2 * M_PI * 440 * i / kRate));
        const char* bytes = reinterpret_cast<const char*>(&v);
        for (int ch = 0; ch < 2; ++ch) pcm.insert(pcm.end(), bytes, bytes + 2);
    }
    testsupport::WriteWav(path.toStdString(), {16, kRate, 2}, pcm);
}

}  // namespace

extern "C" {
ssize_t __real_read(int fd, void* data, size_t count);
ssize_t __real_pwrite(int fd, const void* data, size_t count, off_t offset);
ssize_t __real_pwritev(int fd, const iovec* iov, int count, off_t offset);
ssize_t __wrap_read(int fd, void* data, size_t count) {
    MaybeHang(fd);
    return __real_read(fd, data, count);
}
ssize_t __wrap_pwrite(int fd, const void* data, size_t count, off_t offset) {
    if (MaybeStall(fd)) return -1;
    return __real_pwrite(fd, data, count, offset);
}
ssize_t __wrap_pwritev(int fd, const iovec* iov, int count, off_t offset) {
    if (MaybeStall(fd)) return -1;
    return __real_pwritev(fd, iov, count, offset);
}
}

namespace {

// The window's responsiveness while it runs: the longest gap between 10 ms ticks of a timer on
// its thread, and the longest wait of a click posted from outside (one every 50 ms).
class CResponsiveness {
public:
    explicit CResponsiveness(QWidget* window) : m_pWindow(window) {
        m_timer.setInterval(10);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (m_lastTick != Clock::time_point{}) m_maxGap = std::max(m_maxGap, now - m_lastTick);
            m_lastTick = now;
        });
        m_timer.start();
        m_clicker = std::thread([this] {
            while (!m_bDone.load()) {
                const auto posted = Clock::now();
                QMetaObject::invokeMethod(
                    m_pWindow,
                    [this, posted] {
                        m_maxClick = std::max(m_maxClick, Clock::now() - posted);
                        ++m_nClicks;
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~CResponsiveness() { Finish(); }
    void Finish() {
        m_bDone = true;
        if (m_clicker.joinable()) m_clicker.join();
        m_timer.stop();
    }
    double MaxGapMs() const { return std::chrono::duration<double, std::milli>(m_maxGap).count(); }
    double MaxClickMs() const {
        return std::chrono::duration<double, std::milli>(m_maxClick).count();
    }
    int Clicks() const { return m_nClicks; }

private:
    QWidget* m_pWindow;
    QTimer m_timer;
    Clock::time_point m_lastTick{};
    Clock::duration m_maxGap{};
    Clock::duration m_maxClick{};
    int m_nClicks = 0;
    std::atomic<bool> m_bDone{false};
    std::thread m_clicker;
};

// Counts the reports the window shows: each moves the clock and the meters.
class CShownReports : public IRecordingObserver {
public:
    void OnRecordingEnded(const RecordingReport& report) override { last = report; }
    RecordingReport last;
};

class CFreezeDlg : public CRecorderDlg {
public:
    explicit CFreezeDlg(IProfileStore& profile)
        : CRecorderDlg(MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::RealTime),
                       profile) {
        GetPresenter().AddObserver(&reports);
    }
    ~CFreezeDlg() override { GetPresenter().RemoveObserver(&reports); }
    void SetItemText(int id, const std::string& text) override {
        if (id == IDC_TOTALTIME) {
            ++nClockShown;
            if (text != m_strClock) ++nClockChanges;
            m_strClock = text;
        }
        CRecorderDlg::SetItemText(id, text);
    }
    void Click(int id) { static_cast<QAbstractButton*>(GetItem(id))->click(); }
    // Counts the changes of the left meter's lit LEDs, looked at every 10 ms.
    void WatchMeter() {
        m_meterTimer.setInterval(10);
        QObject::connect(&m_meterTimer, &QTimer::timeout, [this] {
            CLedMeter& meter = GetMeter(0);
            int lit = 0;
            for (int i = 0; i <= meter.GetLedCount(); ++i) lit += meter.IsLedLit(i) ? 1 : 0;
            if (lit != m_nLit) ++nMeterChanges;
            m_nLit = lit;
        });
        m_meterTimer.start();
    }

    CShownReports reports;
    int nClockShown = 0;
    int nClockChanges = 0;  // the clock's text changed
    int nMeterChanges = 0;

private:
    std::string m_strClock;
    QTimer m_meterTimer;
    int m_nLit = -1;
};

}  // namespace

class WindowFreezeTest : public QObject {
    Q_OBJECT

private slots:
    // A song file's write stalls mid-recording: the window stays responsive, the recording goes
    // on meanwhile (its clock and meters move) and, once the disk takes the data again, the file
    // holds every frame of the input up to Stop, in order.
    void aStalledWriteFreezesNothing() {
        const int stallMs = EnvMs("VELLISTO_STALL_MS", 2000);
        const double seconds = stallMs / 1000.0 + 4.0;
        WriteSteppedWav(Path("in.wav"), seconds + 5.0);
        CMemoryProfileStore profile;
        CFreezeDlg dlg(profile);
        // The song file then holds the input's bytes unchanged.
        dlg.GetControl().GetAnalyzer().SetDCBlock(0);
        dlg.AddBaseFile(Path("Freeze.wav").toStdString());
        dlg.show();
        dlg.Click(IDC_RECORD);
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.nClockShown >= 2);
        dlg.WatchMeter();
        CResponsiveness watch(&dlg);
        g_diskGate.bClosed = true;
        QTRY_VERIFY_WITH_TIMEOUT(g_diskGate.bWaiting.load(), 20000);
        const auto stalled = Clock::now();
        const int clockBefore = dlg.nClockChanges;
        const int meterBefore = dlg.nMeterChanges;
        // While the write waits, the recording goes on: seconds of audio pass through the clock
        // and the meters.
        QTRY_VERIFY_WITH_TIMEOUT(
            dlg.nClockChanges >= clockBefore + 2 && dlg.nMeterChanges >= meterBefore + 2, 20000);
        QVERIFY(g_diskGate.bWaiting.load());
        // The rest of the stall's length, for the figures.
        QTest::qWait(std::max(
            0, stallMs -
                   int(std::chrono::duration<double, std::milli>(Clock::now() - stalled).count())));
        const int clockMoved = dlg.nClockChanges - clockBefore;
        const int meterMoved = dlg.nMeterChanges - meterBefore;
        const double heldMs =
            std::chrono::duration<double, std::milli>(Clock::now() - stalled).count();
        g_diskGate.Open();
        // Then the recording runs on for two seconds of audio.
        const int64_t after = dlg.GetControl().GetTotalBytes() + 2 * kBytesPerSecond;
        QTRY_VERIFY_WITH_TIMEOUT(dlg.GetControl().GetTotalBytes() >= after, 60000);
        const auto pressed = Clock::now();
        dlg.Click(IDC_STOP);
        const double stopMs =
            std::chrono::duration<double, std::milli>(Clock::now() - pressed).count();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 20000);
        watch.Finish();
        const RecordingReport& report = dlg.reports.last;
        std::printf(
            "stalled write of %.0f ms: the clock changed %d times and the meter %d times during "
            "it; longest timer gap %.1f ms, longest click wait %.1f ms over %d clicks, Stop "
            "returned in %.1f ms, lost frames %llu\n",
            heldMs, clockMoved, meterMoved, watch.MaxGapMs(), watch.MaxClickMs(), watch.Clicks(),
            stopMs, static_cast<unsigned long long>(report.nLostFrames));
        QVERIFY(report.bValid);
        QCOMPARE(report.nLostFrames, 0ull);
        QVERIFY(report.failures.empty());
        QVERIFY2(watch.MaxGapMs() < 1000, qPrintable(QString::number(watch.MaxGapMs())));
        QVERIFY2(watch.MaxClickMs() < 1000, qPrintable(QString::number(watch.MaxClickMs())));
        // Stop only asks: its pause of half a second keeps the window painting.
        QVERIFY2(stopMs < 2000, qPrintable(QString::number(stopMs)));
        // The song file is the input's first bytes, whole.
        const testsupport::WavFile wav = testsupport::ReadWav(Path("Freeze1.wav").toStdString());
        QCOMPARE(QString::fromStdString(wav.szProblem), QString());
        const testsupport::WavFile in = testsupport::ReadWav(Path("in.wav").toStdString());
        const auto data = wav.Data();
        const auto input = in.Data();
        QVERIFY(data.size() >= size_t(after) && data.size() <= input.size());
        QVERIFY(std::equal(data.begin(), data.end(), input.begin()));
    }

    // A capture read hangs: the recording ends with the no-audio message within a second of the
    // limit, the window never waits for the device, and the device is closed once the read
    // returns.
    void aHangingReadFreezesNothing() {
        const int hangMs = EnvMs("VELLISTO_HANG_MS", 4000);
        const int limitMs = EnvMs("VELLISTO_NO_AUDIO_MS", 1000);
        WriteWav(Path("in.wav"), {hangMs / 1000.0 + 10.0});
        CMemoryProfileStore profile;
        CFreezeDlg dlg(profile);
        dlg.GetControl().m_nNoAudioTimeoutMs = limitMs;
        dlg.AddBaseFile(Path("Freeze.wav").toStdString());
        dlg.show();
        QStringList boxes;
        AnswerNextBox(&dlg, QMessageBox::Ok, &boxes);
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY(dlg.nClockShown >= 2);
        CResponsiveness watch(&dlg);
        g_readGate.bClosed = true;
        QTRY_VERIFY_WITH_TIMEOUT(g_readGate.bWaiting.load(), 20000);
        const auto hung = Clock::now();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), limitMs + 20000);
        const double endedMs =
            std::chrono::duration<double, std::milli>(Clock::now() - hung).count();
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.isEmpty(), 20000);
        // The read still hangs: everything above happened without it. Let it hang its time,
        // the window working meanwhile, then return.
        QVERIFY(g_readGate.bWaiting.load());
        QTest::qWait(std::max(0, hangMs - int(endedMs)));
        g_readGate.Open();
        // Once the read returns, the device closes its source by itself.
        auto* device =
            dynamic_cast<CQueuedCaptureBackend*>(dlg.GetControl().GetWaveIn().GetBackend());
        QVERIFY(device && device->WaitClosedInBackground(20000));
        watch.Finish();
        std::printf(
            "read hung %d ms, no-audio limit %d ms: recording ended %.0f ms after the "
            "read hung, longest timer gap %.1f ms, longest click wait %.1f ms over %d "
            "clicks\n",
            hangMs, limitMs, endedMs, watch.MaxGapMs(), watch.MaxClickMs(), watch.Clicks());
        QCOMPARE(boxes.value(0),
                 QStringLiteral("ERROR: No audio arrived from the sound card for %1 seconds.\nThe "
                                "recording has been stopped; the song files are finished.\n")
                     .arg((limitMs + 999) / 1000));
        QVERIFY2(endedMs < limitMs + 1000 + 2000, qPrintable(QString::number(endedMs)));
        QVERIFY2(watch.MaxGapMs() < 1000, qPrintable(QString::number(watch.MaxGapMs())));
        QVERIFY2(watch.MaxClickMs() < 1000, qPrintable(QString::number(watch.MaxClickMs())));
        QVERIFY(FinishedDataBytes(Path("Freeze1.wav")) > 0);
    }

    void leavingWhileTheDiskStalls_data() {
        QTest::addColumn<bool>("full");
        QTest::newRow("the disk answers") << false;
        QTest::newRow("the disk fills") << true;
    }

    // Leaving while the song file's write stalls: the window goes without waiting for the disk;
    // the recording's last bytes are written once it answers, so that the song file holds every
    // byte the window had shown, or the full disk is told.
    void leavingWhileTheDiskStalls() {
        QFETCH(bool, full);
        WriteSteppedWav(Path("in.wav"), 30.0);
        CMemoryProfileStore profile;
        CFreezeDlg dlg(profile);
        dlg.GetControl().GetAnalyzer().SetDCBlock(0);
        dlg.m_nExitWaitMs = 200;
        dlg.AddBaseFile(Path("Freeze.wav").toStdString());
        dlg.show();
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY(dlg.nClockShown >= 2);
        g_diskFull = full;
        g_diskGate.bClosed = true;
        QTRY_VERIFY_WITH_TIMEOUT(g_diskGate.bWaiting.load(), 20000);
        const int64_t shown = dlg.GetControl().GetTotalBytes();
        dlg.OnOK();
        QVERIFY(dlg.HasFinished());
        QVERIFY(!dlg.isVisible());
        // All that while the disk has not answered, and the recording waits for it.
        QVERIFY(g_diskGate.bWaiting.load());
        QVERIFY(dlg.GetControl().IsRecording());
        g_diskGate.Open();
        const std::vector<std::string> told = dlg.FinishLeftRecording();
        QVERIFY(!dlg.GetControl().IsRecording());
        if (full) {
            QCOMPARE(told.size(), size_t(1));
            QVERIFY2(QString::fromStdString(told[0]).contains(Path("Freeze1.wav")) &&
                         QString::fromStdString(told[0]).contains("No space left on device"),
                     told[0].c_str());
            return;
        }
        QVERIFY(told.empty());
        const testsupport::WavFile wav = testsupport::ReadWav(Path("Freeze1.wav").toStdString());
        QCOMPARE(QString::fromStdString(wav.szProblem), QString());
        const auto data = wav.Data();
        const auto input = testsupport::ReadWav(Path("in.wav").toStdString()).Data();
        QVERIFY(data.size() >= size_t(shown) && data.size() <= input.size());
        QVERIFY(std::equal(data.begin(), data.end(), input.begin()));
    }

    void cleanup() {
        g_diskFull = false;
        g_diskGate.Open();
        g_readGate.Open();
        QDir dir(g_workDir);
        for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<WindowFreezeTest>(argc, argv); }

#include "WindowFreezeTest.moc"
