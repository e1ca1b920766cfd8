#include "app/about_dialog.h"

#include "base/visible_text.h"
#include "base/window_support.h"
#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"

#include <QFileInfo>

#include <QLabel>
#include <QPushButton>

using namespace quokka;

namespace quokka::app {

TablesInUse DescribeTablesInUse()
{
    const QString attribution = QStringLiteral("DB-IP, RouteViews, NRO");
    struct Kind {
        const char *name;
        std::string (*fileInUse)(bool *refused);
    };
    const Kind kinds[] = {{"Geolocation table", &geo::GeoDatabase::FileInUse},
                          {"IPv6 geolocation table", &geo::GeoDatabase6::FileInUse},
                          {"AS table", &geo::AsDatabase::FileInUse}};
    QStringList files, details;
    for (const Kind &kind : kinds) {
        bool refused = false;
        const QString file = QString::fromStdString(kind.fileInUse(&refused));
        QString detail = QLatin1String(kind.name) + QStringLiteral(": ");
        if (file.isEmpty()) {
            detail += QStringLiteral("built in");
        } else {
            files << QFileInfo(file).fileName();
            detail += VisibleText(file) + (refused ? QStringLiteral(" (refused: none in use)") : QString());
        }
        details << detail;
    }
    TablesInUse tables;
    tables.line = QStringLiteral("IP data: ");
    if (!files.isEmpty())
        tables.line += VisibleText(files.join(QStringLiteral(", "))) + QStringLiteral(" (") + attribution + u')';
    else
        tables.line += attribution;
    tables.details = details.join(u'\n');
    return tables;
}

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
    // table from RouteViews, the registries' statistics (NRO) and DB-IP (LICENSE-DATA). Where
    // a table file replaces a built-in table, the line names it too, and its tooltip says
    // which table is in use for each kind.
    auto *legal = new QLabel(this);
    legal->setObjectName(QStringLiteral("legalLabel"));
    legal->setTextFormat(Qt::PlainText);
    legal->setGeometry(DluRect(42, 26, 114, 8));
    const TablesInUse tables = DescribeTablesInUse();
    legal->setText(legal->fontMetrics().elidedText(tables.line, Qt::ElideMiddle, legal->width()));
    legal->setToolTip(tables.details);
    legal->setAccessibleDescription(tables.details);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(DluRect(113, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace quokka::app
