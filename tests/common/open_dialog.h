#pragma once
// Shows a dialog the way the program does, with open(), and waits in an event loop until it
// has finished, for the window tests.
#include <QDialog>
#include <QEventLoop>

namespace testsupport {

// Opens DIALOG and returns the result it finished with.
inline int OpenAndWait(QDialog &dialog)
{
    QEventLoop loop;
    int result = -1;
    const QMetaObject::Connection done = QObject::connect(&dialog, &QDialog::finished, &loop, [&](int r) {
        result = r;
        loop.quit();
    });
    dialog.open();
    loop.exec();
    QObject::disconnect(done);
    return result;
}

} // namespace testsupport
