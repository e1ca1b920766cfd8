#pragma once
// The About box: program name, version and the data credits.
#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};
