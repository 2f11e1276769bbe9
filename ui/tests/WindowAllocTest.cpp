// The window's side of the recording thread's messages allocates nothing: a whole recording
// from the real window, with every allocation on the recording thread (named "vellisto-rec")
// counted through a replaced global operator new.
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "FileCaptureBackend.h"
#include "ProfileStore.h"
#include "RecorderDlg.h"
#include "RecordingControl.h"
#include "TestSupport.h"

namespace {
std::atomic<bool> g_bArmed{false};
std::atomic<long> g_nThreadAllocs{0};

void* Allocate(std::size_t n) noexcept {
    char name[16] = {};
    if (g_bArmed.load(std::memory_order_relaxed) &&
        pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
        std::strcmp(name, "vellisto-rec") == 0) {
        ++g_nThreadAllocs;
    }
    return std::malloc(n ? n : 1);
}

void* AllocateOrThrow(std::size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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
        g_bArmed = true;
        dlg.OnRecord();
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        g_bArmed = false;
        QCOMPARE(g_nThreadAllocs.load(), 0L);
        QVERIFY(dlg.GetControl().GetTotalBytes() > 70LL * kBytesPerSecond);
        dlg.OnOK();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<WindowAllocTest>(argc, argv); }

#include "WindowAllocTest.moc"
