// Saves a picture of each message box the mixer buttons show, for the documentation: the
// window runs on a scripted capture device and fake cards, and each box is grabbed as it shows.
// Usage: vellisto_mixer_screenshots <output-dir> <name-suffix>
// The scale factor comes from QT_SCALE_FACTOR.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "audio/capture/TestCaptureBackend.h"
#include "audio/mixer/FakeMixerBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/MixerButtons.h"
#include "ui/RecorderDlg.h"

namespace {

struct Program : IVolumeControl {
    bool Open(MixerView, uint32_t, const std::string&) override { return bStarts; }
    VolumeControlKind Kind() const override {
        return bStarts ? VolumeControlKind::Graphical : VolumeControlKind::None;
    }
    bool bStarts = true;
};

FakeMixerCard Card(std::initializer_list<std::pair<uint32_t, const char*>> sources) {
    std::vector<FakeMixerSource> list;
    for (const auto& [type, name] : sources) {
        FakeMixerSource source;
        source.nType = type;
        source.strName = name;
        list.push_back(source);
    }
    return FakeMixerCard::Recording(MIXERCONTROL_CONTROLTYPE_MIXER, std::move(list));
}

struct Shot {
    const char* name;
    int button;
    FakeMixerCard card;
    bool bCaptureFails = false;
    bool bProgramStarts = true;
};

// The box under a plain caption bar with its title: offscreen there is no window frame, and the
// title tells the mixer's own "Error" box from the application's standard one.
QPixmap WithCaption(QMessageBox* box) {
    const QPixmap body = box->grab();
    const qreal ratio = body.devicePixelRatio();
    const QFontMetrics metrics(box->font());
    const int caption = metrics.height() + 8;
    QPixmap picture(QSize(body.width(), body.height() + qRound(caption * ratio)));
    picture.setDevicePixelRatio(ratio);
    QPainter painter(&picture);
    const QRect bar(0, 0, qRound(body.width() / ratio), caption);
    painter.fillRect(bar, box->palette().color(QPalette::Highlight));
    painter.setPen(box->palette().color(QPalette::HighlightedText));
    painter.setFont(box->font());
    painter.drawText(bar.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     box->windowTitle());
    painter.drawPixmap(0, caption, body);
    return picture;
}

// Presses the button and saves the first message box it shows; false when none showed or the
// picture could not be saved.
bool Take(const Shot& shot, const QString& path) {
    auto card = std::make_shared<FakeMixerCard>(shot.card);
    auto capture = std::make_unique<CTestCaptureBackend>();
    if (shot.bCaptureFails) capture->FailAt(TestOp::Open);
    CMemoryProfileStore profile;
    CRecorderDlg dlg(std::move(capture), profile);
    Program program;
    program.bStarts = shot.bProgramStarts;
    dlg.GetMixerButtons().SetMixerBackendFactory([card] { return MakeFakeMixerBackend(card); });
    dlg.GetMixerButtons().SetVolumeControl(&program);
    dlg.show();

    bool saved = false, taken = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (!taken) saved = WithCaption(box).save(path);
        taken = true;
        box->accept();
    });
    poll.start(20);
    static_cast<QAbstractButton*>(dlg.GetItem(shot.button))->click();
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output-dir> <name-suffix>\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString suffix = QString::fromLocal8Bit(argv[2]);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const FakeMixerCard line = Card({{MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic"},
                                     {MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line"}});
    FakeMixerCard unopenable = line;
    unopenable.failing.insert(MixerOp::Open);
    const Shot shots[] = {
        {"device-problem", IDC_RECMIXER, line, true},
        {"autoconfig-device-problem", IDC_AUTOCONFIG, line, true},
        {"autoconfig-line-in", IDC_AUTOCONFIG, line},
        {"autoconfig-microphone", IDC_AUTOCONFIG,
         Card({{MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic"}})},
        {"autoconfig-manual", IDC_AUTOCONFIG,
         Card({{MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD"}})},
        {"autoconfig-sound-server", IDC_AUTOCONFIG, Card({})},
        {"autoconfig-no-mixer", IDC_AUTOCONFIG, unopenable},
        {"no-volume-program", IDC_PLAYMIXER, line, false, false},
    };
    bool ok = true;
    for (const Shot& shot : shots)
        ok &= Take(shot, QStringLiteral("%1/mixer-%2%3.png").arg(outDir, shot.name, suffix));
    return ok ? 0 : 1;
}
