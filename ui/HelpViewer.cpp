#include "ui/HelpViewer.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>
#include <optional>

#include "resources/Resources.h"
#include "ui/AboutDlg.h"
#include "ui/ScreenFit.h"

namespace {

struct HelpState {
    std::optional<QStringList> candidates;  // set by tests
    bool bSearched = false;
    QString strFolder;  // empty after a failed search
    QPointer<CHelpViewer> pViewer;
};

HelpState& State() {
    static HelpState state;
    return state;
}

}  // namespace

CHelpViewer::CHelpViewer(const QString& folder)
    : QWidget(nullptr, Qt::Window), m_strFolder(folder), m_pBrowser(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("Zelk Vellisto Help"));
    m_pBrowser->setOpenExternalLinks(true);
    m_pBrowser->setSearchPaths({folder});

    auto* contents = new QPushButton(QStringLiteral("Contents"), this);
    auto* back = new QPushButton(QStringLiteral("Back"), this);
    auto* forward = new QPushButton(QStringLiteral("Forward"), this);
    // About from the help too: the version is what a reader of the help often wants next.
    QString aboutText = QString::fromLatin1(LoadResString(101));
    auto* about = new QPushButton(aboutText, this);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, &CHelpViewer::ShowDefaultTopic);
    connect(back, &QPushButton::clicked, m_pBrowser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_pBrowser, &QTextBrowser::forward);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(about, &QPushButton::clicked, this, &CHelpViewer::OnAbout);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {contents, back, forward}) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(about);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_pBrowser);
    InstallHelpKey(this);
    m_pBrowser->setFocus();  // the keys scroll the text
    // About 100 characters by 40 lines of the browser's font.
    const QFontMetrics metrics(m_pBrowser->font());
    resize(metrics.averageCharWidth() * 100, metrics.lineSpacing() * 40);
}

bool CHelpViewer::event(QEvent* event) {
    if (event->type() == QEvent::WindowBlocked) FollowModalWindow();
    return QWidget::event(event);
}

void CHelpViewer::FollowModalWindow() {
    // A modal window blocks every window of the program that does not belong to it. The help
    // window joins the modal window on top as its transient child and so stays usable, the way
    // a help window of a process of its own would be. A modal window of its own (About) does
    // block it.
    QWindow* modal = QGuiApplication::modalWindow();
    QWindow* own = windowHandle();
    if (!modal || !own || modal == own || own->isAncestorOf(modal, QWindow::IncludeTransients))
        return;
    own->setTransientParent(modal);
}

void CHelpViewer::ShowTopic(const QString& topic) {
    m_pBrowser->setSource(QUrl::fromLocalFile(QDir(m_strFolder).filePath(topic)),
                          QTextDocument::MarkdownResource);
}

void CHelpViewer::OnAbout() {
    auto* about = new CAboutDlg(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::WindowModal);
    about->show();
}

QStringList HelpFolderCandidates(const QString& programDir) {
    const QString program = QDir::cleanPath(programDir);
    QStringList folders = {
        QDir::cleanPath(QDir(program).absoluteFilePath(QStringLiteral(VELLISTO_HELP_FROM_BIN)))};
    // A build path compiled in is meaningless on another machine, or after the build is gone.
    const QString build = QDir::cleanPath(QStringLiteral(VELLISTO_BUILD_DIR));
    if (program == build || program.startsWith(build + QLatin1Char('/')))
        folders.append(QStringLiteral(VELLISTO_HELP_SOURCE_DIR));
    return folders;
}

QStringList HelpFolderCandidates() {
    if (State().candidates) return *State().candidates;
    return HelpFolderCandidates(QCoreApplication::applicationDirPath());
}

namespace {

// Beside the window that asked, right or left of it where the help fits there, so that the
// meters and controls stay in view; where it fits on neither side, against the screen's left
// edge, where it covers the main window's picture and presets rather than its meters and its
// Record button.
void PlaceBeside(QWidget* help, const QWidget* asking) {
    QScreen* screen = ScreenOf(asking);
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QMargins margins = FrameMarginsOf(asking ? asking : help);
    QRect frame = QRect(QPoint(), help->size()).marginsAdded(margins);
    frame.moveCenter(area.center());
    if (asking) {
        const QRect owner = asking->frameGeometry();
        QRect right = frame, left = frame;
        right.moveTopLeft(QPoint(owner.right() + 1, owner.top()));
        left.moveTopRight(QPoint(owner.left() - 1, owner.top()));
        if (area.contains(right)) {
            frame = right;
        } else if (area.contains(left)) {
            frame = left;
        } else {
            frame.moveTopLeft(QPoint(area.left(), owner.top()));
        }
    }
    help->move(frame.topLeft());
}

// Without its help the program would otherwise also hide About, which only the help window
// offers besides the main window's context menu.
void ReportMissingHelp(const QStringList& folders) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Information, QStringLiteral("Zelk Vellisto Help"),
                    QStringLiteral("The help pages were not found. They were looked for in:\n%1\n\n"
                                   "Installing the program again puts them back.")
                        .arg(folders.join(QLatin1Char('\n'))),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* about = box.addButton(
        QString::fromLatin1(LoadResString(101)).remove(QLatin1Char('&')), QMessageBox::ActionRole);
    box.exec();
    if (box.clickedButton() == about) ShowAbout(parent);
}

}  // namespace

CHelpViewer* ShowHelp(const QString& topic) {
    HelpState& state = State();
    if (!state.bSearched) {
        state.bSearched = true;
        for (const QString& folder : HelpFolderCandidates()) {
            if (QFileInfo(QDir(folder).filePath(CHelpViewer::kDefaultTopic)).isFile()) {
                state.strFolder = QDir(folder).absolutePath();
                break;
            }
        }
    }
    if (state.strFolder.isEmpty()) {
        ReportMissingHelp(HelpFolderCandidates());
        return nullptr;
    }
    QWidget* asking = QApplication::activeWindow();
    if (!state.pViewer) {
        state.pViewer = new CHelpViewer(state.strFolder);
        PlaceBeside(state.pViewer, asking);
    }
    state.pViewer->ShowTopic(topic);
    state.pViewer->show();
    state.pViewer->raise();
    state.pViewer->activateWindow();
    return state.pViewer;
}

void InstallHelpKey(QWidget* window, const QString& topic) {
    auto* key = new QShortcut(QKeySequence(Qt::Key_F1), window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, [topic] { ShowHelp(topic); });
}

void SetHelpFolderCandidates(const QStringList& folders) { State().candidates = folders; }

void CloseHelp() { delete State().pViewer; }

void ResetHelp() {
    CloseHelp();
    State() = HelpState{};
}
