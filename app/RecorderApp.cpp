#include "RecorderApp.h"

#include "Appearance.h"
#include "CaptureBackend.h"
#include "QSettingsProfileStore.h"
#include "RecorderDlg.h"
#include "ShutdownRequests.h"

CRecorderApp::CRecorderApp(int& argc, char** argv) : QApplication(argc, argv) {}

int CRecorderApp::InitInstance() {
    // The profile is "Vellistro", one letter off the product name the captions show.
    setOrganizationName(QString::fromLatin1(CQSettingsProfileStore::kOrganisation));
    setApplicationName(QString::fromLatin1(CQSettingsProfileStore::kApplication));
    setWindowIcon(LoadIconResource(128));

    CShutdownRequests shutdown;
    CQSettingsProfileStore profile;
    CRecorderDlg dlg(MakePortAudioBackend(), profile);
    QObject::connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg,
                     &CRecorderDlg::RequestClose);
    dlg.exec();
    // The loop can also end without the window's own exit (the application told to quit):
    // the exit path still has to finish a recording and save the settings.
    if (!dlg.HasFinished()) dlg.OnOK();
    return 0;
}
