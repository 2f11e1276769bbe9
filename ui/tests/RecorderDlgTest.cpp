// The real main window, offscreen, recording from WAV files through the file capture backend.
#include <signal.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <cstring>
#include <thread>

#include "audio/capture/FileCaptureBackend.h"
#include "audio/capture/TestCaptureBackend.h"
#include "engine/ParamScales.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "resources/Resources.h"
#include "settings/ProfileStore.h"
#include "settings/QSettingsProfileStore.h"
#include "take/CutCheck.h"
#include "take/Take.h"
#include "ui/DialogBuilder.h"
#include "ui/RecorderDlg.h"
#include "ui/ShutdownRequests.h"
#include "ui/SideSummaryDlg.h"
#include "ui/tests/TestSupport.h"

namespace {
QString Q(const std::string& text) { return QString::fromStdString(text); }
QString BaseFile(IProfileStore& profile, int i) {
    return Q(profile.GetProfileString("Version 1", "OutfileName" + std::to_string(i), "?"));
}

// Writes the input in.wav and makes `base` the chosen base file.
void Prepare(IProfileStore& profile, const QString& base, std::initializer_list<double> input) {
    WriteWav(Path("in.wav"), input);
    profile.WriteProfileString("Version 1", "OutfileName0", Path(base).toStdString());
}

// True when the texts name song files (pattern with %1 for the number) whose numbers never go
// back.
bool IsForwardSequence(const QStringList& texts, const QString& pattern) {
    int last = 0;
    for (const QString& text : texts) {
        int number = 0;
        for (int n = 1; n <= 3 && number == 0; ++n)
            if (text == pattern.arg(n)) number = n;
        if (number < last || number == 0) return false;
        last = number;
    }
    return !texts.isEmpty();
}

// The window recording from in.wav, logging what the recording control shows.
class CTestDlg : public CRecorderDlg {
public:
    explicit CTestDlg(IProfileStore& profile, FilePacing pacing = FilePacing::AsFastAsRead)
        : CRecorderDlg(MakeFileCaptureBackend(Path("in.wav").toStdString(), pacing), profile) {}
    CTestDlg(IProfileStore& profile, std::unique_ptr<ICaptureBackend> backend)
        : CRecorderDlg(std::move(backend), profile) {}

    void ShowRecordingPicture(bool active) override {
        pictures.push_back(active);
        CRecorderDlg::ShowRecordingPicture(active);
    }
    void SetItemText(int id, const std::string& text) override {
        texts[id].append(Q(text));
        CRecorderDlg::SetItemText(id, text);
    }
    void SetCaption(const std::string& caption) override {
        // A progress caption names the file the label shown just before it names.
        if (Q(caption).endsWith(".wav: Zelk Vellisto")) {
            captionsAgree = captionsAgree && !texts[IDC_CURFILE].isEmpty() &&
                            "Cur File: " + Q(caption).chopped(15) == texts[IDC_CURFILE].last();
        }
        CRecorderDlg::SetCaption(caption);
    }

    void Click(int id) { static_cast<QAbstractButton*>(GetItem(id))->click(); }
    QString WriterFile() { return QString::fromLatin1(GetControl().GetWriter().GetFileName()); }
    // The base-file list as "*Shown=path", path relative to the work dir and given only when it
    // differs from the shown name, * marking the selected entry.
    QString Listed() {
        QStringList items;
        for (int i = 0; i < GetCount(); ++i) {
            const QString shown = static_cast<QComboBox*>(GetItem(IDC_BASEFILE))->itemText(i);
            const QString path = QDir(g_workDir).relativeFilePath(Q(GetFullPath(i)));
            items.append((i == GetCurSel() ? "*" : "") + shown + (path == shown ? "" : "=" + path));
        }
        return items.join(' ');
    }
    // Controls locked while recording, and the Stop button, enabled only then.
    void VerifyEnabledWhileRecording(bool recording) {
        for (int id :
             {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE, IDC_REVIEW, IDC_STOP})
            QVERIFY2(GetItem(id)->isEnabled() == (recording == (id == IDC_STOP)),
                     qPrintable(QString::number(id)));
        for (int id : {IDOK_EXIT, IDC_HELP, IDC_PURPLE, IDC_RECMIXER})
            QVERIFY2(GetItem(id)->isEnabled(), qPrintable(QString::number(id)));
    }

    // With bCatchBoxes, a box is answered at once, and whether the busy cursor was over it is
    // noted; so is whether it was over the summary, when the end of a recording shows one.
    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override {
        if (!bCatchBoxes) return CRecorderDlg::MessageBox(text, title, icon, buttons);
        boxesBusy.append(QApplication::overrideCursor() != nullptr);
        return MsgAnswer::Ok;
    }
    void OnRecordingEnded(const RecordingReport& report) override {
        CRecorderDlg::OnRecordingEnded(report);
        if (GetSideSummary().isVisible())
            summaryBusy.append(QApplication::overrideCursor() != nullptr);
    }
    // With bStopUntilTheEnd, Stop's pause lasts until the recording has ended, as it does on a
    // quick disk.
    bool Wait(int ms) override {
        if (!bStopUntilTheEnd) return CRecorderDlg::Wait(ms);
        return QTest::qWaitFor([this] { return !GetControl().IsRecording(); }, 30000);
    }

