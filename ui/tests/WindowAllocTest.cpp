// The window's side of the recording thread's messages allocates nothing: a whole recording
// from the real window, with every allocation on the recording thread (named "vellisto-rec")
// counted through a replaced global operator new.
#include "audio/capture/FileCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "tests/support/ThreadAllocations.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/TestSupport.h"

class WindowAllocTest : public QObject {
    Q_OBJECT

private slots:
    void postingProgressAllocatesNothing() {
        // Two songs and End Gap, read as fast as the disk goes: hundreds of reports.
        WriteWav(Path("in.wav"), {35.0, -2.0, 33.0, -9.0});
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Side.wav").toStdString());
        CRecorderDlg dlg(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        dlg.show();
        testsupport::StartCountingRecordingThreadAllocations();
        dlg.OnRecord();
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        QCOMPARE(testsupport::StopCountingRecordingThreadAllocations(), 0L);
        QVERIFY(dlg.GetControl().GetTotalBytes() > 70LL * kBytesPerSecond);
        dlg.OnOK();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<WindowAllocTest>(argc, argv); }

#include "WindowAllocTest.moc"
