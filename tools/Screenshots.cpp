// Saves pictures of the recorder for the documentation: the main window in both colour schemes,
// idle (the meters following the input) and recording, with each warning, the meters' tooltip
// when the input cannot be opened, the end-of-side summary, the Custom Settings dialog and the
// Review window (on the take SideB1.wav, SideB2.wav, ... of the current directory, its clicks
// repaired) in both schemes, the help window and About; and the help's own smaller picture of
// the Review window (help/review.png).
// Usage: vellisto_screenshots <input.wav> <output-dir> <name-suffix>
// Runs in the current directory with the profile given by XDG_CONFIG_HOME and the presets under
// XDG_DATA_HOME; the scale factor comes from QT_SCALE_FACTOR. The input plays at its real rate,
// so the meters show what a sound card would give.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "audio/capture/FileCaptureBackend.h"
#include "audio/capture/TestCaptureBackend.h"
#include "engine/LevelMonitor.h"
#include "engine/RecordingControl.h"
#include "settings/PresetStore.h"
#include "settings/ProfileStore.h"
#include "ui/AboutDlg.h"
#include "ui/CustomDlg.h"
#include "ui/HelpViewer.h"
#include "ui/RecorderDlg.h"
#include "ui/RecorderToolTip.h"
#include "ui/ReviewDlg.h"
#include "ui/SideSummaryDlg.h"

