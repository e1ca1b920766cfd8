#pragma once
// Notes each first-run notice (its text) and the home setup window ("setup") as they are
// shown, in order, for tests that follow an exploration's first-run steps.
#include "geo/setup.h"
#include "trace/toast.h"

#include <QApplication>
#include <QEvent>
#include <QStringList>

class FirstRunWatch : public QObject {
public:
    FirstRunWatch() { qApp->installEventFilter(this); }

    QStringList seen;

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *toast = qobject_cast<Toast *>(object))
                seen << toast->m_strText;
            else if (qobject_cast<CSetup *>(object))
                seen << QStringLiteral("setup");
        }
        return false;
    }
};
