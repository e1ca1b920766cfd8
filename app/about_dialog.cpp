#include "app/about_dialog.h"

#include "base/window_support.h"

#include <QLabel>
#include <QPushButton>

using namespace quokka;

namespace quokka::app {

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowRole(objectName());
    setWindowTitle(QStringLiteral("About Quokka Quokka"));
    setFont(DialogFont());
    setWindowIcon(QIcon()); // no icon of its own, nor the main dialog's; the icon shows inside
    setFixedSize(DluX(170), DluY(62));

    auto *icon = new QLabel(this);
    icon->setGeometry(DluRect(14, 14, 21, 20));
    icon->setPixmap(AppIcon().pixmap(icon->size()));

    auto *name = new QLabel(QStringLiteral("Quokka Quokka, Version 1.0"), this);
    name->setObjectName(QStringLiteral("versionLabel"));
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(DluRect(42, 14, 114, 8));

    // The attribution the data's licences ask for: the geolocation comes from DB-IP, the AS
    // table from RouteViews, the registries' statistics (NRO) and DB-IP (LICENSE-DATA).
    auto *legal = new QLabel(QStringLiteral("IP data: DB-IP, RouteViews, NRO"), this);
    legal->setObjectName(QStringLiteral("legalLabel"));
    legal->setGeometry(DluRect(42, 26, 114, 8));

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DluRect(113, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace quokka::app
