// The Custom Settings dialog, offscreen: trackbars and their labels, switches, rate and device
// choices, every preset operation with its questions, and the round trip through the main
// window (Done applies, Esc does not, presets kept in the data folder).
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>

#include "audio/capture/TestCaptureBackend.h"
#include "audio/capture/WaveInDevice.h"
#include "engine/RecordingControl.h"
#include "settings/PresetLocation.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/TestSupport.h"

namespace {

using D = CCustomDlg;

QStringList Entries(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items.append(box->itemText(i));
    return items;
}

std::unique_ptr<ICaptureBackend> TwoDevices() {
    auto backend = std::make_unique<CTestCaptureBackend>();
    WaveInCaps line{}, usb{};
    std::strcpy(line.szPname, "Line In");
    std::strcpy(usb.szPname, "USB Turntable");
    backend->SetDevices({line, usb});
    return backend;
}

bool IsWithinBox(const QWidget* w, const QWidget* box) {
    for (; w; w = w->parentWidget())
        if (w == box) return true;
    return false;
}

// The controls of an open dialog as a user reaches them.
struct View {
    QSlider* Bar(int id) { return static_cast<QSlider*>(pDlg->GetItem(id)); }
    QString Label(int id) { return static_cast<QLabel*>(pDlg->GetItem(id))->text(); }
    QAbstractButton* Button(int id) { return static_cast<QAbstractButton*>(pDlg->GetItem(id)); }
    QComboBox* Box(int id) { return static_cast<QComboBox*>(pDlg->GetItem(id)); }
    // Replaces the preset box's text by typing, as a user would, in the active dialog.
    void Type(const QString& text) {
        pDlg->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(pDlg));
        QLineEdit* edit = Box(D::IDC_PRESETS)->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        for (QChar c : text)
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    void Choose(const QString& entry) {
        QComboBox* box = Box(D::IDC_PRESETS);
        box->setCurrentIndex(box->findText(entry));
        emit box->activated(box->currentIndex());
    }

    CCustomDlg* pDlg = nullptr;
};

// A dialog shown modelessly on a preset list of its own.
struct Dialog : View {
    explicit Dialog(RecSettings settings = {}) {
        pDlg = &dlg;
        dlg.m_settings = settings;
        dlg.OnInitDialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
    }
    QStringList Names() const {
        QStringList names;
        for (const CPresets& p : presets) names.append(QString::fromStdString(p.GetName()));
        return names;
    }

    std::vector<CPresets> presets = {
        CPresets("Album/Tape", {}),
        CPresets("Zebra", {-900, -300, -3000, -2000, 0, 0, 22050, 32, 1, 1}), CPresets("beta", {})};
    std::string strPreset = "Album/Tape";
    SchemeColours scheme = SchemeFor(true, 16777216, QPalette());
    std::unique_ptr<ICaptureBackend> devices = TwoDevices();
    CCustomDlg dlg{&presets, &strPreset, &scheme, devices.get()};
};

// The main window on a test capture backend; message boxes are noted, not shown.
class CMainDlg : public CRecorderDlg {
public:
    explicit CMainDlg(IProfileStore& profile) : CRecorderDlg(TwoDevices(), profile) {}
    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon,
                         MsgButtons) override {
        boxes.append(QString::fromStdString(title + ": " + text));
        return MsgAnswer::Ok;
    }
    QComboBox* Presets() { return static_cast<QComboBox*>(GetItem(IDC_PRESETS)); }
    // Runs Customize, handing the open dialog to `use`, which ends it.
    void Customize(std::function<void(View&)> use) {
        OnNextModal(this, [use](QWidget* modal) {
            View view{qobject_cast<CCustomDlg*>(modal)};
            QVERIFY(view.pDlg);
            use(view);
        });
        OnCustomize();
    }

    QStringList boxes;
};

}  // namespace

class CustomDlgTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir(Path("data")).removeRecursively(); }

    void trackbarsLabelTheirEndsAndKeepEndGapWithinMinimumSong() {
        Dialog d;
        const struct {
            int bar, label;
            const char *top, *bottom;
            int step;
        } bars[] = {{D::IDC_GAPSIZE, D::IDC_GAPSIZE_LABEL, "2.20 secs", "0.20 secs", 352},
                    {D::IDC_GAPLEVEL, D::IDC_GAPLEVEL_LABEL, "-20.0 dB", "-90.3 dB", 327},
                    {D::IDC_MINSONG, D::IDC_MINSONG_LABEL, "120 secs", "10 secs", 1940},
                    {D::IDC_ENDSIZE, D::IDC_ENDSIZE_LABEL, "30 secs", " 5 secs", 441}};
        // Labels of both ends, reached with the keys (Home is the top).
        for (const auto& b : bars) {
            QSlider* bar = d.Bar(b.bar);
            QCOMPARE(bar->tickInterval(), b.step);
            QCOMPARE(bar->pageStep(), b.step);
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key_Home);
            QCOMPARE(d.Label(b.label), QString::fromLatin1(b.top));
            QTest::keyClick(bar, Qt::Key_End);
            QCOMPARE(d.Label(b.label), QString::fromLatin1(b.bottom));
        }
        QCOMPARE(d.dlg.m_settings.nGapSize, -353);

        // Every arrow key moves the label by one of its steps, a page key by ten, whatever the
        // scale: Up makes the value larger.
        const struct {
            int bar, label, position;
            const char *shown, *up, *pageUp, *down;
        } keys[] = {
            {D::IDC_GAPSIZE, D::IDC_GAPSIZE_LABEL, -1764, "1.00 secs", "1.01 secs", "1.11 secs",
             "1.10 secs"},
            {D::IDC_GAPLEVEL, D::IDC_GAPLEVEL_LABEL, -582, "-35.0 dB", "-34.5 dB", "-29.5 dB",
             "-30.0 dB"},
            // Near the bottom one position is more than a step: the next one.
            {D::IDC_GAPLEVEL, D::IDC_GAPLEVEL_LABEL, -3, "-80.8 dB", "-78.3 dB", "-73.4 dB",
             "-74.7 dB"},
            {D::IDC_ENDSIZE, D::IDC_ENDSIZE_LABEL, -1764, "10 secs", "11 secs", "21 secs",
             "20 secs"},
        };
        for (const auto& k : keys) {
            QSlider* bar = d.Bar(k.bar);
            bar->setValue(k.position);
            QCOMPARE(d.Label(k.label), QString::fromLatin1(k.shown));
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key_Up);
            QCOMPARE(d.Label(k.label), QString::fromLatin1(k.up));
            QTest::keyClick(bar, Qt::Key_PageUp);
            QCOMPARE(d.Label(k.label), QString::fromLatin1(k.pageUp));
            QTest::keyClick(bar, Qt::Key_Down);
            QCOMPARE(d.Label(k.label), QString::fromLatin1(k.down));
        }
        // At the end of the scale the key stops there.
        d.Bar(D::IDC_GAPSIZE)->setValue(-3870);
        QTest::keyClick(d.Bar(D::IDC_GAPSIZE), Qt::Key_PageUp);
        QCOMPARE(d.Label(D::IDC_GAPSIZE_LABEL), QStringLiteral("2.20 secs"));

        // While dragging, the label follows.
        d.Bar(D::IDC_GAPLEVEL)->setSliderDown(true);
        d.Bar(D::IDC_GAPLEVEL)->setSliderPosition(-582);
        QCOMPARE(d.Label(D::IDC_GAPLEVEL_LABEL), QStringLiteral("-35.0 dB"));
        d.Bar(D::IDC_GAPLEVEL)->setSliderDown(false);

        // End gap 20 s, minimum song down to 10 s: the end gap follows; minimum song 20 s, end
        // gap up to 30 s: the minimum song follows.
        d.Bar(D::IDC_MINSONG)->setValue(-5293);
        d.Bar(D::IDC_ENDSIZE)->setValue(-3528);
        d.Bar(D::IDC_MINSONG)->setValue(-1764);
        QCOMPARE(d.dlg.m_settings.nEndSize, -1764);
        QCOMPARE(d.Label(D::IDC_ENDSIZE_LABEL), QStringLiteral("10 secs"));
        d.Bar(D::IDC_MINSONG)->setValue(-3528);
        d.Bar(D::IDC_ENDSIZE)->setValue(-5292);
        QCOMPARE(d.Bar(D::IDC_MINSONG)->value(), -5292);
    }

    void switchesRatesAndDevicesFollowTheRecord() {
        {
            Dialog d({-1764, -582, -5293, -1236, 0, 1, 48000, 32, 2, 1});
            QVERIFY(!d.Button(D::IDC_DCBLOCK)->isChecked() &&
                    d.Button(D::IDC_SMARTGAP)->isChecked());
            QVERIFY(d.Button(D::IDC_RATE48)->isChecked());
            // The bit-depth buttons are never shown but follow the record, in a group of their
            // own: the rate buttons do not uncheck them.
            QVERIFY(d.Button(D::IDC_BITS24)->isChecked() && d.Button(D::IDC_BITS24)->isHidden());
            d.Button(D::IDC_RATE22)->click();
            d.Button(D::IDC_BITS16)->click();
            d.Button(D::IDC_DCBLOCK)->click();
            QVERIFY(d.Button(D::IDC_RATE22)->isChecked() && d.Button(D::IDC_BITS16)->isChecked());
            QCOMPARE(d.dlg.m_settings.nSamplesPerSec, 22050u);
            QCOMPARE(d.dlg.m_settings.wBitsPerSample, uint16_t(16));
            QCOMPARE(d.dlg.m_settings.bDCBlock, 1);

            QComboBox* devices = d.Box(D::IDC_DEVICE);
            QCOMPARE(Entries(devices), QStringList({"Line In", "USB Turntable", "System Default"}));
            QCOMPARE(devices->currentIndex(), 1);
            devices->setCurrentIndex(2);
            emit devices->activated(2);
            QCOMPARE(d.dlg.m_settings.nWaveInID, -1);
        }
        // The process-wide device list was emptied: the next dialog lists each device once,
        // and the default device shows "System Default".
        {
            Dialog d;
            QCOMPARE(d.Box(D::IDC_DEVICE)->count(), 3);
            QCOMPARE(d.Box(D::IDC_DEVICE)->currentText(), QStringLiteral("System Default"));
            QVERIFY(d.Button(D::IDC_RATE44)->isChecked() && d.Button(D::IDC_BITS16)->isChecked());
        }
        // A saved device that is gone selects nothing, and the setting stays until one is picked.
        Dialog gone({-1764, -582, -5293, -1236, 0, 1, 48000, 32, 2, 7});
        QCOMPARE(gone.Box(D::IDC_DEVICE)->currentIndex(), -1);
        QCOMPARE(gone.dlg.m_settings.nWaveInID, 7);
    }

    // On and off read at a glance in both schemes: the text says which, and the two states differ
    // in colour by far more than a pressed button's shade. The tooltip warns about deep bass.
    void dcBlockShowsItsState() {
        Dialog d;
        for (bool purple : {true, false}) {
            d.scheme = SchemeFor(purple, 16777216, QApplication::palette());
            d.dlg.OnInitDialog();
            QAbstractButton* dc = d.Button(D::IDC_DCBLOCK);
            if (!dc->isChecked()) dc->click();
            const QImage on = dc->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(dc->text(), QStringLiteral("DC Block On"));
            dc->click();
            const QImage off = dc->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(dc->text(), QStringLiteral("DC Block Off"));
            QCOMPARE(d.dlg.m_settings.bDCBlock, 0);
            QCOMPARE(on.size(), off.size());
            qint64 difference = 0;
            for (int y = 0; y < on.height(); ++y) {
                for (int x = 0; x < on.width(); ++x) {
                    const QRgb a = on.pixel(x, y), b = off.pixel(x, y);
                    difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                                  std::abs(qBlue(a) - qBlue(b));
                }
            }
            const qint64 perChannel = difference / (3 * qint64(on.width()) * on.height());
            QVERIFY2(perChannel > 60, qPrintable(QString::number(perChannel)));
            QVERIFY(dc->toolTip().contains(QStringLiteral("deep bass")));
        }
    }

    void presetOperationsWithTheirQuestions() {
        Dialog d;
        QComboBox* box = d.Box(D::IDC_PRESETS);
        QCOMPARE(Entries(box), QStringList({"Album/Tape", "beta", "Zebra"}));  // case ignored
        QCOMPARE(box->currentText(), QStringLiteral("Album/Tape"));

        // Choosing a preset loads it, rate and device included, and makes it the current one.
        d.Choose("Zebra");
        QCOMPARE(d.dlg.m_settings, d.presets[1].m_settings);
        QVERIFY(d.Button(D::IDC_RATE22)->isChecked() && d.Button(D::IDC_BITS24)->isChecked());
        QCOMPARE(QString::fromStdString(d.strPreset), QStringLiteral("Zebra"));

        QStringList shown;
        d.Type("");
        AnswerNextBox(&d.dlg, QMessageBox::Ok, &shown);
        d.Button(D::IDC_ADDPRESET)->click();
        QCOMPARE(shown.takeFirst(),
                 QStringLiteral("Preset Error: You need to enter a name for the preset."));

        // A name that exists in other letter case: No keeps the list, Yes replaces the preset.
        d.Type("album/tape");
        QCOMPARE(box->currentIndex(), -1);  // typing leaves no entry selected
        AnswerNextBox(&d.dlg, QMessageBox::No, &shown);
        d.Button(D::IDC_ADDPRESET)->click();
        QCOMPARE(d.Names(), QStringList({"Album/Tape", "Zebra", "beta"}));
        const QString overwrite = QStringLiteral(
            "Preset Warning: The preset, album/tape, exists.\nAre you sure you want to over-write "
            "this preset?\n\nIf you want to add a new preset follow these steps:\nStep 1: Type a "
            "new name in the edit box.\nStep 2: Click on the plus button.\n");
        QCOMPARE(shown.takeFirst(), overwrite);
        AnswerNextBox(&d.dlg, QMessageBox::Yes, &shown);
        d.Button(D::IDC_ADDPRESET)->click();
        QCOMPARE(shown.takeFirst(), overwrite);
        QCOMPARE(d.Names(), QStringList({"Zebra", "beta", "album/tape"}));
        QCOMPARE(d.presets.back().m_settings, d.presets[0].m_settings);  // the controls' values
        QCOMPARE(Entries(box), QStringList({"album/tape", "beta", "Zebra"}));
        QCOMPARE(box->currentText(), QString::fromStdString(d.strPreset));
        QVERIFY(!d.dlg.focusWidget());  // the preset box gave the focus away

        // Deleting leaves no preset current: the controls keep the deleted one's values, and no
        // other name claims them.
        AnswerNextBox(&d.dlg, QMessageBox::Yes, &shown);
        d.Button(D::IDC_DELETEPRESET)->click();
        QCOMPARE(shown.takeFirst(),
                 QStringLiteral("Preset Warning: Are you sure you want to delete the preset, "
                                "album/tape?\n"));
        QCOMPARE(d.Names(), QStringList({"Zebra", "beta"}));
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QString());
        QCOMPARE(QString::fromStdString(d.strPreset), QString());
        QCOMPARE(d.dlg.m_settings, d.presets[0].m_settings);

        // Minus on a typed name clears it without a question; on nothing it says so.
        d.Type("Unsaved");
        d.Button(D::IDC_DELETEPRESET)->click();
        QCOMPARE(box->currentText(), QString());
        QVERIFY(shown.isEmpty());
        AnswerNextBox(&d.dlg, QMessageBox::Ok, &shown);
        d.Button(D::IDC_DELETEPRESET)->click();
        QCOMPARE(shown.takeFirst(), QStringLiteral("Preset Warning: No preset is selected"));
    }

    // Names the presets file cannot keep are refused, and duplicates are found under the name as
    // stored.
    void typedNamesAreKeptAsTyped() {
        Dialog d;
        QStringList shown;
        // "日本" has no bytes in the presets file's code page.
        d.Type(QString::fromUtf8("Jazz \xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5"));
        AnswerNextBox(&d.dlg, QMessageBox::Ok, &shown);
        d.Button(D::IDC_ADDPRESET)->click();
        QCOMPARE(shown.takeFirst(),
                 QString::fromUtf8("Preset Error: The preset name cannot keep these characters: "
                                   "\xE6\x97\xA5 \xE6\x9C\xAC\nPlease type the name without "
                                   "them."));
        QCOMPARE(d.presets.size(), size_t(3));

        // Two long names that differ only beyond what a name can hold are the same preset.
        const QString stored(int(kMaxPresetName), QLatin1Char('L'));
        d.Type(stored);
        d.Button(D::IDC_ADDPRESET)->click();
        QCOMPARE(d.presets.back().GetName(), stored.toStdString());
        d.Type(stored.toLower() + QStringLiteral("onger"));
        AnswerNextBox(&d.dlg, QMessageBox::No, &shown);
        d.Button(D::IDC_ADDPRESET)->click();
        QVERIFY(shown.takeFirst().startsWith("Preset Warning: The preset, " + stored.toLower() +
                                             ", exists."));
        QCOMPARE(d.presets.size(), size_t(4));
    }

    // A name typed over the selected preset, with the keys a user presses: Enter offers to add
    // it rather than pressing Done, and so does leaving the box; a name that is an entry offers
    // nothing.
    void typingOverTheSelectedPresetOffersTheName() {
        Dialog d;
        QComboBox* box = d.Box(D::IDC_PRESETS);
        QStringList shown;
        const auto typeOver = [&](const QString& text) {
            d.dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&d.dlg));
            box->setFocus();
            QTRY_VERIFY(IsWithinBox(QApplication::focusWidget(), box));
            box->lineEdit()->selectAll();
            QTest::keyClicks(QApplication::focusWidget(), text);
        };
        const QString offer = QStringLiteral(
            "Preset Warning: You have changed the current preset name.\nDo you want to add the "
            "new preset, %1?\n");

        QCOMPARE(box->currentText(), QStringLiteral("Album/Tape"));
        typeOver("Tape 4");
        AnswerNextBox(&d.dlg, QMessageBox::No, &shown);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(shown, QStringList({offer.arg("Tape 4")}));
        QVERIFY(d.dlg.isVisible() && d.dlg.result() == 0);
        QCOMPARE(d.presets.size(), size_t(3));

        // The offline platform gives the activation back to no window after a message box.
        shown.clear();
        d.dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&d.dlg));
        QVERIFY(IsWithinBox(QApplication::focusWidget(), box));
        AnswerNextBox(&d.dlg, QMessageBox::Yes, &shown);
        d.Bar(D::IDC_GAPSIZE)->setFocus();
        QTRY_COMPARE(d.presets.size(), size_t(4));
        QCOMPARE(shown, QStringList({offer.arg("Tape 4")}));
        QCOMPARE(d.Names().last(), QStringLiteral("Tape 4"));

        // The name of an entry, in any case, is no new name: Enter is Done's. A question asked
        // wrongly is answered No, by a watcher that goes with this test.
        shown.clear();
        typeOver("zebra");
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&] {
            if (auto* asked = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown.append(asked->text());
                asked->button(QMessageBox::No)->click();
            }
        });
        watcher.start(10);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        watcher.stop();
        QCOMPARE(shown, QStringList());
        QCOMPARE(d.dlg.result(), int(QDialog::Accepted));
        QCOMPARE(d.presets.size(), size_t(4));
    }

    // Done applies through the setters, Esc applies nothing; the presets changed either way stay,
    // are written to the data folder as they change, with their Windows-1252 names, and come
    // back.
    void throughTheMainWindowAndTheDataFolder() {
        const QString euro = QString::fromUtf8("\xE2\x82\xAC \xE2\x80\x93 Best");  // "€ – Best"
        {
            CMemoryProfileStore profile;
            CMainDlg main(profile);
            main.show();
            QCOMPARE(Entries(main.Presets()), QStringList({"Album/Tape", "Live Concert",
                                                           "Noisy Record", "Quiet Classical"}));
            QVERIFY(main.GetItem(IDC_RECORD)->toolTip().contains(QStringLiteral("Ctrl+S")));
            main.Customize([&](View& d) {
                d.Bar(D::IDC_GAPSIZE)->setValue(-3000);
                d.Bar(D::IDC_ENDSIZE)->setValue(-5292);  // the top, "30 secs"
                d.Type(euro);
                d.Button(D::IDC_ADDPRESET)->click();
                // On disk at once, while the program runs on.
                QFile file(Path("data/Zelk/Vellistro/Single1.pre"));
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY(file.readAll().contains("\x80 \x96 Best"));
                // Ctrl+S from any application is on unless switched off, and kept at exit.
                QVERIFY(d.Button(D::IDC_GLOBALHOTKEY)->isChecked());
                d.Button(D::IDC_GLOBALHOTKEY)->click();
                d.pDlg->accept();
            });
            QCOMPARE(main.GetControl().m_settings.nGapSize, -3000);
            QCOMPARE(main.GetControl().GetAnalyzer().GetGapSize(), 3000.0f / 1764.0f);
            QCOMPARE(main.GetControl().GetAnalyzer().GetEndGap(), 30.0000019f);
            QCOMPARE(main.Presets()->currentText(), euro);

            main.Customize([&](View& d) {
                d.Bar(D::IDC_GAPSIZE)->setValue(-1000);
                d.Choose("Noisy Record");
                // A save that fails is told as at exit, and tried again at exit.
                QVERIFY(QDir().mkpath(Path("data/Zelk/Vellistro/Temp.pre/in the way")));
                AnswerNextBox(d.pDlg, QMessageBox::Yes, &main.boxes);
                d.Button(D::IDC_DELETEPRESET)->click();
                QCOMPARE(main.boxes.size(), 2);
                QVERIFY(main.boxes[1].startsWith("Preset Error: The presets could not be saved"));
                QVERIFY(QDir(Path("data/Zelk/Vellistro/Temp.pre")).removeRecursively());
                d.pDlg->reject();
            });
            QCOMPARE(main.GetControl().m_settings.nGapSize, -3000);
            QVERIFY(!Entries(main.Presets()).contains("Noisy Record"));
            QCOMPARE(main.Presets()->currentIndex(), -1);  // none until one is chosen
            main.boxes.clear();

            // The preset at the top of the end-gap trackbar applies without an error.
            main.GetControl().m_settings.nEndSize = -1236;
            main.Presets()->setCurrentIndex(main.Presets()->findText(euro));
            emit main.Presets()->activated(main.Presets()->currentIndex());
            QCOMPARE(main.GetControl().m_settings.nEndSize, -5292);
            QCOMPARE(main.boxes, QStringList());
            main.OnOK();
            QCOMPARE(profile.GetProfileInt("Version 1", "Global Ctrl+S", 1), 0);
        }
        QFile file(Path("data/Zelk/Vellistro/Single1.pre"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY(saved.contains("\x80 \x96 Best") && !saved.contains("Noisy Record"));

        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "Preset", "\x80 \x96 Best");
        CMainDlg main(profile);
        QCOMPARE(main.Presets()->currentText(), euro);
        QCOMPARE(Entries(main.Presets()).size(), 4);
        main.Customize([&](View& d) {
            QCOMPARE(d.Box(D::IDC_PRESETS)->currentText(), euro);
            d.pDlg->reject();
        });
        main.OnOK();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<CustomDlgTest>(argc, argv); }

#include "CustomDlgTest.moc"
