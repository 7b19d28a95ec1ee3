#include "RemoteListActions.h"

#include "FileActions.h"
#include "RemoteListModel.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

RemoteListActions::RemoteListActions(QTreeView *view, const FileActions *actions)
    : QObject(view), m_view(view)
{
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &RemoteListActions::showMenu);

    for (QAction *action : {actions->download(), actions->rename(), actions->remove(),
                            actions->newFolder(), actions->refresh()})
        addMenuAction(action);
    addMenuAction(actions->uploadFolder(), true);
    // Keys only: they move and select as a double click and a plain file manager do.
    connect(addKeys({Qt::Key_Return, Qt::Key_Enter}), &QAction::triggered, this,
            [this] { emit openRequested(m_view->currentIndex()); });
    connect(addKeys({Qt::Key_Backspace}), &QAction::triggered, this, [this] {
        if (const auto *model = qobject_cast<const RemoteListModel *>(m_view->model())) {
            if (model->parentRow().isValid())
                emit openRequested(model->parentRow());
        }
    });
    connect(addKeys({QKeySequence::SelectAll}), &QAction::triggered, this,
            &RemoteListActions::selectAllEntries);
}

void RemoteListActions::addMenuAction(QAction *action, bool anywhere)
{
    // Its keys act on the list.
    m_view->addAction(action);
    m_menuEntries.append({action, anywhere});
}

QAction *RemoteListActions::addKeys(const QList<QKeySequence> &keys)
{
    auto *action = new QAction(this);
    action->setShortcuts(keys);
    // The keys act while the list has the focus.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(action);
    return action;
}

void RemoteListActions::showMenu(const QPoint &position)
{
    const bool onRow = m_view->indexAt(position).isValid();
    QMenu menu(m_view);
    menu.setObjectName(QStringLiteral("remoteListMenu"));
    for (const MenuEntry &entry : qAsConst(m_menuEntries)) {
        if (onRow || entry.anywhere)
            menu.addAction(entry.action);
    }
    if (!menu.isEmpty())
        menu.exec(m_view->viewport()->mapToGlobal(position));
}

void RemoteListActions::selectAllEntries()
{
    QItemSelectionModel *selection = m_view->selectionModel();
    const auto *model = qobject_cast<const RemoteListModel *>(m_view->model());
    if (!selection || !model || model->rowCount() == 0)
        return;
    QItemSelection rows(model->index(0, 0), model->index(model->rowCount() - 1, 0));
    const QModelIndex parent = model->parentRow();
    if (parent.isValid())
        rows.merge(QItemSelection(parent, parent), QItemSelectionModel::Deselect);
    selection->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}
