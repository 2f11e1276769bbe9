// The real main window, offscreen, recording from WAV files through the file capture backend.
// Runs in a temporary working directory (presets file, song files) with a temporary
// XDG_CONFIG_HOME (the QSettings profile).
#include <signal.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "FileCaptureBackend.h"
#include "PresetStore.h"
#include "ProfileStore.h"
#include "QSettingsProfileStore.h"
#include "RecorderDlg.h"
#include "RecordingControl.h"
#include "Resources.h"
#include "ShutdownRequests.h"
#include "TestWav.h"

namespace {
// Runs the handler on the next modal window other than `except` as soon as it shows.
void OnNextModal(QWidget* except, std::function<void(QWidget*)> handler) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, except, handler] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == except) return;
        timer->stop();
        timer->deleteLater();
        handler(modal);
    });
    timer->start();
}

// Answers the file dialog of New with a path.
void ChooseInFileDialog(QWidget* modal, const QString& path) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    QVERIFY(dialog);
    // Typed like a user would: selectFile leaves a focused name field alone.
    dialog->setDirectory(QFileInfo(path).absolutePath());
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->setText(QFileInfo(path).fileName());
    static_cast<QDialog*>(dialog)->accept();
}

// The window with the file capture backend, logging what the recording control shows.
class CTestDlg : public CRecorderDlg {
public:
    CTestDlg(const QString& wav, IProfileStore& profile, FilePacing pacing)
        : CRecorderDlg(MakeFileCaptureBackend(wav.toStdString(), pacing), profile) {}

    void ShowRecordingPicture(bool active) override {
        pictures.push_back(active);
        CRecorderDlg::ShowRecordingPicture(active);
    }
    void SetItemText(int id, const std::string& text) override {
        texts[id].append(QString::fromStdString(text));
        CRecorderDlg::SetItemText(id, text);
    }
    void SetCaption(const std::string& caption) override {
        captions.append(QString::fromStdString(caption));
        CRecorderDlg::SetCaption(caption);
    }

    std::vector<bool> pictures;
    std::map<int, QStringList> texts;
    QStringList captions;
};

QString g_workDir;
}  // namespace

class RecorderDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void layoutFollowsTheDialogFont();
    void dialogUnitsRoundLikeThePlatform();
    void coloursByControlKindInBothSchemes();
    void schemeFollowsSystemPaletteAndKeepsPurple();
    void recordWithoutBaseFileAsksThenOpensSaveDialog();
    void baseFileListRules();
    void wholeRecordingFromTheWindow();
    void leavingDuringRecordingFinishesTheSong_data();
    void leavingDuringRecordingFinishesTheSong();
    void terminationDuringAQuestionAnswersItAndExits();
    void escapeNeverLeavesARecordingUnfinished();
    void hotKeyFallsBackToAWindowShortcut();
    void restartRestoresSettingsSchemeListAndPlacement();

private:
    QString Path(const QString& name) const { return QDir(g_workDir).filePath(name); }
};

void RecorderDlgTest::init() {
    // Every test starts from a fresh profile and no presets or song files.
    QDir dir(g_workDir);
    for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
    QDir(Path("cfg")).removeRecursively();
}

