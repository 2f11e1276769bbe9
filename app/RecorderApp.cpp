#include "app/RecorderApp.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/SingleInstance.h"
#include "audio/capture/CaptureBackend.h"
#include "settings/QSettingsProfileStore.h"
#include "ui/Appearance.h"
#include "ui/RecorderDlg.h"
#include "ui/ShutdownRequests.h"

CRecorderApp::CRecorderApp(int& argc, char** argv) : QApplication(argc, argv) {}

int CRecorderApp::InitInstance() {
    // The profile is "Vellistro", one letter off the product name the captions show.
    setOrganizationName(QString::fromLatin1(CQSettingsProfileStore::kOrganisation));
    setApplicationName(QString::fromLatin1(CQSettingsProfileStore::kApplication));
    setWindowIcon(LoadIconResource(128));

    // A second recorder would fight the first over the device, the settings and the presets.
    CSingleInstance instance;
    if (!instance.Claim()) {
        if (instance.AskFirstToShow()) return 0;
        std::fprintf(stderr,
                     "vellisto: Vellisto is already running, but its window does not "
                     "answer.\n");
        return 1;
    }

    CShutdownRequests shutdown;
    CQSettingsProfileStore profile;
    // The level monitor has a device of its own, let go whenever the recording needs it.
    CRecorderDlg dlg(MakePortAudioBackend(), MakePortAudioBackend(), profile);
    QObject::connect(&instance, &CSingleInstance::ShowRequested, &dlg, [&dlg] {
        if (dlg.isMinimized()) dlg.showNormal();
        dlg.raise();
        dlg.activateWindow();
        // A question of the window's stays in front of it.
        if (QWidget* modal = activeModalWidget(); modal && modal != &dlg) {
            modal->raise();
            modal->activateWindow();
        }
    });
    // The end-of-side summary's Review... opens the take it lists, with the cuts its check
    // suggests when asked.
    dlg.SetReviewHandler([&dlg](const SideSummary& side, const std::vector<uint64_t>& suggested) {
        if (!side.files.empty()) dlg.OpenReview(side.files.front().strPath, suggested);
    });
    QObject::connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg,
                     &CRecorderDlg::RequestClose);
    dlg.exec();
    // The loop can also end without the window's own exit (the application told to quit):
    // the exit path still has to finish a recording and save the settings.
    if (!dlg.HasFinished()) dlg.OnOK();
    // A recording whose last bytes still wait for a stalled disk: the window has gone, the
    // process stays until they are written or the disk fails, and says so when it does.
    const std::vector<std::string> failures = dlg.FinishLeftRecording();
    for (std::string text : failures) {
        while (!text.empty() && text.back() == '\n') text.pop_back();
        std::fprintf(stderr, "vellisto: %s\n", text.c_str());
    }
    return failures.empty() ? 0 : 1;
}
