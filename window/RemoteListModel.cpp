#include "RemoteListModel.h"

#include "IconLoader.h"
#include "ListingParser.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QStyle>

namespace {

QStringList headerLabels(bool english)
{
    if (english) {
        return {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Size"),
                QStringLiteral("Modified Time")};
    }
    return {QStringLiteral("名称"), QStringLiteral("类型"), QStringLiteral("大小"),
            QStringLiteral("修改时间")};
}

} // namespace

RemoteListModel::RemoteListModel(bool english, QObject *parent)
    : QStandardItemModel(parent), m_english(english),
      m_folderIcon(QApplication::style()->standardIcon(QStyle::SP_DirIcon)),
      m_fileIcon(QApplication::style()->standardIcon(QStyle::SP_FileIcon)),
      m_parentIcon(loadIcon(QStringLiteral("返回上一层.png")))
{
    setHorizontalHeaderLabels(headerLabels(english));
}

QString RemoteListModel::typeText(RemoteRowKind kind) const
{
    switch (kind) {
    case RemoteRowKind::Navigation:
        return m_english ? QStringLiteral("Navigation") : QStringLiteral("导航");
    case RemoteRowKind::Folder:
        return m_english ? QStringLiteral("Folder") : QStringLiteral("文件夹");
    case RemoteRowKind::File:
        break;
    }
    return m_english ? QStringLiteral("File") : QStringLiteral("文件");
}

void RemoteListModel::clearRows(bool english)
{
    m_english = english;
    clear();
    setHorizontalHeaderLabels(headerLabels(m_english));
}

void RemoteListModel::showNavigationOnly(bool withParentRow, bool english)
{
    clearRows(english);
    if (withParentRow) {
        appendRow(m_parentIcon, QStringLiteral(".."), QString(), RemoteRowKind::Navigation,
                  QString(), QString());
    }
}

void RemoteListModel::appendListing(const RemoteListing &listing,
                                    const std::function<QString(const QString &)> &sizeText)
{
    for (const RemoteEntry &entry : listing.folders) {
        appendRow(m_folderIcon, entry.name, entry.fileName, RemoteRowKind::Folder,
                  QStringLiteral("-"), entry.modified);
    }
    for (const RemoteEntry &entry : listing.files) {
        appendRow(m_fileIcon, entry.name, entry.fileName, RemoteRowKind::File, sizeText(entry.size),
                  entry.modified);
    }
}

void RemoteListModel::appendRow(const QIcon &icon, const QString &name, const QString &fileName,
                                RemoteRowKind kind, const QString &size, const QString &modified)
{
    auto *nameItem = new QStandardItem(icon, name);
    // The ".." row has no entry name of its own.
    if (kind != RemoteRowKind::Navigation)
        nameItem->setData(fileName, RemoteNameRole);
    nameItem->setData(QVariant::fromValue(int(kind)), RemoteKindRole);
    QStandardItemModel::appendRow({nameItem, new QStandardItem(typeText(kind)),
                                   new QStandardItem(size), new QStandardItem(modified)});
}

void RemoteListModel::setEnglish(bool english)
{
    m_english = english;
    setHorizontalHeaderLabels(headerLabels(english));
    // A row of no known kind keeps its text.
    for (int row = 0; row < rowCount(); ++row) {
        QStandardItem *typeItem = item(row, 1);
        if (typeItem && index(row, 0).data(RemoteKindRole).isValid())
            typeItem->setData(typeText(kind(index(row, 0))), Qt::DisplayRole);
    }
}

RemoteRowKind RemoteListModel::kind(const QModelIndex &index)
{
    return RemoteRowKind(index.siblingAtColumn(0).data(RemoteKindRole).toInt());
}

namespace {

QModelIndexList selectedNames(const QItemSelectionModel *selection)
{
    return selection ? selection->selectedRows(0) : QModelIndexList();
}

} // namespace

QVector<ListRow> RemoteListModel::selectedRows(const QItemSelectionModel *selection)
{
    QVector<ListRow> rows;
    for (const QModelIndex &index : selectedNames(selection)) {
        if (!index.isValid())
            continue;
        const QVariant name = index.siblingAtColumn(0).data(RemoteNameRole);
        rows.append({name.isValid() ? name.toString() : index.siblingAtColumn(0).data().toString(),
                     kind(index)});
    }
    return rows;
}

SelectionCounts RemoteListModel::selectionCounts(const QItemSelectionModel *selection)
{
    SelectionCounts counts;
    for (const QModelIndex &index : selectedNames(selection)) {
        if (!index.isValid() || kind(index) == RemoteRowKind::Navigation)
            continue;
        ++counts.items;
        if (kind(index) == RemoteRowKind::File)
            ++counts.files;
    }
    return counts;
}

QModelIndex RemoteListModel::parentRow() const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (kind(index(row, 0)) == RemoteRowKind::Navigation)
            return index(row, 0);
    }
    return {};
}
