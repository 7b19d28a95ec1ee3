#pragma once

#include <QList>
#include <QModelIndex>
#include <QObject>

class FileActions;
class QAction;
class QPoint;
class QTreeView;

// The remote file list's keys and context menu. The file actions act on the list by their
// keys (F5 anywhere in the window) and fill its menu; Enter opens the current row and Backspace
// the ".." row, as a double click does; Ctrl+A selects every row but "..". A right-click on a
// row opens the menu with every entry; on empty space, with those added for anywhere. Every
// action keeps its own text, keys and enabled state.
class RemoteListActions : public QObject
{
    Q_OBJECT
public:
    RemoteListActions(QTreeView *view, const FileActions *actions);

    // A further menu entry after the file actions, with its keys; also on empty space when
    // anywhere is set.
    void addMenuAction(QAction *action, bool anywhere = false);

signals:
    // Enter or Backspace: the row to open as if it were double-clicked.
    void openRequested(const QModelIndex &index);

private:
    QAction *addKeys(const QList<QKeySequence> &keys);
    void selectAllEntries();
    void showMenu(const QPoint &position);

    QTreeView *const m_view;
    struct MenuEntry
    {
        QAction *action;
        bool anywhere = false;
    };
    QList<MenuEntry> m_menuEntries;
};
