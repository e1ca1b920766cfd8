#pragma once
// Right-clicks a row of a result window's list (or table) and picks from the menu that pops up, for the
// window tests on the offscreen platform.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>

namespace testsupport {

// Opens LIST's context menu on ROW (below the rows for -1), triggers the item named CHOOSE
// when it is there and enabled, and closes the menu; returns the enabled items' names
// (without their mnemonics' ampersands).
inline QStringList ChooseFromListMenu(QAbstractItemView *list, int row, const QString &choose)
{
    const QPoint pos = row >= 0 ? list->visualRect(list->model()->index(row, 0)).center()
                                : QPoint(4, list->viewport()->height() - 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    if (!menu)
        return {};
    QStringList enabled;
    for (QAction *action : menu->actions()) {
        if (!action->isEnabled() || action->isSeparator())
            continue;
        const QString name = QString(action->text()).remove(QLatin1Char('&')); // without its mnemonic
        enabled << name;
        if (name == choose)
            action->trigger();
    }
    menu->close();
    return enabled;
}

// What a screen reader hears for row ROW of LIST: its name, or another of its texts.
inline QString SpokenRow(QListWidget *list, int row, QAccessible::Text text = QAccessible::Name)
{
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(list);
    QAccessibleInterface *cell = view ? view->child(row) : nullptr;
    return cell ? cell->text(text) : QStringLiteral("(no accessible row %1)").arg(row);
}

// The tooltip on the screen now, if any.
inline QWidget *ShownToolTipLabel()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("qtooltip_label") && widget->isVisible())
            return widget;
    return nullptr;
}

} // namespace testsupport