namespace {
bool Save(QWidget& window, const QString& path) {
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// The window with the meters' tooltip shown over it: a tooltip is a window of its own, so it is
// painted onto the window's picture where it shows.
bool SaveWithMeterTip(CRecorderDlg& dlg, const QString& path) {
    const QPoint at = dlg.GetMeter(0).geometry().center();
    QToolTip::showText(dlg.mapToGlobal(at), dlg.GetToolTip().TextAt(&dlg, at), &dlg);
    QTest::qWait(300);
    QPixmap picture = dlg.grab();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->inherits("QTipLabel") || !top->isVisible()) continue;
        QPainter painter(&picture);
        const QPoint where = dlg.mapFromGlobal(top->mapToGlobal(QPoint(0, 0)));
        // Kept inside the picture: the tooltip may reach past the window's edge.
        const QSize size = top->size();
        const QPoint fitted(std::clamp(where.x(), 0, std::max(0, dlg.width() - size.width())),
                            std::clamp(where.y(), 0, std::max(0, dlg.height() - size.height())));
        painter.drawPixmap(fitted, top->grab());
    }
    QToolTip::hideText();
    const bool ok = picture.save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// A side on the scripted device, 44,100 frames a second, 16-bit stereo: silence until the
// no-sound warning shows, then three songs with gaps between them, the first starting with a
// few clipped samples, then the silence that ends the side.
constexpr int64_t kBlock = 65536;
constexpr int64_t kLeadBlocks = 10;  // 3.7 s, past the warning under the default End Gap
void SideSamples(uint64_t offset, uint8_t* dest, uint32_t n) {
    constexpr int64_t kLead = kLeadBlocks * kBlock / 4;
    constexpr int64_t kRate = 44100;
    const int64_t songs[][2] = {
        {kLead, 31 * kRate}, {kLead + 33 * kRate, 47 * kRate}, {kLead + 82 * kRate, 35 * kRate}};
    for (uint32_t i = 0; i + 3 < n; i += 4) {
        const int64_t frame = int64_t((offset + i) / 4);
        int16_t v = 0;
        for (const auto& song : songs) {
            const int64_t t = frame - song[0];
            if (t < 0 || t >= song[1]) continue;
            v = t < 200 && song[0] == kLead ? ((t / 10) % 2 ? 32767 : -32767)
                                            : int16_t(9000 * std::sin(2 * M_PI * 440 * t / kRate));
        }
        std::memcpy(dest + i, &v, 2);
        std::memcpy(dest + i + 2, &v, 2);
    }
}

// The window with each warning of a side, then the summary at its end.
bool SaveSide(int purple, const QString& outDir, const QString& scheme, const QString& suffix) {
    QDir music(QDir::current().absoluteFilePath(QStringLiteral("Music")));
    music.removeRecursively();  // no overwrite question in the way
    music.mkpath(QStringLiteral("."));
    CMemoryProfileStore profile;
    profile.WriteProfileInt("Version 1", "Background", purple);
    profile.WriteProfileString(
        "Version 1", "OutfileName0",
        music.absoluteFilePath(QStringLiteral("Side B of the 1978 live tape, second set.wav"))
            .toStdString());
    auto backend = std::make_unique<CTestCaptureBackend>();
    CTestCaptureBackend* device = backend.get();
    device->SetGeneratedSource(UINT64_MAX, SideSamples);
    CRecorderDlg dlg(std::move(backend), profile);
    dlg.GetControl().m_nNoAudioTimeoutMs = 600000;
    dlg.SetReviewHandler(
        [](const SideSummary&, const std::vector<uint64_t>&) {});  // as the program offers it
    dlg.show();
    const auto reach = [&](int64_t blocks) {
        device->StallAfter(uint64_t(blocks * kBlock));
        const bool reached = QTest::qWaitFor(
            [&] { return dlg.GetControl().GetTotalBytes() == blocks * kBlock; }, 60000);
        if (!reached) std::printf("FAILED: the side did not reach block %lld\n", (long long)blocks);
        QTest::qWait(400);  // the meters follow
        return reached;
    };
    bool ok = true;
    device->StallAfter(uint64_t(kLeadBlocks * kBlock));  // before it can run past
    dlg.OnRecord();
    ok &= reach(kLeadBlocks);
    ok &= Save(dlg, QStringLiteral("%1/window-%2-no-sound%3.png").arg(outDir, scheme, suffix));
    ok &= reach(kLeadBlocks + 2);
    ok &= Save(dlg, QStringLiteral("%1/window-%2-clipping%3.png").arg(outDir, scheme, suffix));
    device->Resume();
    ok &= QTest::qWaitFor([&] { return !dlg.GetControl().IsRecording(); }, 60000);
    QTest::qWait(300);
    ok &= Save(dlg.GetSideSummary(),
               QStringLiteral("%1/summary-%2%3.png").arg(outDir, scheme, suffix));
    dlg.OnOK();
    return ok;
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.wav> <output-dir> <name-suffix>\n", argv[0]);
        return 2;
    }
    const std::string input = argv[1];
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString suffix = QString::fromLocal8Bit(argv[3]);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool ok = true;
    for (int purple : {1, 0}) {
        QFile::remove(QStringLiteral("SideA1.wav"));  // no overwrite question in the way
        CMemoryProfileStore profile;
        profile.WriteProfileInt("Version 1", "Background", purple);
        profile.WriteProfileString("Version 1", "OutfileName0",
                                   QDir::current().absoluteFilePath("SideA.wav").toStdString());
        profile.WriteProfileString("Version 1", "OutfileName1",
                                   QDir::current().absoluteFilePath("Tape2.wav").toStdString());
        CRecorderDlg dlg(MakeFileCaptureBackend(input, FilePacing::RealTime),
                         MakeFileCaptureBackend(input, FilePacing::RealTime), profile);
        dlg.show();
        // Monitor: the meters follow the input before Record, a block or two in.
        while (dlg.GetMonitor()->GetBlockCount() < 2) QTest::qWait(50);
        QTest::qWait(400);
        const QString scheme = purple ? QStringLiteral("purple") : QStringLiteral("standard");
        ok &= Save(dlg, QStringLiteral("%1/window-%2-idle%3.png").arg(outDir, scheme, suffix));
        {
            // An input that cannot be opened: dark meters, and their tooltip says why.
            CMemoryProfileStore other;
            other.WriteProfileInt("Version 1", "Background", purple);
            CRecorderDlg failed(MakeFileCaptureBackend(input, FilePacing::RealTime),
                                MakeFileCaptureBackend("Turntable.wav", FilePacing::RealTime),
                                other);
            failed.move(dlg.pos());
            failed.show();
            while (failed.GetMonitor()->GetState() != MonitorState::Failed) QTest::qWait(50);
            QTest::qWait(400);
            ok &= SaveWithMeterTip(
                failed,
                QStringLiteral("%1/window-%2-monitor-failed%3.png").arg(outDir, scheme, suffix));
            failed.OnOK();
        }
        dlg.OnRecord();
        QTest::qWait(1700);  // a few blocks: labels, picture and meters in motion
        // Catch the recording picture in its active phase; it flips with every block.
        for (int i = 0; i < 100 && !dlg.IsPictureActive(); ++i) QTest::qWait(10);
        ok &= Save(dlg, QStringLiteral("%1/window-%2-recording%3.png").arg(outDir, scheme, suffix));
        dlg.OnStop();
        QTest::qWait(400);

        CCustomDlg custom(&dlg.GetPresetStore().m_presets, &dlg.GetPresetStore().m_strPreset,
                          &dlg.GetScheme(), dlg.GetControl().GetWaveIn().GetBackend(), &dlg);
        custom.m_settings = dlg.GetControl().m_settings;
        custom.OnInitDialog();
        custom.show();
        QTest::qWait(200);
        ok &= Save(custom, QStringLiteral("%1/custom-%2%3.png").arg(outDir, scheme, suffix));
        custom.reject();

        const TakeOpening take = OpenTake("SideB.wav");
        if (!take.Ok()) {
            std::printf("FAILED: %s\n", DescribeTakeRefusal(take).c_str());
            return 1;
        }
        ReviewOptions options;
        options.scheme = dlg.GetScheme();
        CReviewDlg review(take.take, MakePortAudioPlayback(), options, &dlg);
        QSignalSpy ready(&review, &CReviewDlg::OverviewReady);
        review.show();
        review.resize(900, 600);  // as on a desktop, whatever the offscreen screen's size
        ready.wait(10000);
        review.PasteTrackList(QStringLiteral(
            "B1. Night Train 3:12\nB2. Harbour Lights 2:58\nB3. The Long Way Home 4:05\n"));
        QSignalSpy searched(&review, &CReviewDlg::ClicksSearched);
        review.RepairClicks();
        searched.wait(20000);
        review.SelectCut(1);
        review.MoveSelectedCut(-4410);
        review.GetSongList().selectRow(1);
        QTest::qWait(200);
        ok &= Save(review, QStringLiteral("%1/review-%2%3.png").arg(outDir, scheme, suffix));
        if (purple && suffix == QStringLiteral("-x1")) {
            // The help's own copy, installed with it and as wide as the help window shows.
            const QString help = outDir + QStringLiteral("/help/review.png");
            const bool saved =
                review.grab().toImage().scaledToWidth(560, Qt::SmoothTransformation).save(help);
            std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(help));
            ok &= saved;
        }
        // The pictures' edits are not to be kept: Discard, when the window asks.
        QTimer::singleShot(0, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Discard)->click();
        });
        review.close();
        dlg.OnOK();
        ok &= SaveSide(purple, outDir, scheme, suffix);
    }

    CHelpViewer* help = ShowHelp();
    if (!help) {
        std::printf("FAILED: no help text found\n");
        return 1;
    }
    QTest::qWait(200);
    ok &= Save(*help, QStringLiteral("%1/help%2.png").arg(outDir, suffix));
    CAboutDlg about;
    about.show();
    QTest::qWait(200);
    ok &= Save(about, QStringLiteral("%1/about%2.png").arg(outDir, suffix));
    CloseHelp();
    return ok ? 0 : 1;
}
