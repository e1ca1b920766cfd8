#pragma once
// The About box: program name, version and the data credits.
#include <QDialog>
#include <QString>

namespace quokka::app {

// The tables the program uses, for the About box: its data line ("IP data: " and the
// credits, the names of table files in use first), and one line per kind of table saying
// whether the built-in table or which file is in use.
struct TablesInUse {
    QString line;
    QString details;
};
TablesInUse DescribeTablesInUse();

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace quokka::app
