#include "RemoteListActions.h"

#include "RemoteListModel.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

RemoteListActions::RemoteListActions(QTreeView *view) : QObject(view), m_view(view)
{
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &RemoteListActions::showMenu);
}

QAction *RemoteListActions::addKeyAction(const QList<QKeySequence> &keys)
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

QModelIndex RemoteListActions::parentRow() const
{
    const QAbstractItemModel *model = m_view->model();
    for (int row = 0; model && row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (RemoteListModel::kind(index) == RemoteRowKind::Navigation)
            return index;
    }
    return {};
}

void RemoteListActions::selectAllEntries()
{
    QItemSelectionModel *selection = m_view->selectionModel();
    const QAbstractItemModel *model = m_view->model();
    if (!selection || !model || model->rowCount() == 0)
        return;
    QItemSelection rows(model->index(0, 0), model->index(model->rowCount() - 1, 0));
    const QModelIndex parent = parentRow();
    if (parent.isValid())
        rows.merge(QItemSelection(parent, parent), QItemSelectionModel::Deselect);
    selection->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}