void RecorderDlgTest::layoutFollowsTheDialogFont() {
    CMemoryProfileStore profile;
    CTestDlg dlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
    const DlgTemplate* tpl = FindDialogTemplate(102);
    QVERIFY(tpl);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Zelk Vellisto"));
    const DialogBaseUnits units = BaseUnitsFor(dlg.font());
    QVERIFY(units.cx > 0 && units.cy > 0);
    QCOMPARE(dlg.size(), MapDialogRect(QRect(0, 0, 275, 184), units).size());
    QList<QWidget*> tabStops;
    for (int i = 0; i < tpl->count; ++i) {
        const DlgItem& item = tpl->items[i];
        if (item.id < 0) continue;
        QWidget* w = dlg.GetItem(item.id);
        QVERIFY2(w, qPrintable(QString::number(item.id)));
        const QRect expected = MapDialogRect(QRect(item.x, item.y, item.cx, item.cy), units);
        QCOMPARE(w->pos(), expected.topLeft());
        QCOMPARE(w->width(), expected.width());
        if (!qobject_cast<QComboBox*>(w)) QCOMPARE(w->height(), expected.height());
        // Nothing sticks out of the window.
        QVERIFY2(QRect(QPoint(0, 0), dlg.size()).contains(w->geometry()),
                 qPrintable(QString::number(item.id)));
        if (item.style & kDlgTabStop) tabStops.append(w);
    }
    // Closed combo boxes end above the next control below them.
    QVERIFY(dlg.GetItem(IDC_PRESETS)->geometry().bottom() < dlg.GetItem(IDC_CUSTOMIZE)->y());
    QVERIFY(dlg.GetItem(IDC_BASEFILE)->geometry().bottom() < dlg.GetItem(IDC_RECINFO)->y());
    // Tab order is template order.
    for (int i = 1; i < tabStops.size(); ++i) {
        QWidget* next = tabStops[i - 1]->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        QCOMPARE(next, tabStops[i]);
    }
    QVERIFY(static_cast<QPushButton*>(dlg.GetItem(IDC_STOP))->isDefault());
    QVERIFY(!dlg.GetItem(IDC_STOP)->isEnabled());
    QCOMPARE(static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->text(), QStringLiteral("Purple"));
    QVERIFY(!static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->icon().isNull());
}

void RecorderDlgTest::dialogUnitsRoundLikeThePlatform() {
    const DialogBaseUnits units{6, 13};
    // 142*6/4 = 213, 18*13/8 = 29.25, 164*6/4 = 246, 38*13/8 = 61.75.
    QCOMPARE(MapDialogRect(QRect(142, 18, 22, 20), units), QRect(213, 29, 33, 33));
    // Halves round up: 1*6/4 = 1.5 -> 2, 4*13/8 = 6.5 -> 7.
    QCOMPARE(MapDialogRect(QRect(1, 4, 1, 4), units), QRect(2, 7, 1, 6));
    // The average character width rounds to the nearest pixel.
    QFont font = MakeDialogFont("MS Sans Serif", 8);
    const int extent = QFontMetrics(font).horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QVERIFY(std::abs(BaseUnitsFor(font).cx - extent / 52.0) <= 0.5 + 1.0 / 52);
    QCOMPARE(BaseUnitsFor(font).cy, QFontMetrics(font).height());
}

void RecorderDlgTest::coloursByControlKindInBothSchemes() {
    CMemoryProfileStore profile;
    CTestDlg dlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
    QVERIFY(dlg.IsPurple());  // a fresh profile starts purple
    auto* purple = static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE));
    QVERIFY(purple->isChecked());
    for (bool purpleScheme : {true, false}) {
        if (purple->isChecked() != purpleScheme) purple->click();
        QCOMPARE(dlg.IsPurple(), purpleScheme);
        const QColor background =
            purpleScheme ? QColor(60, 0, 80) : QGuiApplication::palette().color(QPalette::Button);
        const QColor text = purpleScheme ? QColor(255, 255, 255)
                                         : QGuiApplication::palette().color(QPalette::WindowText);
        QCOMPARE(dlg.palette().color(QPalette::Window), background);
        QCOMPARE(dlg.GetItem(IDC_RECINFO)->palette().color(QPalette::WindowText), text);
        QCOMPARE(dlg.GetItem(IDC_PURPLE)->palette().color(QPalette::WindowText), text);
        for (int id : {IDC_BASEFILE, IDC_PRESETS}) {
            QCOMPARE(dlg.GetItem(id)->palette().color(QPalette::ButtonText), QColor(50, 200, 50));
            QCOMPARE(dlg.GetItem(id)->palette().color(QPalette::Button), QColor(0, 0, 0));
        }
        for (int id : {IDC_CURFILE, IDC_CLIPPED, IDC_SONGTIME, IDC_TOTALTIME}) {
            QWidget* line = dlg.GetItem(id);
            QCOMPARE(line->palette().color(QPalette::WindowText), QColor(0, 200, 255));
            QCOMPARE(line->palette().color(QPalette::Window), QColor(0, 0, 0));
            QVERIFY(line->autoFillBackground());
        }
    }
    // 16 colours or fewer: the brighter purple.
    QCOMPARE(SchemeFor(true, ColourCountFromDepth(4), QPalette()).clrBackground,
             QColor(128, 0, 128));
    QCOMPARE(SchemeFor(true, ColourCountFromDepth(8), QPalette()).clrBackground, QColor(60, 0, 80));
}

