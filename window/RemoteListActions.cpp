#include "RemoteListActions.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

RemoteListActions::RemoteListActions(QTreeView *view, std::function<bool()> isEnglish)
    : QObject(view), m_view(view), m_isEnglish(std::move(isEnglish))
{
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &RemoteListActions::showMenu);
}

QAction *RemoteListActions::addAction(const QList<QKeySequence> &keys, QAbstractButton *gate)
{
    auto *action = new QAction(this);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(action);
    if (gate) {
        // A disabled action neither answers its keys nor can be chosen in the menu.
        action->setEnabled(gate->isEnabled());
        gate->installEventFilter(this);
        m_gated.append({gate, action});
    }
    return action;
}

bool RemoteListActions::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        for (const auto &[gate, action] : qAsConst(m_gated)) {
            if (gate == watched)
                action->setEnabled(gate->isEnabled());
        }
    }
    return QObject::eventFilter(watched, event);
}

void RemoteListActions::showMenu(const QPoint &position)
{
    const bool onRow = m_view->indexAt(position).isValid();
    const bool english = m_isEnglish();
    QMenu menu(m_view);
    menu.setObjectName(QStringLiteral("remoteListMenu"));
    for (const MenuEntry &entry : qAsConst(m_menuEntries)) {
        if (!onRow && !entry.anywhere)
            continue;
        if (!entry.english.isEmpty())
            entry.action->setText(english ? entry.english : entry.chinese);
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
        if (index.data().toString() == QLatin1String(".."))
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
