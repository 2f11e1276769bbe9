// The Review window driven through its widgets and keys, offscreen, on a take of three song
// files and the test playback backend, which plays exactly as far as the test pulls it.
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextBrowser>
#include <QUndoStack>
#include <random>

#include "audio/capture/FileCaptureBackend.h"
#include "audio/playback/TestPlaybackBackend.h"
#include "resources/ControlIds.h"
#include "settings/ClickRepairSetting.h"
#include "settings/ProfileStore.h"
#include "take/ClickRepairStream.h"
#include "ui/HelpViewer.h"
#include "ui/RecorderDlg.h"
#include "ui/ReviewDlg.h"
#include "ui/tests/TestSupport.h"

namespace {
// SideA1.wav: 2 s of tone, 0.5 s of silence; SideA2.wav: 0.5 s silence, 2 s tone, 0.5 s
// silence; SideA3.wav: 0.5 s silence, 2 s tone. The cuts lie in the middle of the silences.
constexpr uint64_t kCut0 = 110250;
constexpr uint64_t kCut1 = 242550;
constexpr uint64_t kTotal = 352800;
constexpr int kFrameBytes = 4;

void WriteTake() {
    WriteWav(Path("SideA1.wav"), {2.0, -0.5});
    WriteWav(Path("SideA2.wav"), {-0.5, 2.0, -0.5});
    WriteWav(Path("SideA3.wav"), {-0.5, 2.0});
}

// The sample bytes of the files, one after the other.
testsupport::Bytes Samples(const QStringList& names) {
    testsupport::Bytes all;
    for (const QString& name : names) {
        const testsupport::Bytes data = testsupport::ReadWav(Path(name).toStdString()).Data();
        all.insert(all.end(), data.begin(), data.end());
    }
    return all;
}

// SideA1.wav and SideA2.wav: 3 s each of music (three tones and faint noise, about -12 dBFS)
// with a loud click that swings both ways at each of kClicks, in one channel.
struct PlantedClick {
    uint64_t nFrame;
    int nChannel;
};
constexpr PlantedClick kClicks[] = {{30000, 0}, {90000, 1}, {160000, 0}};
constexpr uint64_t kClickLength = 5;

void WriteClickyTake() {
    const size_t frames = 3 * kRate;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 1e-4);
    std::vector<double> side(2 * 2 * frames);
    for (size_t i = 0; i < 2 * frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double t = double(i) / kRate;
            side[2 * i + size_t(c)] =
                0.12 * std::sin(2 * M_PI * 220 * t + c) + 0.08 * std::sin(2 * M_PI * 587 * t) +
                0.05 * std::sin(2 * M_PI * 1730 * t + 0.3 * c) + noise(random);
        }
    }
    for (const PlantedClick& click : kClicks) {
        for (uint64_t i = 0; i < kClickLength; ++i)
            side[2 * (click.nFrame + i) + size_t(click.nChannel)] +=
                0.4 * std::exp(-3.0 * double(i) / kClickLength) * std::cos(2.2 * double(i));
    }
    for (size_t file = 0; file < 2; ++file) {
        testsupport::Bytes pcm;
        for (size_t k = file * 2 * frames; k < (file + 1) * 2 * frames; ++k) {
            const int16_t v = int16_t(std::lround(side[k] * 32767));
            const char* bytes = reinterpret_cast<const char*>(&v);
            pcm.insert(pcm.end(), bytes, bytes + 2);
        }
        testsupport::WriteWav(Path(QStringLiteral("SideA%1.wav").arg(file + 1)).toStdString(),
                              {16, kRate, 2}, pcm);
    }
}

// Reject: the main window closing it because the program is told to end.
enum Way { EscapeKey, CloseButton, TitleBar, EscapeInTitle, Reject };

struct Review {
    CTestPlaybackBackend* playback = new CTestPlaybackBackend;
    CMemoryProfileStore profile;
    std::unique_ptr<CReviewDlg> dlg;

