// The help: Markdown pages (docs/help in the source tree, share/vellisto/help when installed)
// shown in a window of its own with a text browser. No modal dialog of the program blocks it,
// so the help can be read while the main window or the Custom Settings dialog is modal and
// while a recording runs; it opens About as well.
//
// Process-wide, user-interface thread only. The help text is looked for once, at the first
// request; when it is not found, every request says where it was looked for, with a way to
// About. Closing the window hides it; CloseHelp deletes it when the program ends.
#pragma once

#include <QStringList>
#include <QWidget>

class QTextBrowser;

class CHelpViewer : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kDefaultTopic = "index.md";

    explicit CHelpViewer(const QString& folder);

    // Shows the default topic, or a page of the help folder.
    void ShowDefaultTopic() { ShowTopic(QString::fromLatin1(kDefaultTopic)); }
    void ShowTopic(const QString& topic);
    // About, modal to this window only.
    void OnAbout();
    QTextBrowser* GetBrowser() const { return m_pBrowser; }

protected:
    bool event(QEvent* event) override;

private:
    void FollowModalWindow();

    QString m_strFolder;
    QTextBrowser* m_pBrowser;
};

// Opens the help window at topic, a page of the help folder (or brings it forward); null when the
// help text cannot be found, after a message box saying where it was looked for, which offers
// About.
CHelpViewer* ShowHelp(const QString& topic = QString::fromLatin1(CHelpViewer::kDefaultTopic));

// F1 in that window opens the help at topic.
void InstallHelpKey(QWidget* window,
                    const QString& topic = QString::fromLatin1(CHelpViewer::kDefaultTopic));

// The folders the help text is looked for in, in order: share/vellisto/help beside the
// program's bin folder (an installed program, whatever its prefix), then, only for a program
// that lies in the build folder it was built in, docs/help of the source tree. The first that
// holds the default topic wins.
QStringList HelpFolderCandidates();
// The same for a program in programDir.
QStringList HelpFolderCandidates(const QString& programDir);

// Closes the help window, if open; the program's end.
void CloseHelp();

// Tests: look in these folders instead; forget the search and close the window.
void SetHelpFolderCandidates(const QStringList& folders);
void ResetHelp();
