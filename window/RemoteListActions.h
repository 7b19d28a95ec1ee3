#pragma once

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
class QPoint;
class QTreeView;

// The keys and the context menu of the remote file list. Every entry calls the slot the
// window gives it, the one its button calls, so texts, checks and log lines stay the same;
// an entry that follows a button acts only while that button is enabled (its key does
// nothing and its menu item is greyed otherwise).
//
// A right-click on a row opens the menu with the menu entries in the order they were added; on
// empty space, with those added for anywhere.
class RemoteListActions : public QObject
{
    Q_OBJECT
public:
    RemoteListActions(QTreeView *view, std::function<bool()> isEnglish);

    // A menu entry, named in both languages, with its keys; it calls slot of receiver, and
    // only while gate is enabled.
    template <typename Receiver>
    QAction *addEntry(const QString &english, const QString &chinese,
                      const QList<QKeySequence> &keys, QAbstractButton *gate, Receiver *receiver,
                      void (Receiver::*slot)())
    {
        QAction *action = addAction(keys, gate);
        connect(action, &QAction::triggered, receiver, slot);
        m_menuEntries.append({action, english, chinese});
        return action;
    }
    // An action made elsewhere, whose owner keeps its text and keys, in the menu; also on
    // empty space in the list when anywhere is set.
    void addMenuAction(QAction *action, bool anywhere = false)
    {
        m_menuEntries.append({action, QString(), QString(), anywhere});
    }
    // Keys without a menu entry or a button.
    template <typename Functor> QAction *addKeys(const QList<QKeySequence> &keys, Functor run)
    {
        QAction *action = addAction(keys, nullptr);
        connect(action, &QAction::triggered, this, run);
        return action;
    }

    // Ctrl+A: every row but the "..".
    void selectAllEntries();
    // The ".." row, invalid in the root folder.
    QModelIndex parentRow() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The keys act while the list has the focus.
    QAction *addAction(const QList<QKeySequence> &keys, QAbstractButton *gate);
    void showMenu(const QPoint &position);

    QTreeView *const m_view;
    const std::function<bool()> m_isEnglish;
    struct MenuEntry
    {
        QAction *action;
        QString english; // empty for an action whose owner sets its text
        QString chinese;
        bool anywhere = false;
    };
    QList<MenuEntry> m_menuEntries;
    QList<QPair<QAbstractButton *, QAction *>> m_gated;
};
