// The meters before Record: the real window, offscreen, with a level monitor and a recording
// that share one scripted capture device, which refuses a second open. So whatever needs the
// device (Record, the mixer buttons, Custom Settings) finds it only if the monitor let it go.
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include "audio/capture/TestCaptureBackend.h"
#include "engine/LevelMonitor.h"
#include "engine/RecordingControl.h"
#include "resources/Resources.h"
#include "settings/MonitorSetting.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/MixerButtons.h"
#include "ui/RecorderDlg.h"
#include "ui/RecorderToolTip.h"
#include "ui/tests/MixerTestSupport.h"
#include "ui/tests/TestSupport.h"

namespace {

// A 16-bit stereo tone at half of full scale (-6 dB), 64 frames to the period.
void Tone(uint64_t offset, uint8_t* dest, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t byte = offset + i;
        const double v = 16384.0 * std::sin(2.0 * M_PI * double((byte / 4) % 64) / 64.0);
        const auto sample = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v)));
        dest[i] = static_cast<uint8_t>(byte % 2 == 0 ? sample & 0xFF : sample >> 8);
    }
}

struct Window {
    explicit Window(CMemoryProfileStore& store, bool monitorOpens = true)
        : holder(std::make_shared<CTestCaptureBackend::DeviceHolder>(nullptr)) {
        auto recording =
            std::make_unique<CTestCaptureBackend>(CTestCaptureBackend::Delivery::Manual);
        recording->ShareDevice(holder);
        pRecording = recording.get();
        auto monitor = std::make_unique<CTestCaptureBackend>();
        monitor->ShareDevice(holder);
        monitor->SetGeneratedSource(UINT64_MAX, &Tone);
        if (!monitorOpens) monitor->FailAt(TestOp::Open);
        pMonitorDevice = monitor.get();
        store.WriteProfileString("Version 1", "OutfileName0", Path("SideA.wav").toStdString());
        dlg = std::make_unique<CRecorderDlg>(std::move(recording), std::move(monitor), store);
        dlg->GetMixerButtons().SetVolumeControl(&program);
    }
    CLevelMonitor& Monitor() { return *dlg->GetMonitor(); }
    bool Monitoring() {
        return Monitor().GetState() == MonitorState::Running && Monitor().HoldsDevice();
    }
    bool Released() { return !Monitor().HoldsDevice() && holder->load() == nullptr; }
    void Click(int id) { static_cast<QAbstractButton*>(dlg->GetItem(id))->click(); }
    QString MeterTip() {
        const QRect meter = dlg->GetMeter(0).geometry();
        return dlg->GetToolTip().TextAt(dlg.get(), meter.center());
    }

    std::shared_ptr<CTestCaptureBackend::DeviceHolder> holder;
    CTestCaptureBackend* pRecording = nullptr;
    CTestCaptureBackend* pMonitorDevice = nullptr;
    std::unique_ptr<CRecorderDlg> dlg;
    LaunchLog program;
    BoxCatcher catcher;
};

int LeftPeak() {
    int power = 0, peak = 0, clips = 0;
    GetMeterLevels(0, &power, &peak, &clips);
    return peak;
}

QStringList WavFiles() { return QDir(g_workDir).entryList({QStringLiteral("*.wav")}, QDir::Files); }

}  // namespace

class MonitorTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QDir dir(g_workDir);
        for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
    }

    void theMetersFollowTheInputWhileIdleAndNothingIsWritten() {
        CMemoryProfileStore store;
        Window w(store);
        QVERIFY(!w.Monitor().HoldsDevice());  // not before the window shows
        w.dlg->show();
        QTRY_VERIFY(w.Monitoring());
        QTRY_COMPARE(LeftPeak(), -6);
        // The meter thread lights the LEDs from those levels: the bar from the power, the peak
        // mark of -6 dB on LED 17.
        QTRY_VERIFY(w.dlg->GetMeter(0).IsLedLit(0) && w.dlg->GetMeter(0).IsLedLit(17));
        QVERIFY(!w.dlg->GetMeter(0).IsLedLit(18));
        QVERIFY(WavFiles().isEmpty());
        QVERIFY(w.MeterTip().startsWith(QStringLiteral("Level Left")));
        QVERIFY(!w.MeterTip().contains('\n'));
    }

    void recordTakesTheDeviceAndMonitoringResumesAfter() {
        CMemoryProfileStore store;
        Window w(store);
        w.dlg->show();
        QTRY_VERIFY(w.Monitoring());
        w.Click(IDC_RECORD);
        QVERIFY(w.dlg->GetControl().IsRecording());
        QVERIFY(!w.Monitor().HoldsDevice());
        QCOMPARE(w.holder->load(), static_cast<const void*>(w.pRecording));
        w.pRecording->Produce(3 * 65536);
        QTRY_VERIFY(w.dlg->GetControl().GetTotalBytes() > 0);
        w.dlg->OnStop();
        QTRY_VERIFY(!w.dlg->GetControl().IsRecording());
        QTRY_VERIFY(w.Monitoring());
        QVERIFY(w.catcher.boxes.isEmpty());
    }

    void theMixerButtonsAndCustomSettingsFindTheDeviceFree() {
        CMemoryProfileStore store;
        Window w(store);
        w.dlg->show();
        QTRY_VERIFY(w.Monitoring());
        // Each button's own check opens the device: only a released one opens.
        for (int id : {IDC_RECMIXER, IDC_PLAYMIXER}) {
            w.Click(id);
            QTRY_VERIFY(w.Monitoring());
        }
        QCOMPARE(w.pRecording->CallCount(TestOp::Open), 2);
        QCOMPARE(w.program.launches.size(), size_t(2));
        QVERIFY(w.catcher.boxes.isEmpty());

        // Custom Settings: free while it is open, and Done's new rate is the monitor's too.
        bool freeInside = false;
        OnNextModal(w.dlg.get(), [&](QWidget* modal) {
            freeInside = w.Released();
            auto* custom = static_cast<CCustomDlg*>(modal);
            static_cast<QAbstractButton*>(custom->GetItem(CustomDlgIds::IDC_RATE48))->click();
            static_cast<QAbstractButton*>(custom->GetItem(CustomDlgIds::IDC_DONE))->click();
        });
        w.Click(IDC_CUSTOMIZE);
        QVERIFY(freeInside);
        QTRY_VERIFY(w.Monitoring());
        QCOMPARE(w.pMonitorDevice->GetOpenedFormat().nSamplesPerSec, 48000u);
        // Opened at the start and once after each of the three: Done's settings did not cost a
        // second open.
        QCOMPARE(w.pMonitorDevice->CallCount(TestOp::Open), 4);
    }

    void minimisingOrSwitchingOffReleasesAndTheChoiceIsKept() {
        CMemoryProfileStore store;
        {
            Window w(store);
            w.dlg->show();
            QTRY_VERIFY(w.Monitoring());
            w.dlg->showMinimized();
            QTRY_VERIFY(w.Released());
            w.dlg->showNormal();
            QTRY_VERIFY(w.Monitoring());

            auto* box = static_cast<QCheckBox*>(w.dlg->GetItem(IDC_MONITOR));
            QVERIFY(box->isChecked());
            w.Click(IDC_MONITOR);
            QTRY_VERIFY(w.Released());
            QCOMPARE(LeftPeak(), -100);
            w.dlg->OnOK();
        }
        QVERIFY(!LoadMonitor(store));
        Window again(store);
        again.dlg->show();
        QVERIFY(!static_cast<QCheckBox*>(again.dlg->GetItem(IDC_MONITOR))->isChecked());
        QCoreApplication::processEvents();
        QCOMPARE(again.pMonitorDevice->CallCount(TestOp::Open), 0);
    }

    void aDeviceThatDoesNotOpenDarkensTheMetersAndSaysWhyWithoutABox() {
        CMemoryProfileStore store;
        Window w(store, false);
        w.dlg->show();
        QTRY_VERIFY(w.MeterTip().contains(CTestCaptureBackend::kTestRefused));
        QCOMPARE(w.MeterTip(), QStringLiteral("Level Left (2dB/LED)\nMonitor: ") +
                                   CTestCaptureBackend::kTestRefused);
        QCOMPARE(LeftPeak(), -100);
        for (int led = 0; led < w.dlg->GetMeter(0).GetLedCount(); ++led)
            QVERIFY(!w.dlg->GetMeter(0).IsLedLit(led));
        QVERIFY(w.catcher.boxes.isEmpty());
        // Record is not held up by it and records as ever.
        w.Click(IDC_RECORD);
        QVERIFY(w.dlg->GetControl().IsRecording());
        w.dlg->OnStop();
        QTRY_VERIFY(!w.dlg->GetControl().IsRecording());
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<MonitorTest>(argc, argv); }
#include "MonitorTest.moc"