    std::vector<bool> pictures;
    std::map<int, QStringList> texts;
    bool captionsAgree = true;
    bool bCatchBoxes = false;
    bool bStopUntilTheEnd = false;
    QList<bool> boxesBusy;
    QList<bool> summaryBusy;
};
}  // namespace

class RecorderDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init() {  // a fresh profile and no presets or song files
        QDir dir(g_workDir);
        for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
        QDir(Path("cfg")).removeRecursively();
        QDir(Path("data")).removeRecursively();
    }

    // Every control of the template inside the window, none covered by a closed combo box, tab
    // order as in the template.
    void layoutFollowsTheTemplate() {
        CMemoryProfileStore profile;
        CTestDlg dlg(profile);
        const DlgTemplate* tpl = FindDialogTemplate(102);
        QVERIFY(tpl);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Zelk Vellisto"));
        QList<QWidget*> tabStops;
        for (int i = 0; i < tpl->count; ++i) {
            if (tpl->items[i].id < 0) continue;
            QWidget* w = dlg.GetItem(tpl->items[i].id);
            QVERIFY2(w && dlg.rect().contains(w->geometry()),
                     qPrintable(QString::number(tpl->items[i].id)));
            if (tpl->items[i].style & kDlgTabStop) tabStops.append(w);
        }
        QVERIFY(dlg.GetItem(IDC_PRESETS)->geometry().bottom() < dlg.GetItem(IDC_CUSTOMIZE)->y());
        QVERIFY(dlg.GetItem(IDC_BASEFILE)->geometry().bottom() < dlg.GetItem(IDC_RECINFO)->y());
        for (int i = 1; i < tabStops.size(); ++i) {
            QWidget* next = tabStops[i - 1]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
            QCOMPARE(next, tabStops[i]);
        }
        QVERIFY(static_cast<QPushButton*>(dlg.GetItem(IDC_STOP))->isDefault());
        QVERIFY(!static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->icon().isNull());
    }

    void coloursByControlKindAndSchemeSwitch() {
        const QPalette system = QGuiApplication::palette();
        CMemoryProfileStore profile;
        CTestDlg dlg(profile);
        QVERIFY(dlg.IsPurple());  // a fresh profile starts purple
        auto* purple = static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE));
        for (bool purpleScheme : {true, false}) {
            QCOMPARE(purple->isChecked(), purpleScheme);
            QCOMPARE(dlg.palette().color(QPalette::Window),
                     purpleScheme ? QColor(60, 0, 80) : system.color(QPalette::Button));
            QCOMPARE(dlg.GetItem(IDC_RECINFO)->palette().color(QPalette::WindowText),
                     purpleScheme ? Qt::white : system.color(QPalette::WindowText));
            // Combo boxes green on black, the readouts cyan on black, in either scheme.
            QCOMPARE(dlg.GetItem(IDC_PRESETS)->palette().color(QPalette::ButtonText),
                     QColor(50, 200, 50));
            // Their lists too, opened.
            auto* presets = static_cast<QComboBox*>(dlg.GetItem(IDC_PRESETS));
            presets->showPopup();
            QTRY_VERIFY(presets->view()->isVisible());
            QCOMPARE(presets->view()->palette().color(QPalette::Base), QColor(0, 0, 0));
            QCOMPARE(presets->view()->palette().color(QPalette::Text), QColor(50, 200, 50));
            QCOMPARE(presets->view()->window()->palette().color(QPalette::Window), QColor(0, 0, 0));
            presets->hidePopup();
            QWidget* line = dlg.GetItem(IDC_TOTALTIME);
            QCOMPARE(line->palette().color(QPalette::WindowText), QColor(0, 200, 255));
            QCOMPARE(line->palette().color(QPalette::Window), QColor(0, 0, 0));
            QVERIFY(line->autoFillBackground());
            purple->click();
        }
        // The standard scheme follows a system palette change; the purple one keeps its colour.
        for (QColor button : {QColor(10, 120, 30), QColor(200, 20, 30)}) {
            QPalette changed = system;
            changed.setColor(QPalette::Button, button);
            QApplication::setPalette(changed);
            QCoreApplication::processEvents();
            QCOMPARE(dlg.palette().color(QPalette::Window),
                     dlg.IsPurple() ? QColor(60, 0, 80) : button);
            purple->click();
        }
        QApplication::setPalette(system);
        // 16 colours or fewer: the brighter purple.
        QCOMPARE(SchemeFor(true, ColourCountFromDepth(4), QPalette()).clrBackground,
                 QColor(128, 0, 128));
    }

    void recordWithoutBaseFileAsksThenOpensSaveDialog() {
        CMemoryProfileStore profile;
        WriteWav(Path("in.wav"), {1.0});
        CTestDlg dlg(profile);
        dlg.show();
        QCOMPARE(dlg.Listed(), QString());
        QCOMPARE(dlg.WriterFile(), QString());
        QStringList boxes;
        QString filters;
        AnswerNextBox(&dlg, QMessageBox::Ok, &boxes, [&](QMessageBox*) {
            ChooseNextFile(&dlg, Path("SideA.wav"), nullptr, [&](QFileDialog* files) {
                filters = files->nameFilters().join('|') + " ." + files->defaultSuffix();
            });
        });
        dlg.Click(IDC_RECORD);
        QCOMPARE(boxes, QStringList{"Missing Destination: You need to enter a Base File Name."});
        QCOMPARE(filters, QStringLiteral("WAV audio (*.wav)|All files (*) .wav"));
        // The choice is listed and selected, but nothing was recorded.
        QCOMPARE(dlg.Listed(), QStringLiteral("*SideA.wav"));
        QCOMPARE(dlg.WriterFile(), Path("Untitled.wav"));
        QVERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(!QFile::exists(Path("SideA1.wav")));
    }

    void baseFileListRules() {
        QDir(g_workDir).mkpath("other");
        CMemoryProfileStore profile;
        const char* stored[] = {"X.wav", "Y.wav", nullptr, "Z.wav"};  // an empty entry is skipped
        for (int i = 0; i < 4; ++i)
            profile.WriteProfileString("Version 1", "OutfileName" + std::to_string(i),
                                       stored[i] ? Path(stored[i]).toStdString() : "");
        auto dlg = std::make_unique<CTestDlg>(profile);
        QCOMPARE(dlg->Listed(), QStringLiteral("*X.wav Y.wav Z.wav"));
        QCOMPARE(dlg->WriterFile(), Path("X.wav"));

        // The same name in another folder is a second entry with its own path.
        ChooseNextFile(dlg.get(), Path("other/Y.wav"));
        dlg->OnNew();
        QCOMPARE(dlg->Listed(), QStringLiteral("*Y.wav=other/Y.wav X.wav Y.wav Z.wav"));
        // The folder tells them apart: the entries' tooltips and the box's.
        auto* box = static_cast<QComboBox*>(dlg->GetItem(IDC_BASEFILE));
        QCOMPARE(box->itemData(0, Qt::ToolTipRole).toString(), Path("other/Y.wav"));
        QCOMPARE(box->itemData(2, Qt::ToolTipRole).toString(), Path("Y.wav"));
        QVERIFY2(box->toolTip().endsWith("\n" + Path("other/Y.wav")), qPrintable(box->toolTip()));
        // A listed path chosen again replaces its entry and goes on top, selected; New then
        // offers the default name in that folder.
        QString offered;
        ChooseNextFile(dlg.get(), Path("Z.wav"), &offered);
        dlg->OnNew();
        QCOMPARE(offered, Path("other/Untitled.wav"));
        QCOMPARE(dlg->Listed(), QStringLiteral("*Z.wav Y.wav=other/Y.wav X.wav Y.wav"));
        QCOMPARE(Q(dlg->GetBaseFilePath()), Path("Z.wav"));
        // A cancelled New changes nothing.
        ChooseNextFile(dlg.get(), QString());
        dlg->OnNew();
        QCOMPARE(dlg->Listed(), QStringLiteral("*Z.wav Y.wav=other/Y.wav X.wav Y.wav"));
        QCOMPARE(dlg->WriterFile(), Path("Untitled.wav"));
        // A path too long for the recording's path fields is refused, not cut.
        const QString longDir = Path(QString(120, 'd') + "/" + QString(120, 'e'));
        QVERIFY(QDir().mkpath(longDir));
        QStringList refusal;
        ChooseNextFile(dlg.get(), longDir + "/Long.wav", nullptr,
                       [&](QFileDialog*) { AnswerNextBox(dlg.get(), QMessageBox::Ok, &refusal); });
        dlg->OnNew();
        QVERIFY2(refusal.value(0).startsWith("ERROR: "), qPrintable(refusal.join('|')));
        QCOMPARE(dlg->GetCount(), 4);

        // Picking an entry hands its path to the writer; exit keeps the selected entry first
        // and the first three others in list order.
        box->setCurrentIndex(2);
        emit box->activated(2);
        QCOMPARE(dlg->WriterFile(), Path("X.wav"));
        QVERIFY(box->toolTip().endsWith("\n" + Path("X.wav")));
        dlg->OnOK();
        QVERIFY(dlg->HasFinished());
        dlg.reset();
        const QStringList saved = {Path("X.wav"), Path("Z.wav"), Path("other/Y.wav"),
                                   Path("Y.wav")};
        for (int i = 0; i < 4; ++i) QCOMPARE(BaseFile(profile, i), saved[i]);
    }

    // A folder too long for the summary's heading loses whole folders in the middle, never
    // the take's own; the tooltip has it all.
    void theSummaryShortensItsFolderByWholeFolders() {
        CMemoryProfileStore profile;
        CTestDlg dlg(profile);
        CSideSummaryDlg& summary = dlg.GetSideSummary();
        const QString folder = "/home/" + QString(60, 'x') + "/" + QString(60, 'y') + "/take1";
        SideSummary side;
        side.strFolder = folder.toStdString();
        side.files.push_back({1, (folder + "/A1.wav").toStdString(), "A1.wav", 0, kRate});
        side.nRate = kRate;
        summary.ShowSide(side, SchemeFor(false, 1 << 24, summary.palette()));
        QCOMPARE(summary.GetHeading()->text(), QString("1 song file in /home/\u2026/take1:"));
        QCOMPARE(summary.GetHeading()->toolTip(), folder);
        summary.close();
        dlg.OnOK();
    }

    // A side cut inside a quiet passage (-40 dB) and not at its gap (a -70 dB floor): the
    // summary's check says so in a line and offers the cuts the side's own levels give.
    void theSummaryChecksTheCutsAgainstTheSidesOwnLevels() {
        CMemoryProfileStore profile;
        CTestDlg dlg(profile);
        WriteLevels(Path("SideA1.wav"), {{6, -12}, {1, -40}});
        WriteLevels(Path("SideA2.wav"), {{1, -40}, {6, -12}, {2.5, -70}, {8, -12}, {1.5, -70}});
        SideSummary side;
        side.strFolder = g_workDir.toStdString();
        for (int k = 1; k <= 2; ++k) {
            const std::string name = "SideA" + std::to_string(k) + ".wav";
            side.files.push_back({k, Path(Q(name)).toStdString(), name, 0, 0});
        }
        side.nRate = kRate;
        CSideSummaryDlg& summary = dlg.GetSideSummary();
        std::vector<uint64_t> reviewed;
        summary.SetReviewHandler(
            [&](const SideSummary&, const std::vector<uint64_t>& cuts) { reviewed = cuts; });
        summary.ShowSide(side, SchemeFor(false, 1 << 24, summary.palette()));
        CSignalAnalyzer params;
        params.SetMinSongSizePosition(-NearestAcceptedPosition(RecSetting::MinSongSize, 5.0));
        summary.CheckCuts([&params](const std::atomic<bool>& cancel) {
            const TakeOpening opening = OpenTake(Path("SideA1.wav").toStdString());
            const CTakeReader reader(opening.take);
            return CheckTakeCuts(reader, params, cancel);
        });
        QSignalSpy checked(&summary, &CSideSummaryDlg::CutsChecked);
        QVERIFY(checked.wait(20000));
        const QString line = summary.GetCheckLine()->text();
        QVERIFY2(line.startsWith(QStringLiteral("1 cut falls inside quiet music; 1 gap of 2.")) &&
                     line.contains(QStringLiteral(" s was not cut (the side's own levels give "
                                                  "Gap Level -5")),
                 qPrintable(line));
        QVERIFY(!summary.GetReviewSuggestedButton()->isHidden());
        summary.GetReviewSuggestedButton()->click();
        QCOMPARE(reviewed.size(), size_t(1));
        // In the floor, a Gap Size in: 14 s to 15.5 s.
        QVERIFY2(reviewed[0] > 14 * kRate && reviewed[0] < 31 * kRate / 2,
                 qPrintable(QString::number(reviewed[0])));

        // A check given up (Record pressed again) never shows.
        summary.CheckCuts([](const std::atomic<bool>& cancel) {
            while (!cancel.load()) std::this_thread::yield();
            return CutCheck{};
        });
        summary.StopCheck();
        QVERIFY(summary.GetCheckLine()->isHidden());
        QVERIFY(summary.GetReviewSuggestedButton()->isHidden());
        summary.close();
        dlg.OnOK();
    }

    // A base file in a folder that does not exist: New asks; No goes back to the choice, Yes
    // makes the folder.
    void newOffersToCreateAMissingFolder() {
        CMemoryProfileStore profile;
        CTestDlg dlg(profile);
        const QString missing = Path("nope/deeper/SideA.wav");
        QStringList seen;
        // The typed path names the folder: the dialog cannot go to a folder that is not there.
        const auto type = [](QWidget* m, const QString& path) {
            auto* name = m->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(path);
            static_cast<QDialog*>(m)->accept();
        };
        OnNextModal(&dlg, [&](QWidget* m) {
            AnswerNextBox(m, QMessageBox::No, &seen, [&](QMessageBox* question) {
                OnNextModal(question, [&](QWidget* again) {
                    seen.append(again->metaObject()->className());
                    AnswerNextBox(again, QMessageBox::Yes, &seen);
                    type(again, missing);
                });
            });
            type(m, missing);
        });
        dlg.OnNew();
        const QString asked =
            "New: The folder " + Path("nope/deeper") + " does not exist.\n\nCreate it?";
        QCOMPARE(seen, QStringList({asked, "QFileDialog", asked}));
        QVERIFY(QFileInfo(Path("nope/deeper")).isDir());
        QCOMPARE(dlg.Listed(), QStringLiteral("*SideA.wav=nope/deeper/SideA.wav"));
        dlg.OnOK();
    }

    void wholeRecordingFromTheWindow() {
        // Two songs longer than Minimum Song Size (30 s) with a gap longer than Gap Size (1 s)
        // between them, then more than End Gap (7 s) of silence.
        CMemoryProfileStore profile;
        Prepare(profile, "SideA.wav", {35.0, -2.0, 33.0, -9.0});
        CTestDlg dlg(profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.GetMeterThread().IsRunning());
        dlg.showMinimized();
        QTRY_VERIFY(dlg.IsMinimized());
        QVERIFY(!dlg.GetMeterThread().IsRunning());  // minimised: meters paused
        dlg.pictures.clear();

        dlg.Click(IDC_RECORD);
        QVERIFY(dlg.GetControl().IsRecording());
        dlg.VerifyEnabledWhileRecording(true);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        dlg.VerifyEnabledWhileRecording(false);
        // Every progress message flipped the picture, starting with the active one; the finish
        // shows the idle one.
        QVERIFY(dlg.pictures.size() >= 2);
        for (size_t i = 0; i + 1 < dlg.pictures.size(); ++i) QCOMPARE(dlg.pictures[i], i % 2 == 0);
        QCOMPARE(dlg.pictures.back(), false);
        // Reports that wait while the window is busy are merged, so it need not show every file;
        // what it shows agrees with the files whatever the scheduling: the names move forward,
        // each caption names the file its label names, and the end shows the last file kept.
        // (A third file held only the closing silence: End Gap deleted it.)
        const QStringList& shown = dlg.texts[IDC_CURFILE];
        QVERIFY(IsForwardSequence(shown.first(shown.size() - 1),
                                  QStringLiteral("Cur File: SideA%1.wav")));
        QCOMPARE(shown.at(shown.size() - 2), QStringLiteral("Cur File: SideA3.wav"));
        QCOMPARE(shown.last(), QStringLiteral("Cur File: SideA2.wav"));
        QVERIFY(!QFile::exists(Path("SideA3.wav")));
        QVERIFY(dlg.captionsAgree);
        QVERIFY(dlg.GetControl().GetTotalBytes() >= 77LL * kBytesPerSecond);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("DONE: Zelk Vellisto"));
        // Two songs, both finished and holding at least their music.
        QVERIFY(FinishedDataBytes(Path("SideA1.wav")) >= 35LL * kBytesPerSecond);
        QVERIFY(FinishedDataBytes(Path("SideA2.wav")) >= 33LL * kBytesPerSecond);
        // The song time is the kept file's own, and New starts from the base name, not from the
        // deleted file's.
        const RecSettings& s = dlg.GetControl().m_settings;
        QCOMPARE(
            dlg.texts[IDC_SONGTIME].last(),
            Q(recording_texts::SongTimeLabel(FinishedDataBytes(Path("SideA2.wav")),
                                             s.wBitsPerSample, s.wChannels, s.nSamplesPerSec)));
        QString offered;
        ChooseNextFile(&dlg, Path("SideA.wav"), &offered);
        dlg.OnNew();
        QCOMPARE(offered, Path("SideA.wav"));
        QCOMPARE(dlg.Listed(), QStringLiteral("*SideA.wav"));

        dlg.showNormal();
        QTRY_VERIFY(!dlg.IsMinimized());
        QVERIFY(dlg.GetMeterThread().IsRunning());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Zelk Vellisto"));
        dlg.OnOK();
    }

    // An earlier take of eight songs: the question names the first few and counts the rest; No
    // leaves them all.
    void theOverwriteQuestionListsTheEarlierTake() {
        CMemoryProfileStore profile;
        Prepare(profile, "Take.wav", {1.0});
        for (int n = 2; n <= 9; ++n) WriteWav(Path(QStringLiteral("Take%1.wav").arg(n)), {1.0});
        CTestDlg dlg(profile);
        dlg.show();
        QStringList boxes;
        AnswerNextBox(&dlg, QMessageBox::No, &boxes);
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY(!boxes.isEmpty());
        QCOMPARE(
            boxes.takeFirst(),
            "File Exists: The file, " + Path("Take2.wav") +
                ", exists.\nIf you will be recording 2 song(s),\nthis file and possibly any "
                "sequentially \nnumbered files will be overwritten.\n\nNumbered files that "
                "exist: Take2.wav, Take3.wav, Take4.wav, Take5.wav, Take6.wav and 3 more (8 in "
                "all).\n\nDo you want to overwrite the file(s)?");
        QVERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(!QFile::exists(Path("Take1.wav")));

        // Yes: the one-song take leaves the earlier take's later songs, named at its end.
        AnswerNextBox(&dlg, QMessageBox::Yes, nullptr,
                      [&](QMessageBox*) { AnswerNextBox(&dlg, QMessageBox::Ok, &boxes); });
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY_WITH_TIMEOUT(!boxes.isEmpty(), 30000);
        QCOMPARE(boxes.first(),
                 QStringLiteral(
                     "Zelk Vellisto: Files of an earlier take remain after this take's last song: "
                     "Take2.wav, Take3.wav, Take4.wav, Take5.wav, Take6.wav and 3 "
                     "more (8 in all).\nThey are not part of this recording and "
                     "were left as they were."));
        QVERIFY(QFile::exists(Path("Take1.wav")));
        QVERIFY(QFile::exists(Path("Take9.wav")));
        // Its take list leaves them out of what Review opens.
        const TakeOpening opened = OpenTake(Path("Take.wav").toStdString());
        QCOMPARE(opened.take.files.size(), size_t(1));
        QCOMPARE(opened.leftOut.size(), size_t(8));
        QVERIFY(opened.leftOutReason == LeftOutReason::NotListed);
        dlg.OnOK();
    }

    // Nothing but silence for End Gap (7 s): the one file stays, and the window says why the
    // recording ended.
    // ... and a name too long for the window shows its end, the number.
    void aSilentSideEndsWithAWord() {
        CMemoryProfileStore profile;
        const QString name = QStringLiteral("The Quiet Orchestra - Evening Concert Side A");
        Prepare(profile, name + ".wav", {-9.0});
        CTestDlg dlg(profile);
        dlg.show();
        QStringList boxes;
        bool summaryBeside = false;
        AnswerNextBox(&dlg, QMessageBox::Ok, &boxes, [&](QMessageBox*) {
            // The summary of the end is there beside the box, and no modal window of its own.
            summaryBeside = dlg.GetSideSummary().isVisible() && !dlg.GetSideSummary().isModal() &&
                            dlg.GetSideSummary().GetFileList()->topLevelItemCount() == 1;
        });
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        QTRY_VERIFY(!boxes.isEmpty());
        QVERIFY(summaryBeside);
        QCOMPARE(boxes.first(),
                 QStringLiteral("Zelk Vellisto: Nothing above Gap Level was heard for 7 s, so "
                                "the recording ended. Check the input and its level, or "
                                "lengthen End Gap."));
        QVERIFY(QFile::exists(Path(name + "1.wav")));
        auto* base = static_cast<CElidingComboBox*>(dlg.GetItem(IDC_BASEFILE));
        QVERIFY2(base->ShownText().startsWith("The") && base->ShownText().endsWith(" A.wav"),
                 qPrintable(base->ShownText()));
        QVERIFY(base->ShownText().size() < name.size());
        auto* file = static_cast<QLabel*>(dlg.GetItem(IDC_CURFILE));
        QVERIFY2(file->text().startsWith("Cur File: ") && file->text().endsWith("Side A1.wav"),
                 qPrintable(file->text()));
        QCOMPARE(file->toolTip(), "Cur File: " + name + "1.wav");
        dlg.OnOK();
    }

    // The end of a side lists the song files on disk, each with its length from its own size,
    // fitting a long name, and opens their folder; Review... shows only with a handler.
    void theEndOfASideListsTheFilesOnDisk() {
        CMemoryProfileStore profile;
        const QString base =
            QStringLiteral("The second side of a long tape, digitised at last.wav");
        Prepare(profile, base, {31.0, -2.0, 32.5, -8.0});
        CTestDlg dlg(profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        CSideSummaryDlg& summary = dlg.GetSideSummary();
        QList<QUrl> opened;
        summary.SetUrlOpener([&](const QUrl& url) {
            opened.append(url);
            return opened.size() > 1;  // the first time, no file manager takes it
        });
        QVERIFY(!summary.isVisible());
        dlg.Click(IDC_RECORD);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        QTRY_VERIFY(summary.isVisible());
        QVERIFY(dlg.isActiveWindow());  // the keys stay with the main window
        // The side checks its own cuts: a clean side's lie at its floor.
        QTRY_COMPARE(summary.GetCheckLine()->text(),
                     QStringLiteral("The cuts lie in the side's quietest passages."));
        QVERIFY(summary.GetReviewSuggestedButton()->isHidden());

        QStringList onDisk, listed;
        const QStringList songs =
            QDir(g_workDir).entryList({"The second side*.wav"}, QDir::Files, QDir::Name);
        for (const QString& name : songs) {
            const qint64 frames = FinishedDataBytes(Path(name)) / 4;
            onDisk.append(name + " " + Q(recording_texts::SongLength(frames, kRate)));
        }
        QTreeWidget* list = summary.GetFileList();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            listed.append(list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1));
        QCOMPARE(listed, onDisk);
        QCOMPARE(listed.size(), 2);  // the closing silence was deleted
        QVERIFY2(listed[0].endsWith(" 0:31") || listed[0].endsWith(" 0:32"), qPrintable(listed[0]));
        // The names show whole, the window lies within the screen.
        const int nameWidth = list->fontMetrics().horizontalAdvance(list->topLevelItem(0)->text(0));
        QVERIFY(list->header()->sectionSize(0) >= nameWidth);
        QVERIFY(summary.screen()->availableGeometry().contains(summary.frameGeometry()));

        QStringList boxes;
        AnswerNextBox(&dlg, QMessageBox::Ok, &boxes);
        summary.GetOpenFolderButton()->click();
        QCOMPARE(
            boxes.value(0),
            summary.windowTitle() +
                ": No file manager could be started to show the folder.\nThe song files are in " +
                QDir(g_workDir).absolutePath() + ".");
        summary.GetOpenFolderButton()->click();
        const QUrl folder = QUrl::fromLocalFile(QDir(g_workDir).absolutePath());
        QCOMPARE(opened, (QList<QUrl>{folder, folder}));
        QVERIFY(summary.GetReviewButton()->isHidden());
        std::vector<std::string> reviewed;
        dlg.SetReviewHandler([&](const SideSummary& side, const std::vector<uint64_t>&) {
            for (const SongFileRecord& file : side.files) reviewed.push_back(file.strShown);
        });
        QVERIFY(!summary.GetReviewButton()->isHidden());
        summary.GetReviewButton()->click();
        QCOMPARE(reviewed.size(), size_t(2));
        QCOMPARE(Q(reviewed[1]), songs[1]);

        // Record works with the summary open and closes it; the next end shows it again.
        AnswerNextBox(&dlg, QMessageBox::Yes);
        dlg.Click(IDC_RECORD);
        QVERIFY(dlg.GetControl().IsRecording());
        QVERIFY(!summary.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        QTRY_VERIFY(summary.isVisible());
        dlg.OnOK();
        QVERIFY(!summary.isVisible());
    }

    // The warnings come and go with the input, in the window's warning line. The device stalls
    // after a chosen block, so the line shows the report of exactly that block; the stall never
    // ends the recording (no no-audio timeout), and a box, should one come, is answered and
    // fails the test instead of waiting for a click.
    void warningsAppearAndClearWhileRecording() {
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Warn.wav").toStdString());
        constexpr int64_t kBlock = 65536;
        // Silence for 10 blocks (3.7 s): past the warning's 3.5 s under the default End Gap of
        // 7 s, which would end the recording at block 19. Then music whose first samples clip.
        constexpr int64_t kSilentBlocks = 10;
        constexpr int64_t kClipped = 400;  // samples: 200 frames, ten periods
        auto backend = std::make_unique<CTestCaptureBackend>();
        CTestCaptureBackend* device = backend.get();
        device->SetGeneratedSource(UINT64_MAX, [](uint64_t offset, uint8_t* dest, uint32_t n) {
            for (uint32_t i = 0; i + 1 < n; i += 2) {
                const int64_t music = int64_t((offset + i) / 2) - kSilentBlocks * kBlock / 2;
                const int16_t level = music < kClipped ? 32767 : 8000;
                // A square wave of 20 frames a period: its edges overshoot full scale behind
                // DC Block, and it holds no DC for DC Block to take.
                const int16_t v = music < 0 ? 0 : ((music / 20) % 2 ? level : int16_t(-level));
                std::memcpy(dest + i, &v, 2);
            }
        });
        device->StallAfter(kSilentBlocks * kBlock);
        CTestDlg dlg(profile, std::move(backend));
        dlg.GetControl().m_nNoAudioTimeoutMs = std::numeric_limits<int>::max();
        dlg.show();
        QStringList boxes;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                boxes.append(box->windowTitle());
                box->reject();
            }
        });
        answer.start(10);
        auto* line = static_cast<QLabel*>(dlg.GetItem(IDC_WARNING));
        const auto shownAt = [&](int64_t blocks) {
            device->StallAfter(uint64_t(blocks * kBlock));
            return QTest::qWaitFor(
                [&] { return dlg.GetControl().GetTotalBytes() == blocks * kBlock; }, 30000);
        };

        dlg.Click(IDC_RECORD);
        QVERIFY(dlg.GetControl().IsRecording());
        QVERIFY(shownAt(kSilentBlocks));
        QCOMPARE(line->text(),
                 QStringLiteral("No sound yet: is the source playing into the chosen input?"));
        QVERIFY(line->isVisible());
        QVERIFY(shownAt(kSilentBlocks + 1));
        const int64_t clipped = dlg.GetControl().GetClippedTotal();
        QVERIFY2(clipped > 0, qPrintable(line->text()));
        QCOMPARE(line->text(),
                 QStringLiteral("Clipping: %1 samples in the last 3 seconds, lower the "
                                "input level")
                     .arg(clipped));
        QVERIFY(shownAt(kSilentBlocks + 2));  // still within the last three seconds
        QVERIFY(line->text().startsWith(QStringLiteral("Clipping: %1 samples").arg(clipped)));
        QVERIFY(shownAt(kSilentBlocks + 13));  // 4.5 s of music without a clip
        QCOMPARE(line->text(), QString());
        QVERIFY(dlg.GetControl().IsRecording());
        dlg.Click(IDC_STOP);
        QTRY_VERIFY(!dlg.GetControl().IsRecording());
        QCOMPARE(boxes, QStringList());
        dlg.OnOK();
    }

    // The end of a recording handled within Stop's pause: its boxes (here, the earlier take's
    // song left beside it) and the summary come with the normal cursor.
    void theEndWithinStopsPauseShowsTheNormalCursor() {
        CMemoryProfileStore profile;
        Prepare(profile, "Cursor.wav", {30.0});
        WriteWav(Path("Cursor5.wav"), {1.0});
        CTestDlg dlg(profile, FilePacing::RealTime);
        dlg.show();
        AnswerNextBox(&dlg, QMessageBox::Yes);
        dlg.Click(IDC_RECORD);
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 2);
        dlg.bCatchBoxes = true;
        dlg.bStopUntilTheEnd = true;
        dlg.Click(IDC_STOP);
        QVERIFY(!dlg.GetControl().IsRecording());
        QCOMPARE(dlg.boxesBusy, QList<bool>{false});
        QCOMPARE(dlg.summaryBusy, QList<bool>{false});
        QVERIFY(!QApplication::overrideCursor());
        dlg.OnOK();
    }

    void leavingDuringRecordingFinishesTheSong_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Exit button") << "exit";
        QTest::newRow("close box") << "close";
        QTest::newRow("SIGTERM") << "sigterm";
    }

    // Every way out finishes the song and saves what a restart restores.
    void leavingDuringRecordingFinishesTheSong() {
        QFETCH(QString, way);
        {
            CQSettingsProfileStore profile;
            Prepare(profile, "Old.wav", {20.0});
        }
        CShutdownRequests shutdown;
        QVERIFY(shutdown.IsInstalled());
        {
            CQSettingsProfileStore profile;
            CTestDlg dlg(profile, FilePacing::RealTime);
            connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg,
                    &CRecorderDlg::RequestClose);
            dlg.AddBaseFile(Path("Live.wav").toStdString());
            dlg.Click(IDC_PURPLE);  // to standard
            dlg.GetControl().m_settings.nGapSize = -2 * 1764;
            dlg.move(140, 90);
            dlg.show();
            dlg.Click(IDC_RECORD);
            QVERIFY(dlg.GetControl().IsRecording());
            QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 2);  // some audio has been written
            if (way == "exit")
                dlg.Click(IDOK_EXIT);
            else if (way == "close")
                dlg.close();
            else
                ::kill(::getpid(), SIGTERM);
            QTRY_VERIFY(dlg.HasFinished());
            QVERIFY(!dlg.GetControl().IsRecording());
            QVERIFY(!dlg.isVisible());
            QVERIFY(!dlg.GetControl().HasBlockBuffer());
        }
        // The song file is complete and kept, however short; settings and presets are saved.
        const qint64 bytes = FinishedDataBytes(Path("Live1.wav"));
        QVERIFY(bytes > 0 && bytes < 20LL * kBytesPerSecond);
        QVERIFY(!QFile::exists(Path("data")));  // the presets were not changed: nothing written
        QVERIFY(QFile::exists(Path("cfg/Zelk/Vellistro.conf")));
        CQSettingsProfileStore profile;
        CTestDlg dlg(profile);
        QCOMPARE(dlg.Listed(), QStringLiteral("*Live.wav Old.wav"));
        QVERIFY(!static_cast<QCheckBox*>(dlg.GetItem(IDC_PURPLE))->isChecked());
        QCOMPARE(dlg.palette().color(QPalette::Window),
                 QGuiApplication::palette().color(QPalette::Button));
        QCOMPARE(dlg.GetControl().m_settings.nGapSize, -2 * 1764);
        QCOMPARE(dlg.pos(), QPoint(140, 90));
        dlg.OnOK();
    }

    void terminationDuringTheQuestionOrThePause_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("question open") << false;
        QTest::newRow("pause after Yes") << true;
    }

    // A request to leave while the overwrite question is open answers it No; one during the
    // pause after "Yes" waits for Record to give up. Either way no recording starts on a
    // finished window, the previous take stays, and the exit saves.
    void terminationDuringTheQuestionOrThePause() {
        QFETCH(bool, yes);
        CMemoryProfileStore profile;
        Prepare(profile, "Keep.wav", {5.0});
        WriteWav(Path("Keep1.wav"), {1.0});
        const qint64 kept = QFileInfo(Path("Keep1.wav")).size();
        CShutdownRequests shutdown;
        CTestDlg dlg(profile, FilePacing::RealTime);
        connect(&shutdown, &CShutdownRequests::ShutdownRequested, &dlg,
                &CRecorderDlg::RequestClose);
        dlg.show();
        QString question;
        OnNextModal(&dlg, [&](QWidget* modal) {
            auto* box = static_cast<QMessageBox*>(modal);
            question = box->windowTitle();
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
            if (!yes) {
                ::kill(::getpid(), SIGTERM);
                return;
            }
            QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
            box->button(QMessageBox::Yes)->click();
        });
        dlg.Click(IDC_RECORD);
        QCOMPARE(question, QStringLiteral("File Exists"));
        QTRY_VERIFY(dlg.HasFinished());
        QVERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(!dlg.GetControl().HasBlockBuffer());
        QVERIFY(dlg.pictures.empty());  // no progress: no thread ran
        QCOMPARE(QFileInfo(Path("Keep1.wav")).size(), kept);
        QCOMPARE(BaseFile(profile, 0), Path("Keep.wav"));
    }

    // Offscreen there is no global grab: Ctrl+S is the window's own shortcut. Escape never
    // closes the main window; Ctrl+Q leaves through the path that saves.
    void hotKeyFallbackAndEscape() {
        CMemoryProfileStore profile;
        Prepare(profile, "Hot.wav", {20.0});
        CTestDlg dlg(profile, FilePacing::RealTime);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QVERIFY(!dlg.HasGlobalHotKey());
        QTest::keyClick(&dlg, Qt::Key_S, Qt::ControlModifier);
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.texts[IDC_TOTALTIME].size() >= 1);
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.GetControl().IsRecording());
        dlg.Click(IDC_STOP);  // a second Ctrl+S stops too: tested with the global grab
        QTRY_VERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(FinishedDataBytes(Path("Hot1.wav")) > 0);
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible());
        QVERIFY(!dlg.HasFinished());
        QTest::keyClick(&dlg, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.HasFinished());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(profile.GetProfileInt("Version 1", "Background", -7), 1);
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<RecorderDlgTest>(argc, argv); }

#include "RecorderDlgTest.moc"
