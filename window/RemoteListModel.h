#pragma once

#include "ListSelection.h"
#include "RemoteListRoles.h"

#include <QIcon>
#include <QStandardItemModel>

#include <functional>

class QItemSelectionModel;
struct RemoteListing;

// How many of the selected rows a Delete and a Download would take.
struct SelectionCounts
{
    int items = 0; // every row but ".."
    int files = 0; // the file rows among them
};

// The rows of the remote file list: the ".." row first below the remote root directory, then
// the folders and the files of one listing. Each row's name item carries the entry's own name
// (RemoteNameRole) and its kind (RemoteKindRole), so nothing has to read the type text, which
// follows the language of the window.
class RemoteListModel : public QStandardItemModel
{
    Q_OBJECT
public:
    explicit RemoteListModel(bool english, QObject *parent = nullptr);

    // No rows at all, or the ".." row alone; the header and the rows to come in the language
    // asked for.
    void clearRows(bool english);
    void showNavigationOnly(bool withParentRow, bool english);
    // sizeText gives the size column's text for the size field of ls.
    void appendListing(const RemoteListing &listing,
                       const std::function<QString(const QString &)> &sizeText);
    // The header and every type text in the language asked for.
    void setEnglish(bool english);

    static RemoteRowKind kind(const QModelIndex &index);
    // The selected rows, in the order the selection gives them; none without a selection.
    static QVector<ListRow> selectedRows(const QItemSelectionModel *selection);
    static SelectionCounts selectionCounts(const QItemSelectionModel *selection);
    // The ".." row, invalid in the remote root directory.
    QModelIndex parentRow() const;

private:
    QString typeText(RemoteRowKind kind) const;
    void appendRow(const QIcon &icon, const QString &name, const QString &fileName,
                   RemoteRowKind kind, const QString &size, const QString &modified);

    bool m_english = false;
    // Made once: every listing reuses them, so the pixmaps the view caches for them are made
    // once too, instead of a new set per listing piling up in the pixmap cache.
    const QIcon m_folderIcon;
    const QIcon m_fileIcon;
    const QIcon m_parentIcon;
};