void RecorderDlgTest::schemeFollowsSystemPaletteAndKeepsPurple() {
    const QPalette original = QGuiApplication::palette();
    CMemoryProfileStore profile;
    profile.WriteProfileInt("Version 1", "Background", 0);
    CTestDlg dlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
    QVERIFY(!dlg.IsPurple());
    QPalette changed = original;
    changed.setColor(QPalette::Button, QColor(10, 120, 30));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    QCOMPARE(dlg.palette().color(QPalette::Window), QColor(10, 120, 30));
    static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->click();
    changed.setColor(QPalette::Button, QColor(200, 20, 30));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    QVERIFY(dlg.IsPurple());
    QCOMPARE(dlg.palette().color(QPalette::Window), QColor(60, 0, 80));
    QApplication::setPalette(original);
}

void RecorderDlgTest::recordWithoutBaseFileAsksThenOpensSaveDialog() {
    WriteWav(Path("in.wav"), {1.0});
    CMemoryProfileStore profile;
    CTestDlg dlg(Path("in.wav"), profile, FilePacing::AsFastAsRead);
    dlg.show();
    QCOMPARE(dlg.GetCount(), 0);
    QCOMPARE(std::string(dlg.GetControl().GetWriter().GetFileName()), std::string());

    QString boxTitle, boxText;
    QStringList filters;
    QString suffix;
    OnNextModal(&dlg, [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        boxTitle = box->windowTitle();
        boxText = box->text();
        OnNextModal(&dlg, [&](QWidget* next) {
            auto* files = qobject_cast<QFileDialog*>(next);
            QVERIFY(files);
            filters = files->nameFilters();
            suffix = files->defaultSuffix();
            ChooseInFileDialog(files, Path("SideA.wav"));
        });
        box->accept();
    });
    static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
    QCOMPARE(boxTitle, QStringLiteral("Missing Destination"));
    QCOMPARE(boxText, QStringLiteral("You need to enter a Base File Name."));
    QCOMPARE(filters, (QStringList{"Windows PCM (*.wav)", "All files (*.*)"}));
    QCOMPARE(suffix, QStringLiteral("wav"));
    // The choice is listed and selected, but nothing was recorded.
    QCOMPARE(dlg.GetCount(), 1);
    QCOMPARE(static_cast<QComboBox*>(dlg.GetItem(IDC_BASEFILE))->currentText(),
             QStringLiteral("SideA.wav"));
    QCOMPARE(QString::fromStdString(dlg.GetBaseFilePath()), Path("SideA.wav"));
    QCOMPARE(QString::fromLatin1(dlg.GetControl().GetWriter().GetFileName()), Path("Untitled.wav"));
    QVERIFY(!dlg.GetControl().IsRecording());
    QVERIFY(!QFile::exists(Path("SideA1.wav")));
}

