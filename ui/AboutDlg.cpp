#include "ui/AboutDlg.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include "VellistoVersion.h"
#include "resources/Resources.h"
#include "ui/Appearance.h"
#include "ui/DialogBuilder.h"

namespace {
constexpr int kAboutTemplate = 100;
constexpr int kVersionLine = 1;  // template index of the version text, which has no id
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const DlgTemplate& tpl = *FindDialogTemplate(kAboutTemplate);
    const DialogItems items = CreateDialogItems(this, tpl, font());
    ApplyWindowColours(this, SchemeColours{QColor(192, 192, 192), QColor(0, 0, 0), 0, 0});
    static_cast<QLabel*>(items.all[kVersionLine])->setText(VersionLine());
    for (int i = 0; i < tpl.count; ++i) {
        if (tpl.items[i].kind != DlgKind::Picture) continue;
        auto* picture = static_cast<QLabel*>(items.all[size_t(i)]);
        picture->setPixmap(
            LoadPicture(tpl.items[i].imageId, picture->size(), picture->devicePixelRatioF()));
    }
    connect(static_cast<QPushButton*>(items.Get(1)), &QPushButton::clicked, this, &QDialog::accept);
}

QString CAboutDlg::VersionLine() {
    return QStringLiteral("Vellisto Version ") + QStringLiteral(VELLISTO_VERSION);
}

void ShowAbout(QWidget* parent) {
    CAboutDlg about(parent);
    about.exec();
}

void AddAboutToContextMenu(QWidget* window) {
    auto* about = new QAction(QString::fromLatin1(LoadResString(101)), window);
    QObject::connect(about, &QAction::triggered, window, [window] { ShowAbout(window); });
    window->addAction(about);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
}
