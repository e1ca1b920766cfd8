#pragma once
// Notes each first-run notice (its text) and the home setup window ("setup") that a dialog's
// exploration shows, in order, for tests that follow an exploration's first-run steps.
#include "app/main_dialog.h"

#include <QStringList>

struct FirstRunWatch {
    QStringList seen;

    // Notes what DIALOG's explorations show until the connection is taken down.
    QMetaObject::Connection Follow(quokka::app::CQuokkaQuokkaDlg &dialog)
    {
        return QObject::connect(&dialog, &quokka::app::CQuokkaQuokkaDlg::FirstRunStepShown,
                                [this](const QString &step, const QString &text) {
                                    seen << (step == QLatin1String("setup") ? step : text);
                                });
    }
};
