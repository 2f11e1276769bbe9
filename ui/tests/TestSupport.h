// Shared by the window tests: a temporary working directory, profile and data folder, input WAV
// files of tone and silence and a check that a song file was finished (both through the shared
// test support), and handlers for the next modal window, message box or file dialog.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <functional>
#include <initializer_list>

#include "tests/support/TestFiles.h"

constexpr int kRate = 44100;
constexpr int kBytesPerSecond = kRate * 4;  // 16-bit stereo

inline QString g_workDir;
inline QString Path(const QString& name) { return QDir(g_workDir).filePath(name); }

// A 16-bit stereo WAV of tone and silence segments: positive seconds of a 440 Hz tone at
// -12 dBFS, negative seconds of digital silence.
inline void WriteWav(const QString& path, std::initializer_list<double> segments) {
    testsupport::Bytes pcm;
    for (double seconds : segments) {
        for (int i = 0; i < int(std::fabs(seconds) * kRate); ++i) {
            const int16_t v =
                seconds > 0 ? int16_t(8000 * std::sin(2 * M_PI * 440 * i / kRate)) : 0;
            const char* bytes = reinterpret_cast<const char*>(&v);
            for (int ch = 0; ch < 2; ++ch) pcm.insert(pcm.end(), bytes, bytes + 2);
        }
    }
    testsupport::WriteWav(path.toStdString(), {16, kRate, 2}, pcm);
}

// A 16-bit stereo WAV of 440 Hz tone segments, each its seconds and its peak in dBFS.
inline void WriteLevels(const QString& path,
                        std::initializer_list<std::pair<double, double>> segments) {
    testsupport::Bytes pcm;
    for (const auto& [seconds, db] : segments) {
        const double peak = 32768 * std::pow(10.0, db / 20);
        for (int i = 0; i < int(seconds * kRate); ++i) {
            const int16_t v = int16_t(std::lround(peak * std::sin(2 * M_PI * 440 * i / kRate)));
            const char* bytes = reinterpret_cast<const char*>(&v);
            for (int ch = 0; ch < 2; ++ch) pcm.insert(pcm.end(), bytes, bytes + 2);
        }
    }
    testsupport::WriteWav(path.toStdString(), {16, kRate, 2}, pcm);
}

// Data bytes of a finished WAV file, or -1 when its sizes do not agree with the file's length.
inline qint64 FinishedDataBytes(const QString& path) {
    const testsupport::WavFile wav = testsupport::ReadWav(path.toStdString());
    return wav.szProblem.empty() ? qint64(wav.nDataBytes) : -1;
}

// Runs the handler on the next modal window other than `except` as soon as it shows.
inline void OnNextModal(QWidget* except, std::function<void(QWidget*)> handler) {
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

// Answers the next message box other than `except` with `button`, noting "title: text" in
// `shown`; `then` gets the box first, to catch a window the answer leads to.
inline void AnswerNextBox(QWidget* except, QMessageBox::StandardButton button,
                          QStringList* shown = nullptr,
                          std::function<void(QMessageBox*)> then = {}) {
    OnNextModal(except, [=](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        if (shown) shown->append(box->windowTitle() + ": " + box->text());
        if (then) then(box);
        box->button(button)->click();
    });
}

// Answers the next file dialog other than `except` as a user types `path` (selectFile leaves
// a focused name field alone), or cancels it for an empty path; notes the file it offered in
// `offered`, and gives the dialog to `then` before the answer.
inline void ChooseNextFile(QWidget* except, const QString& path, QString* offered = nullptr,
                           std::function<void(QFileDialog*)> then = {}) {
    OnNextModal(except, [=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog);
        if (offered) *offered = dialog->selectedFiles().value(0);
        if (then) then(dialog);
        if (path.isEmpty()) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        dialog->setDirectory(QFileInfo(path).absolutePath());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(QFileInfo(path).fileName());
        static_cast<QDialog*>(dialog)->accept();
    });
}

// Runs a Qt Test object in a temporary working directory (song files) with a temporary
// XDG_CONFIG_HOME (the QSettings profile) and XDG_DATA_HOME (the presets, under
// data/Zelk/Vellistro).
template <typename Test>
int RunInTemporaryDir(int argc, char** argv) {
    QTemporaryDir work;
    g_workDir = work.path();
    qputenv("XDG_CONFIG_HOME", Path("cfg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", Path("data").toLocal8Bit());
    QDir::setCurrent(g_workDir);
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