void RecorderDlgTest::baseFileListRules() {
    QDir(g_workDir).mkpath("other");
    CMemoryProfileStore profile;
    profile.WriteProfileString("Version 1", "OutfileName0", Path("X.wav").toStdString());
    profile.WriteProfileString("Version 1", "OutfileName1", Path("Y.wav").toStdString());
    profile.WriteProfileString("Version 1", "OutfileName2", "");  // skipped
    profile.WriteProfileString("Version 1", "OutfileName3", Path("Z.wav").toStdString());
    auto* dlg = new CTestDlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
    auto* box = static_cast<QComboBox*>(dlg->GetItem(IDC_BASEFILE));
    QCOMPARE(box->count(), 3);
    QCOMPARE(box->itemText(0), QStringLiteral("X.wav"));
    QCOMPARE(box->itemText(1), QStringLiteral("Y.wav"));
    QCOMPARE(box->itemText(2), QStringLiteral("Z.wav"));
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(QString::fromLatin1(dlg->GetControl().GetWriter().GetFileName()), Path("X.wav"));

    // The same name in another folder is a second entry with its own path.
    OnNextModal(dlg, [&](QWidget* m) { ChooseInFileDialog(m, Path("other/Y.wav")); });
    dlg->OnNew();
    QCOMPARE(box->count(), 4);
    QCOMPARE(box->itemText(0), QStringLiteral("Y.wav"));
    QCOMPARE(QString::fromStdString(dlg->GetFullPath(0)), Path("other/Y.wav"));
    QCOMPARE(QString::fromStdString(dlg->GetFullPath(2)), Path("Y.wav"));
    // Choosing a listed path again replaces its entry and puts it on top, selected; New then
    // offers the default name in that folder.
    QString offered;
    OnNextModal(dlg, [&](QWidget* m) {
        offered = static_cast<QFileDialog*>(m)->selectedFiles().value(0);
        ChooseInFileDialog(m, Path("Z.wav"));
    });
    dlg->OnNew();
    QCOMPARE(offered, Path("other/Untitled.wav"));
    QCOMPARE(box->count(), 4);
    QCOMPARE(QString::fromStdString(dlg->GetFullPath(0)), Path("Z.wav"));
    QCOMPARE(QString::fromStdString(dlg->GetBaseFilePath()), Path("Z.wav"));
    for (int i = 1; i < 4; ++i) QVERIFY(dlg->GetFullPath(i) != Path("Z.wav").toStdString());
    // A cancelled New changes nothing.
    OnNextModal(dlg, [](QWidget* m) { static_cast<QDialog*>(m)->reject(); });
    dlg->OnNew();
    QCOMPARE(box->count(), 4);
    QCOMPARE(QString::fromLatin1(dlg->GetControl().GetWriter().GetFileName()),
             Path("Untitled.wav"));
    // A path too long for the recording's path fields is refused, not cut.
    const QString longDir = Path(QString(120, QChar('d')) + "/" + QString(120, QChar('e')));
    QVERIFY(QDir().mkpath(longDir));
    const QString longPath = longDir + "/Long.wav";
    QString refusal;
    OnNextModal(dlg, [&](QWidget* m) {
        OnNextModal(dlg, [&](QWidget* box2) {
            refusal = static_cast<QMessageBox*>(box2)->windowTitle();
            static_cast<QMessageBox*>(box2)->accept();
        });
        ChooseInFileDialog(m, longPath);
    });
    dlg->OnNew();
    QCOMPARE(refusal, QStringLiteral("ERROR"));
    QCOMPARE(box->count(), 4);

    // Picking an entry hands its path to the writer; exit keeps the selected entry first and
    // the first three others in list order.
    box->setCurrentIndex(2);
    emit box->activated(2);
    QCOMPARE(QString::fromLatin1(dlg->GetControl().GetWriter().GetFileName()), Path("X.wav"));
    dlg->OnOK();
    QVERIFY(dlg->HasFinished());
    delete dlg;
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName0", "?")),
             Path("X.wav"));
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName1", "?")),
             Path("Z.wav"));
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName2", "?")),
             Path("other/Y.wav"));
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName3", "?")),
             Path("Y.wav"));
}

