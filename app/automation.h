#pragma once
// What the command line asks of a windowed run: explore a domain once shown, print the
// result windows' lines, save pictures of them, and end when the run ends.
#include "app/options.h"

#include <QObject>

class CQuokkaQuokkaDlg;

class Automation : public QObject {
    Q_OBJECT

public:
    Automation(CQuokkaQuokkaDlg &dialog, const Options &options);

    // Starts the requested exploration; call once the dialog is shown.
    void Start();

private:
    void ConnectReport();
    void SaveScreenshots();

    CQuokkaQuokkaDlg &m_dialog;
    Options m_options;
};