    explicit Review(double gapSeconds = 1.0, void (*write)() = WriteTake,
                    std::vector<uint64_t> suggested = {}) {
        write();
        const TakeOpening opening = OpenTake(Path("SideA.wav").toStdString());
        if (!opening.Ok()) qFatal("take: %s", DescribeTakeRefusal(opening).c_str());
        ReviewOptions options;
        options.fGapSeconds = gapSeconds;
        options.suggestedCuts = std::move(suggested);
        options.scheme = SchemeFor(true, 16777216, QPalette());
        options.pProfile = &profile;
        dlg = std::make_unique<CReviewDlg>(opening.take,
                                           std::unique_ptr<IPlaybackBackend>(playback), options);
        dlg->show();
        dlg->activateWindow();  // the window's shortcuts (undo, redo) need it active
        if (!QTest::qWaitForWindowActive(dlg.get())) qFatal("the window did not become active");
        dlg->GetZoom().setFocus();
    }
    QWidget* Zoom() { return &dlg->GetZoom(); }
    std::vector<uint64_t> Cuts() const { return dlg->GetCuts().Cuts(); }
    QString Cell(int row, int column) { return dlg->GetSongList().item(row, column)->text(); }
    void SetTitle(int row, const QString& title) {
        dlg->GetSongList().item(row, 1)->setText(title);
    }
    QStringList Titles() {
        QStringList titles;
        for (const std::string& t : dlg->GetCuts().Titles()) titles << QString::fromStdString(t);
        return titles;
    }
};
}  // namespace

class ReviewDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QDir dir(g_workDir);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) dir.remove(name);
    }

    // The overview comes from the background reading; its strip shows the tone where it is and
    // nothing but the gap lines where the side is silent.
    void overviewShowsTheWholeSide() {
        Review r;
        QSignalSpy ready(r.dlg.get(), &CReviewDlg::OverviewReady);
        QVERIFY(r.dlg->HasOverview() || ready.wait());
        QVERIFY(r.dlg->HasOverview());
        CWaveView& overview = r.dlg->GetOverview();
        QCOMPARE(overview.First(), uint64_t(0));
        QCOMPARE(overview.Last(), kTotal);
        const QImage image = overview.grab().toImage();
        const auto greenRows = [&](uint64_t frame) {
            int rows = 0;
            const int x = int(image.width() * double(frame) / double(kTotal));
            for (int y = 0; y < image.height(); ++y)
                rows += image.pixelColor(x, y) == QColor(50, 200, 50);
            return rows;
        };
        QVERIFY2(greenRows(44100) > image.height() / 8, "the tone of the first song");  // -12 dBFS
        QVERIFY2(greenRows(kCut0 - 5000) <= 1, "the silence before the first cut");
    }

    void keysMoveTheSelectedCut_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("cut");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("Right: 10 ms") << int(Qt::Key_Right) << 0 << 0 << qint64(kCut0 + 441);
        QTest::newRow("Shift+Left: a frame")
            << int(Qt::Key_Left) << int(Qt::ShiftModifier) << 0 << qint64(kCut0 - 1);
        QTest::newRow("Ctrl+Right: 1 s")
            << int(Qt::Key_Right) << int(Qt::ControlModifier) << 0 << qint64(kCut0 + 44100);
        // Never onto or past a neighbour: at most to one frame after the cut before it.
        QTest::newRow("Ctrl+Left x4 stops at the cut before")
            << int(Qt::Key_Left) << int(Qt::ControlModifier) << 1 << qint64(kCut0 + 1);
    }
    void keysMoveTheSelectedCut() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, cut);
        QFETCH(qint64, expected);
        Review r;
        if (cut == 1) QTest::keyClick(r.Zoom(), Qt::Key_Down);
        QCOMPARE(r.dlg->SelectedCut(), cut);
        const int presses = cut == 1 ? 4 : 1;
        for (int i = 0; i < presses; ++i)
            QTest::keyClick(r.Zoom(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(qint64(r.Cuts()[size_t(cut)]), expected);
        // The list follows: the song after the cut starts there.
        const uint64_t ms = uint64_t(expected) * 1000 / 44100;
        QCOMPARE(r.Cell(cut + 1, 2), QStringLiteral("0:%1.%2")
                                         .arg(ms / 1000, 2, 10, QLatin1Char('0'))
                                         .arg(ms % 1000, 3, 10, QLatin1Char('0')));
    }

    // A cut dragged in the zoomed view lands on the frame under the mouse, as one undoable move;
    // a press away from any cut sets the play position instead.
    void aCutDraggedWithTheMouse() {
        Review r;
        CWaveView& zoom = r.dlg->GetZoom();
        const int x = zoom.XOf(kCut0);
        const int y = zoom.height() / 2;
        QTest::mousePress(&zoom, Qt::LeftButton, {}, QPoint(x + 2, y));
        QTest::mouseMove(&zoom, QPoint(x + 30, y));
        QTest::mouseMove(&zoom, QPoint(x + 60, y));
        QCOMPARE(r.Cuts()[0], kCut0);  // not before the button is let go
        QTest::mouseRelease(&zoom, Qt::LeftButton, {}, QPoint(x + 60, y));
        QCOMPARE(r.Cuts()[0], zoom.FrameAt(x + 60));
        QVERIFY(r.Cuts()[0] > kCut0);
        QCOMPARE(r.dlg->GetUndoStack().count(), 1);
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts()[0], kCut0);

        QTest::mouseClick(&zoom, Qt::LeftButton, {}, QPoint(x - 100, y));
        QCOMPARE(zoom.PlayPosition(), qint64(zoom.FrameAt(x - 100)));
        QCOMPARE(r.Cuts()[0], kCut0);
    }

    void undoAndRedoMovesJoinsAndTitles() {
        Review r;
        r.SetTitle(0, QStringLiteral("One"));
        r.SetTitle(1, QStringLiteral("Two"));
        r.SetTitle(2, QStringLiteral("Three"));
        QTest::keyClick(r.Zoom(), Qt::Key_Right);
        QTest::keyClick(r.Zoom(), Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0 + 442, kCut1}));
        QTest::keyClick(r.Zoom(), Qt::Key_Down);
        QTest::keyClick(r.Zoom(), Qt::Key_Delete);  // join songs 2 and 3
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0 + 442}));
        QCOMPARE(r.Titles(), (QStringList{"One", "Two"}));
        QCOMPARE(r.dlg->GetSongList().rowCount(), 2);

        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0 + 442, kCut1}));
        QCOMPARE(r.Titles(), (QStringList{"One", "Two", "Three"}));
        QCOMPARE(r.Cell(2, 1), QStringLiteral("Three"));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0, kCut1}));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);  // the last title typed
        QCOMPARE(r.Titles(), (QStringList{"One", "Two", ""}));

        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0 + 441, kCut1}));
        QCOMPARE(r.Titles(), (QStringList{"One", "Two", "Three"}));
    }

    void playsAroundTheCutAndCutsWhereItStopped() {
        Review r;
        const testsupport::Bytes take = Samples({"SideA1.wav", "SideA2.wav", "SideA3.wav"});
        QTest::keyClick(r.Zoom(), Qt::Key_Down);
        QTest::keyClick(r.Zoom(), Qt::Key_Space);
        QCOMPARE(r.playback->PlayCount(), 1);
        QCOMPARE(r.playback->Pull(4410), size_t(4410));
        const uint64_t from = kCut1 - 3 * 44100;
        const std::vector<uint8_t>& heard = r.playback->Heard();
        QCOMPARE(heard.size(), size_t(4410 * kFrameBytes));
        QVERIFY(
            std::equal(heard.begin(), heard.end(), take.begin() + ptrdiff_t(from * kFrameBytes)));
        QTest::keyClick(r.Zoom(), Qt::Key_Space);  // stops
        QCOMPARE(r.playback->GetState(), PlaybackState::Idle);
        QCOMPARE(r.dlg->GetZoom().PlayPosition(), qint64(from + 4410));
        QTest::keyClick(r.Zoom(), Qt::Key_Insert);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0, from + 4410, kCut1}));
        QCOMPARE(r.dlg->GetSongList().rowCount(), 4);

        // Played to the end of the range, the window learns it from the backend's thread.
        QTest::keyClick(r.Zoom(), Qt::Key_Space);
        QCOMPARE(r.playback->PlayCount(), 2);
        auto* play = r.dlg->findChild<QPushButton*>(QStringLiteral("play"));
        QCOMPARE(play->text(), QStringLiteral("Stop"));
        r.playback->PullToEnd();
        QTRY_COMPARE(play->text(), QStringLiteral("Play Cut"));
        QCOMPARE(r.dlg->GetZoom().PlayPosition(), qint64(from + 4410 + 3 * 44100));
    }

    void snapsToTheMiddleOfTheQuietStretch() {
        Review r(0.8);
        QTest::keyClick(r.Zoom(), Qt::Key_Right, Qt::ControlModifier);  // into the tone
        QTest::keyClick(r.Zoom(), Qt::Key_S);
        const int64_t snapped = int64_t(r.Cuts()[0]);
        QVERIFY2(std::abs(snapped - int64_t(kCut0)) <= 441, qPrintable(QString::number(snapped)));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts()[0], kCut0 + 44100);
    }

    void pastedTrackListFillsTheTitlesAndNames() {
        Review r;
        QCOMPARE(r.Cell(0, 4), QStringLiteral("SideA1.wav"));
        QApplication::clipboard()->setText(
            QStringLiteral("1. Intro  3:12\n2 - Second Song (4:01)\n03 Outro\n"));
        r.dlg->GetPasteButton().click();
        QCOMPARE(r.Titles(), (QStringList{"Intro", "Second Song", "Outro"}));
        QCOMPARE(r.Cell(1, 1), QStringLiteral("Second Song"));
        QCOMPARE(r.Cell(1, 4), QStringLiteral("02 Second Song.wav"));
        r.dlg->GetNumberingBox().setCurrentIndex(1);
        r.dlg->GetSideBox().setValue(3);
        QCOMPARE(r.Cell(2, 0), QStringLiteral("B1"));
        QCOMPARE(r.Cell(2, 4), QStringLiteral("B01 Outro.wav"));
        // A take of side B alone.
        r.dlg->GetFirstSideBox().setCurrentIndex(1);
        r.dlg->GetSideBox().setValue(1);
        QCOMPARE(r.Cell(0, 0), QStringLiteral("B1"));
        QCOMPARE(r.Cell(2, 4), QStringLiteral("B03 Outro.wav"));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Titles(), (QStringList{"", "", ""}));
    }

    // Three songs that run into each other (dips of 0.4 s, shorter than Gap Size) with the live
    // cut 12 s late: the sleeve's times, a few seconds off or given for one song only, put the
    // cuts in the dips, as one edit.
    void pastedTimesPlaceTheCuts_data() {
        QTest::addColumn<QString>("list");
        QTest::newRow("times off") << QStringLiteral("A1 Alpha 0:22\nA2 Beta 0:24\nA3 Gamma 0:15");
        QTest::newRow("one time") << QStringLiteral("Alpha\nBeta (0:25)\nGamma");
    }
    void pastedTimesPlaceTheCuts() {
        QFETCH(QString, list);
        Review r(1.0, [] {
            WriteWav(Path("SideA1.wav"), {20.0, -0.4, 12.0});
            WriteWav(Path("SideA2.wav"), {13.0, -0.4, 15.0});
        });
        QSignalSpy ready(r.dlg.get(), &CReviewDlg::OverviewReady);
        QVERIFY(r.dlg->HasOverview() || ready.wait());
        QVERIFY(r.dlg->GetPlaceByTimesButton().isHidden());
        QApplication::clipboard()->setText(list);
        r.dlg->GetPasteButton().click();
        QVERIFY(!r.dlg->GetPlaceByTimesButton().isHidden());
        r.dlg->GetPlaceByTimesButton().click();
        const std::vector<uint64_t> cuts = r.Cuts();
        QCOMPARE(cuts.size(), size_t(2));
        QVERIFY2(std::llabs(int64_t(cuts[0]) - int64_t(20.2 * 44100)) < 441,
                 qPrintable(QString::number(cuts[0])));
        QVERIFY2(std::llabs(int64_t(cuts[1]) - int64_t(45.6 * 44100)) < 441,
                 qPrintable(QString::number(cuts[1])));
        QCOMPARE(r.Titles(), (QStringList{"Alpha", "Beta", "Gamma"}));
        const QString status = r.dlg->GetStatusLine().text();
        QVERIFY2(status.contains(QStringLiteral("cut 1 moved -12.2 s, cut 2 added at 0:45.")),
                 qPrintable(status));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts(), std::vector<uint64_t>{uint64_t(32.4 * 44100)});
    }

    // The summary's suggested cuts open as one unkept edit, said so; Undo gives the take's own.
    void suggestedCutsOpenAsAnEdit() {
        Review r(1.0, WriteTake, {kCut0 + 4410});
        QCOMPARE(r.Cuts(), std::vector<uint64_t>{kCut0 + 4410});
        QVERIFY(r.dlg->GetStatusLine().text().contains(QStringLiteral("suggest")));
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.Cuts(), (std::vector<uint64_t>{kCut0, kCut1}));
    }

    void patternsThatCouldCollideOrLeaveAreRefused_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("accepted");
        // Each reason a pattern is refused is the names' own test; here the window's answer.
        QTest::newRow("numbered") << "{n:02} {title}.wav" << true;
        QTest::newRow("one name for all") << "Song.wav" << false;
    }
    void patternsThatCouldCollideOrLeaveAreRefused() {
        QFETCH(QString, pattern);
        QFETCH(bool, accepted);
        Review r;
        QLineEdit& field = r.dlg->GetPatternField();
        field.selectAll();
        QTest::keyClicks(&field, pattern);
        QCOMPARE(field.text(), pattern);
        QCOMPARE(r.dlg->GetKeepButton().isEnabled(), accepted);
        const QString status = r.dlg->GetStatusLine().text();
        QCOMPARE(status.startsWith(QStringLiteral("File names refused: ")), !accepted);
        if (!accepted) QVERIFY(status.size() > 25);
        QCOMPARE(r.Cell(0, 4).isEmpty(), !accepted);
    }

    void keepRewritesTheSongsAtTheNewCuts_data() {
        QTest::addColumn<int>("format");       // the Format box's entry
        QTest::addColumn<QString>("foreign");  // a file of another take in the way, or ""
        QTest::addColumn<bool>("titled");      // a track list pasted, or the take's own names
        QTest::addColumn<QString>("middle");   // the second song's title
        QTest::newRow("WAV") << 0 << QString() << true << "Middle";
        QTest::newRow("WAV under the take's own names") << 0 << QString() << false << "Middle";
        QTest::newRow("FLAC") << 1 << QString() << true << "Middle";
        QTest::newRow("a name taken by another file") << 0 << "02 Middle.wav" << true << "Middle";
        QTest::newRow("a title too long for a file name")
            << 0 << QString() << true << QString(300, QLatin1Char('m'));
    }
    void keepRewritesTheSongsAtTheNewCuts() {
        QFETCH(int, format);
        QFETCH(QString, foreign);
        QFETCH(bool, titled);
        QFETCH(QString, middle);
        Review r;
        if (!foreign.isEmpty()) WriteWav(Path(foreign), {-0.1});
        const QStringList old{"SideA1.wav", "SideA2.wav", "SideA3.wav"};
        const testsupport::Bytes before = Samples(old);
        QTest::keyClick(r.Zoom(), Qt::Key_Right, Qt::ControlModifier);
        QApplication::clipboard()->setText("Intro\n" + middle + "\nEnd\n");
        if (titled) r.dlg->GetPasteButton().click();
        r.dlg->GetFormatBox().setCurrentIndex(format);
        QTest::keyClicks(&r.dlg->GetAlbumField(), QStringLiteral("Album"));
        const QString ext = format == 1 ? QStringLiteral(".flac") : QStringLiteral(".wav");
        const QStringList kept =
            titled ? QStringList{"01 Intro" + ext, "02 " + middle.left(200) + ext, "03 End" + ext}
                   : old;
        QCOMPARE(r.Cell(1, 4), kept[1]);

        QSignalSpy finished(r.dlg.get(), &CReviewDlg::KeepFinished);
        r.dlg->GetKeepButton().click();
        QVERIFY(finished.count() == 1 || finished.wait());
        const QString status = r.dlg->GetStatusLine().text();
        if (!foreign.isEmpty()) {
            QCOMPARE(finished.at(0).at(0).toBool(), false);
            QVERIFY2(status.startsWith(QStringLiteral("Not kept: ")) && status.size() > 20,
                     qPrintable(status));
            QCOMPARE(Samples(old), before);
            QVERIFY(r.dlg->GetUndoStack().canUndo());  // the edits are still there to keep
            QVERIFY(r.dlg->GetKeepButton().isEnabled());
            return;
        }
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QVERIFY2(status.startsWith(QStringLiteral("Kept 3 songs: %1 to %2.").arg(kept[0], kept[2])),
                 qPrintable(status));
        // A shortened name is told, with the name it got.
        QCOMPARE(status.contains("song 2") && status.contains(kept[1]), middle.size() > 200);
        if (titled) {
            for (const QString& name : old) QVERIFY2(!QFile::exists(Path(name)), qPrintable(name));
        }
        QVERIFY(QFile::exists(Path("SideA.txt")));
        QVERIFY(QFile::exists(Path("SideA.cue")));
        if (format == 1) {
            // The songs' samples are the keep's own test; here the window after it: no take of
            // WAV files is left to review, only Close remains.
            QVERIFY(!r.dlg->GetKeepButton().isEnabled());
            QVERIFY(!r.dlg->GetSongList().isEnabled());
            return;
        }
        QCOMPARE(Samples(kept), before);
        QCOMPARE(FinishedDataBytes(Path(kept[0])), qint64((kCut0 + 44100) * kFrameBytes));
        // The window goes on with the kept take: nothing left to undo, the cuts where they went.
        QCOMPARE(int(r.dlg->GetTake().files.size()), 3);
        QCOMPARE(r.Cuts()[0], kCut0 + 44100);
        QVERIFY(!r.dlg->GetUndoStack().canUndo());
        const QStringList titles =
            titled ? QStringList{"Intro", middle, "End"} : QStringList{"", "", ""};
        QCOMPARE(r.Titles(), titles);
    }

    // Each way out of the window asks about edits not yet kept, and only then; Escape in a
    // title being typed takes back the typing alone.
    void closingAsksAboutUnkeptEdits_data() {
        QTest::addColumn<int>("edit");  // 0: none, 1: a cut moved, 2: moved and undone
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("answer");  // QMessageBox::NoButton: no question expected
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("kept");
        QTest::newRow("an edit undone") << 2 << false << int(EscapeKey) << 0 << false << false;
        QTest::newRow("Cancel") << 1 << false << int(CloseButton) << int(QMessageBox::Cancel)
                                << true << false;
        QTest::newRow("Discard") << 1 << false << int(TitleBar) << int(QMessageBox::Discard)
                                 << false << false;
        QTest::newRow("Keep") << 1 << false << int(EscapeKey) << int(QMessageBox::Save) << false
                              << true;
        QTest::newRow("Keep while the names are refused")
            << 1 << true << int(CloseButton) << int(QMessageBox::Save) << true << false;
        QTest::newRow("the program told to end")
            << 1 << false << int(Reject) << 0 << false << false;
        QTest::newRow("Escape in a title")
            << 0 << false << int(EscapeInTitle) << 0 << true << false;
    }
    void closingAsksAboutUnkeptEdits() {
        QFETCH(int, edit);
        QFETCH(bool, refused);
        QFETCH(int, way);
        QFETCH(int, answer);
        QFETCH(bool, open);
        QFETCH(bool, kept);
        Review r;
        if (edit > 0) QTest::keyClick(r.Zoom(), Qt::Key_Right);
        if (edit > 1) QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        if (refused) r.dlg->GetPatternField().setText(QStringLiteral("Song.wav"));
        QStringList boxes;
        if (answer != QMessageBox::NoButton)
            AnswerNextBox(r.dlg.get(), QMessageBox::StandardButton(answer), &boxes);
        QSignalSpy finished(r.dlg.get(), &CReviewDlg::KeepFinished);
        if (way == EscapeKey) QTest::keyClick(r.Zoom(), Qt::Key_Escape);
        if (way == CloseButton) {
            for (QPushButton* b : r.dlg->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Close")) b->click();
        }
        if (way == TitleBar) r.dlg->close();
        if (way == Reject) static_cast<QDialog*>(r.dlg.get())->reject();
        if (way == EscapeInTitle) {
            // The editor ends when the window loses the focus, which a window manager on a busy
            // machine may take away for a moment: the offscreen run holds this row.
            if (QGuiApplication::platformName() == QStringLiteral("xcb"))
                QSKIP("a window manager may take the focus from the title being typed");
            QTableWidget& list = r.dlg->GetSongList();
            list.editItem(list.item(0, 1));
            QPointer<QLineEdit> editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            QVERIFY(editor);
            // As the window system sends them: shortcuts are looked for first.
            for (char c : {'T', 'y', 'p', 'e', 'd'}) QTest::keyClick(r.dlg->windowHandle(), c);
            QVERIFY(editor);
            QCOMPARE(editor->text(), QStringLiteral("Typed"));
            QTest::keyClick(r.dlg->windowHandle(), Qt::Key_Escape);
            QCOMPARE(r.Cell(0, 1), QString());
            QCOMPARE(r.Titles(), (QStringList{"", "", ""}));
        }
        if (kept) QVERIFY(finished.count() == 1 || finished.wait());
        QCOMPARE(r.dlg->isVisible(), open);
        QCOMPARE(boxes.size(), answer != QMessageBox::NoButton ? 1 : 0);
        if (!boxes.isEmpty())
            QVERIFY2(boxes[0].contains(QStringLiteral("Keep your changes")), qPrintable(boxes[0]));
        QCOMPARE(FinishedDataBytes(Path("SideA1.wav")), qint64((kCut0 + (kept ? 441 : 0)) * 4));
        if (open) QCOMPARE(r.Cuts()[0], kCut0 + (edit == 1 ? 441 : 0));  // the edit stays
    }

    // Repair Clicks finds the planted clicks off the window thread and marks and counts them;
    // a click plays repaired or as it was, differing at its own samples alone; one left as it
    // was comes back with Undo; Keep writes the other repairs and every other sample as it was.
    void repairsClicksListensToThemAndKeepsThem() {
        Review r(1.0, WriteClickyTake);
        const QStringList files{"SideA1.wav", "SideA2.wav"};
        const testsupport::Bytes before = Samples(files);
        // The sensitivity is remembered in the profile and chosen there the next time.
        QCOMPARE(r.dlg->GetSensitivityBox().currentIndex(), 1);
        r.dlg->GetSensitivityBox().setCurrentIndex(2);
        QCOMPARE(LoadClickRepairLevel(r.profile), 2);
        {
            ReviewOptions options;
            options.pProfile = &r.profile;
            CReviewDlg again(r.dlg->GetTake(), nullptr, options);
            QCOMPARE(again.GetSensitivityBox().currentText(), QStringLiteral("Strong"));
        }
        r.dlg->GetSensitivityBox().setCurrentIndex(1);

        QSignalSpy searched(r.dlg.get(), &CReviewDlg::ClicksSearched);
        r.dlg->GetRepairButton().click();
        QVERIFY(r.dlg->IsRepairing());
        QVERIFY(searched.wait(60000));
        QCOMPARE(r.dlg->GetStatusLine().text(),
                 QStringLiteral("Repaired 3 clicks in 2 songs; Keep writes them."));
        const std::vector<ReviewClick> clicks = r.dlg->GetClicks().Clicks();
        QCOMPARE(clicks.size(), size_t(3));
        for (size_t k = 0; k < 3; ++k) {
            QVERIFY(clicks[k].nFirst <= kClicks[k].nFrame + 1);
            QVERIFY(clicks[k].nEnd >= kClicks[k].nFrame + kClickLength - 1);
        }
        QCOMPARE(r.Cell(0, 5), QStringLiteral("2 clicks"));
        QCOMPARE(r.Cell(1, 5), QStringLiteral("1 click"));
        QCOMPARE(Samples(files), before);  // nothing on the disk yet, and closing would ask
        QVERIFY(r.dlg->HasUnkeptEdits());
        const QImage overview = r.dlg->GetOverview().grab().toImage();
        const int x = r.dlg->GetOverview().XOf(clicks[2].nFirst);
        QCOMPARE(overview.pixelColor(x, overview.height() - 2), QColor(255, 120, 200));

        // Selected by its mark, then by the key; the zoomed view shows it.
        QTest::mouseClick(&r.dlg->GetOverview(), Qt::LeftButton, {},
                          QPoint(x, r.dlg->GetOverview().height() - 3));
        QCOMPARE(r.dlg->SelectedClick(), 2);
        QTest::keyClick(r.Zoom(), Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(r.dlg->SelectedClick(), 1);
        QVERIFY(r.dlg->GetZoom().First() <= clicks[1].nFirst &&
                clicks[1].nFirst < r.dlg->GetZoom().Last());

        // Space: repaired; Shift+Space: as the take has it. They differ at the click alone.
        QTest::keyClick(r.Zoom(), Qt::Key_Space);
        r.playback->PullToEnd();
        const testsupport::Bytes repaired(r.playback->Heard().begin(), r.playback->Heard().end());
        QTest::keyClick(r.Zoom(), Qt::Key_Space, Qt::ShiftModifier);
        QCOMPARE(r.playback->PlayCount(), 2);
        r.playback->PullToEnd();
        const testsupport::Bytes original(r.playback->Heard().begin(), r.playback->Heard().end());
        const uint64_t from = clicks[1].nFirst - 44100;
        QCOMPARE(original.size(), size_t((clicks[1].nEnd + 44100 - from) * kFrameBytes));
        QVERIFY(std::equal(original.begin(), original.end(),
                           before.begin() + ptrdiff_t(from * kFrameBytes)));
        int differing = 0;
        for (size_t i = 0; i < repaired.size(); i += 2) {
            if (repaired[i] == original[i] && repaired[i + 1] == original[i + 1]) continue;
            const uint64_t frame = from + i / kFrameBytes;
            QVERIFY(frame >= clicks[1].nFirst && frame < clicks[1].nEnd);
            QCOMPARE(int(i % kFrameBytes / 2), kClicks[1].nChannel);
            ++differing;
        }
        QVERIFY(differing >= 3);

        // Left as it was, and back with Undo; then left for good, with the button.
        QTest::keyClick(r.Zoom(), Qt::Key_Delete);
        QCOMPARE(r.dlg->GetClicks().Clicks().size(), size_t(2));
        QCOMPARE(r.Cell(0, 5), QStringLiteral("1 click"));
        QCOMPARE(r.Cuts().size(), size_t(1));  // no cut joined
        QTest::keyClick(r.Zoom(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(r.dlg->GetClicks().Clicks().size(), size_t(3));
        QCOMPARE(r.dlg->SelectedClick(), 1);
        r.dlg->GetLeaveClickButton().click();
        const std::vector<ClickRepair> kept = r.dlg->GetClicks().Repairs();
        QCOMPARE(r.dlg->GetClicks().Clicks().size(), size_t(2));

        QSignalSpy finished(r.dlg.get(), &CReviewDlg::KeepFinished);
        r.dlg->GetKeepButton().click();
        QVERIFY(finished.count() == 1 || finished.wait());
        QVERIFY(finished.at(0).at(0).toBool());
        testsupport::Bytes expected = before;
        ApplyRepairsAt(expected.data(), r.dlg->GetTake().format, 0, expected.size() / kFrameBytes,
                       kept, true);
        QVERIFY(expected != before);
        QVERIFY(Samples(files) == expected);
        // The kept take is the one shown now: its files hold the repairs.
        QVERIFY(r.dlg->GetClicks().Clicks().empty());
    }

    void f1OpensTheReviewHelp() {
        Review r;
        QTest::keyClick(r.Zoom(), Qt::Key_F1);
        CHelpViewer* viewer = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<CHelpViewer*>(w); v && v->isVisible()) viewer = v;
        QVERIFY(viewer);
        const QString page = viewer->GetBrowser()->source().path();
        ResetHelp();
        QVERIFY2(page.endsWith(QStringLiteral("/review.md")), qPrintable(page));
    }

    // Review... in the main window offers the base file's folder and its first song file, and
    // opens the window on the take of whichever song file is chosen.
    void mainWindowOpensReviewOnTheChosenTake() {
        WriteTake();
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("SideA.wav").toStdString());
        CRecorderDlg main(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        main.SetPlaybackFactory([] { return std::make_unique<CTestPlaybackBackend>(); });
        QString offered;
        int files = 0;
        ChooseNextFile(&main, Path("SideA2.wav"), &offered, [&](QFileDialog* dialog) {
            OnNextModal(dialog, [&](QWidget* review) {
                auto* dlg = qobject_cast<CReviewDlg*>(review);
                if (dlg) files = int(dlg->GetTake().files.size());
                review->close();
            });
        });
        static_cast<QPushButton*>(main.GetItem(IDC_REVIEW))->click();
        QCOMPARE(offered, QDir(g_workDir).absolutePath() + "/SideA1.wav");
        QCOMPARE(files, 3);
    }

    // A take with a song file missing is not opened: the box says which one.
    void mainWindowSaysWhyATakeCannotBeReviewed() {
        WriteTake();
        QFile::remove(Path("SideA2.wav"));
        CMemoryProfileStore profile;
        CRecorderDlg main(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        QStringList boxes;
        AnswerNextBox(&main, QMessageBox::Ok, &boxes);
        main.OpenReview(Path("SideA3.wav").toStdString());
        const QString text = boxes.value(0);
        QVERIFY2(text.contains(QStringLiteral("SideA2.wav")), qPrintable(text));
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<ReviewDlgTest>(argc, argv); }

#include "ReviewDlgTest.moc"