void RecorderDlgTest::wholeRecordingFromTheWindow() {
    // Two songs longer than Minimum Song Size (30 s) with a gap longer than Gap Size (1 s)
    // between them, then more than End Gap (7 s) of silence.
    WriteWav(Path("in.wav"), {35.0, -2.0, 33.0, -9.0});
    CMemoryProfileStore profile;
    profile.WriteProfileString("Version 1", "OutfileName0", Path("SideA.wav").toStdString());
    CTestDlg dlg(Path("in.wav"), profile, FilePacing::AsFastAsRead);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.GetMeterThread().IsRunning());
    dlg.showMinimized();
    QTRY_VERIFY(dlg.IsMinimized());
    QVERIFY(!dlg.GetMeterThread().IsRunning());  // minimised: meters paused
    dlg.pictures.clear();

    static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
    QVERIFY(dlg.GetControl().IsRecording());
    for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE})
        QVERIFY2(!dlg.GetItem(id)->isEnabled(), qPrintable(QString::number(id)));
    for (int id : {IDC_STOP, IDOK_EXIT, IDC_HELP, IDC_PURPLE, IDC_RECMIXER})
        QVERIFY2(dlg.GetItem(id)->isEnabled(), qPrintable(QString::number(id)));

    QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
    // Every progress message flipped the picture, starting with the active one; the finish
    // shows the idle one.
    QVERIFY(dlg.pictures.size() > 10);
    for (size_t i = 0; i + 1 < dlg.pictures.size(); ++i) QCOMPARE(dlg.pictures[i], i % 2 == 0);
    QCOMPARE(dlg.pictures.back(), false);
    const QStringList& files = dlg.texts[IDC_CURFILE];
    QCOMPARE(files.first(), QStringLiteral("Cur File: SideA1.wav"));
    QVERIFY(files.contains(QStringLiteral("Cur File: SideA2.wav")));
    QVERIFY(dlg.texts[IDC_SONGTIME].contains(QStringLiteral("Song Time  00:30")));
    QVERIFY(dlg.texts[IDC_TOTALTIME].contains(QStringLiteral("Total Time  01:00")));
    QCOMPARE(dlg.texts[IDC_CLIPPED].last(), QStringLiteral("Clipped Pts: 0"));
    // While minimised the caption carries the progress, then the end.
    QVERIFY(dlg.captions.contains(QStringLiteral("SideA1.wav: Zelk Vellisto")));
    QVERIFY(dlg.captions.contains(QStringLiteral("SideA2.wav: Zelk Vellisto")));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("DONE: Zelk Vellisto"));
    // Controls are back.
    for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE})
        QVERIFY(dlg.GetItem(id)->isEnabled());
    QVERIFY(!dlg.GetItem(IDC_STOP)->isEnabled());
    // Two songs, both finished; the song sizes add up to at least the music and the gap.
    const qint64 first = FinishedDataBytes(Path("SideA1.wav"));
    const qint64 second = FinishedDataBytes(Path("SideA2.wav"));
    QVERIFY(first >= 35LL * kBytesPerSecond);
    QVERIFY(second >= 33LL * kBytesPerSecond);
    QVERIFY(!QFile::exists(Path("SideA3.wav")));

    dlg.showNormal();
    QTRY_VERIFY(!dlg.IsMinimized());
    QVERIFY(dlg.GetMeterThread().IsRunning());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Zelk Vellisto"));
    dlg.OnOK();
}

void RecorderDlgTest::leavingDuringRecordingFinishesTheSong_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("Exit button") << "exit";
    QTest::newRow("close box") << "close";
    QTest::newRow("SIGTERM") << "sigterm";
}

void RecorderDlgTest::leavingDuringRecordingFinishesTheSong() {
    QFETCH(QString, way);
    WriteWav(Path("in.wav"), {20.0});
    {
        CQSettingsProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Live.wav").toStdString());
    }
    CShutdownRequests shutdown;
    QVERIFY(shutdown.IsInstalled());
    {
        CQSettingsProfileStore profile;
        CTestDlg dlg(Path("in.wav"), profile, FilePacing::RealTime);
        connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg,
                &CRecorderDlg::RequestClose);
        dlg.show();
        static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->click();  // to standard
        static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 2);  // some audio has been written
        if (way == "exit") {
            static_cast<QPushButton*>(dlg.GetItem(IDOK_EXIT))->click();
        } else if (way == "close") {
            dlg.close();
        } else {
            ::kill(::getpid(), SIGTERM);
        }
        QTRY_VERIFY(dlg.HasFinished());
        QVERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(!dlg.isVisible());
        QVERIFY(!dlg.GetControl().HasBlockBuffer());
    }
    // The song file is complete and kept, however short; settings and presets are saved.
    const qint64 bytes = FinishedDataBytes(Path("Live1.wav"));
    QVERIFY2(bytes > 0, qPrintable(way));
    QVERIFY(bytes < 20LL * kBytesPerSecond);
    QVERIFY(QFile::exists(Path("Single1.pre")));
    CQSettingsProfileStore profile;
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName0", "")),
             Path("Live.wav"));
    QCOMPARE(profile.GetProfileInt("Version 1", "Background", 1), 0);
}

