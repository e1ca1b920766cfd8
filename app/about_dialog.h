#pragma once
// The About box: program name, version and the data credits.
#include <QDialog>

namespace quokka::app {

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace quokka::app
