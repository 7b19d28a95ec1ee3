#pragma once

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QString>

class QPoint;
class QTreeView;

// The context menu of the remote file list and its keys that have no button. A right-click on
// a row opens the menu with the actions in the order they were added; on empty space, with
// those added for anywhere. The actions keep their own texts, keys and enabled state.
class RemoteListActions : public QObject
{
    Q_OBJECT
public:
    explicit RemoteListActions(QTreeView *view);

    // In the menu; also on empty space in the list when anywhere is set.
    void addMenuAction(QAction *action, bool anywhere = false)
    {
        m_menuEntries.append({action, anywhere});
    }
    // Keys without a menu entry or a button.
    template <typename Functor> QAction *addKeys(const QList<QKeySequence> &keys, Functor run)
    {
        QAction *action = addKeyAction(keys);
        connect(action, &QAction::triggered, this, run);
        return action;
    }

    // Ctrl+A: every row but the "..".
    void selectAllEntries();
    // The ".." row, invalid in the root folder.
    QModelIndex parentRow() const;

private:
    QAction *addKeyAction(const QList<QKeySequence> &keys);
    void showMenu(const QPoint &position);

    QTreeView *const m_view;
    struct MenuEntry
    {
        QAction *action;
        bool anywhere = false;
    };
    QList<MenuEntry> m_menuEntries;
};