void RecorderDlgTest::terminationDuringAQuestionAnswersItAndExits() {
    WriteWav(Path("in.wav"), {5.0});
    WriteWav(Path("Keep1.wav"), {1.0});
    const qint64 kept = QFileInfo(Path("Keep1.wav")).size();
    CMemoryProfileStore profile;
    profile.WriteProfileString("Version 1", "OutfileName0", Path("Keep.wav").toStdString());
    CShutdownRequests shutdown;
    CTestDlg dlg(Path("in.wav"), profile, FilePacing::RealTime);
    connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg, &CRecorderDlg::RequestClose);
    dlg.show();
    QString question;
    OnNextModal(&dlg, [&](QWidget* modal) {
        question = modal->windowTitle();
        ::kill(::getpid(), SIGTERM);  // the overwrite question is still open
    });
    static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
    QCOMPARE(question, QStringLiteral("File Exists"));
    QTRY_VERIFY(dlg.HasFinished());
    // Answered No: nothing recorded, the existing file untouched, settings saved.
    QVERIFY(!dlg.GetControl().IsRecording());
    QCOMPARE(QFileInfo(Path("Keep1.wav")).size(), kept);
    QCOMPARE(QString::fromStdString(profile.GetProfileString("Version 1", "OutfileName0", "")),
             Path("Keep.wav"));
}

void RecorderDlgTest::escapeNeverLeavesARecordingUnfinished() {
    WriteWav(Path("in.wav"), {20.0});
    CMemoryProfileStore profile;
    profile.WriteProfileString("Version 1", "OutfileName0", Path("Esc.wav").toStdString());
    CTestDlg dlg(Path("in.wav"), profile, FilePacing::RealTime);
    dlg.show();
    static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
    QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 1);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.GetControl().IsRecording());
    static_cast<QPushButton*>(dlg.GetItem(IDC_STOP))->click();
    QTRY_VERIFY(!dlg.GetControl().IsRecording());
    QVERIFY(FinishedDataBytes(Path("Esc1.wav")) > 0);
    // Idle, Escape is the dialog's cancel: it ends the window without saving.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QVERIFY(dlg.HasFinished());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(profile.GetProfileInt("Version 1", "Background", -7), -7);
}

void RecorderDlgTest::hotKeyFallsBackToAWindowShortcut() {
    WriteWav(Path("in.wav"), {20.0});
    CMemoryProfileStore profile;
    profile.WriteProfileString("Version 1", "OutfileName0", Path("Hot.wav").toStdString());
    CTestDlg dlg(Path("in.wav"), profile, FilePacing::RealTime);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QVERIFY(!dlg.HasGlobalHotKey());  // offscreen: no global grab
    QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(dlg.GetControl().IsRecording());
    QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 1);
    QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
    QTRY_VERIFY(!dlg.GetControl().IsRecording());
    QVERIFY(FinishedDataBytes(Path("Hot1.wav")) > 0);
    dlg.OnOK();
}

void RecorderDlgTest::restartRestoresSettingsSchemeListAndPlacement() {
    {
        CQSettingsProfileStore profile;
        CTestDlg dlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
        dlg.AddBaseFile(Path("Old.wav").toStdString());
        dlg.AddBaseFile(Path("New.wav").toStdString());
        static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->click();
        dlg.GetControl().m_settings.nSamplesPerSec = 48000;
        dlg.move(140, 90);
        dlg.show();
        dlg.OnOK();
    }
    QVERIFY(QFile::exists(Path("cfg/Zelk/Vellistro.conf")));
    CQSettingsProfileStore profile;
    CTestDlg dlg(Path("none.wav"), profile, FilePacing::AsFastAsRead);
    QVERIFY(!dlg.IsPurple());
    QVERIFY(!static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->isChecked());
    QCOMPARE(dlg.palette().color(QPalette::Window),
             QGuiApplication::palette().color(QPalette::Button));
    QCOMPARE(dlg.GetCount(), 2);
    QCOMPARE(QString::fromStdString(dlg.GetFullPath(0)), Path("New.wav"));
    QCOMPARE(QString::fromStdString(dlg.GetFullPath(1)), Path("Old.wav"));
    QCOMPARE(dlg.GetControl().m_settings.nSamplesPerSec, 48000u);
    QCOMPARE(dlg.pos(), QPoint(140, 90));
    dlg.OnOK();
}

int main(int argc, char** argv) {
    QTemporaryDir work;
    g_workDir = work.path();
    qputenv("XDG_CONFIG_HOME", QDir(g_workDir).filePath("cfg").toLocal8Bit());
    QDir::setCurrent(g_workDir);
    QApplication app(argc, argv);
    RecorderDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "RecorderDlgTest.moc"
