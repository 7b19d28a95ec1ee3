#include "HistoryTableModel.h"

#include <QBrush>
#include <QColor>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace {

QString pick(bool english, const char *en, const char *zh)
{
    return english ? QString::fromUtf8(en) : QString::fromUtf8(zh);
}

QString fileName(const QString &path)
{
    // A folder's path may end in a slash; its name is still the last part.
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return QFileInfo(trimmed).fileName();
}

bool isProblem(HistoryEvent::Outcome outcome)
{
    return outcome == HistoryEvent::Outcome::Failed || outcome == HistoryEvent::Outcome::Mismatch;
}

} // namespace

HistoryTableModel::HistoryTableModel(bool english, QObject *parent)
    : QAbstractTableModel(parent), m_english(english)
{}

QString HistoryTableModel::operationText(HistoryEvent::Operation operation, bool english)
{
    using Op = HistoryEvent::Operation;
    switch (operation) {
    case Op::Upload:
        return pick(english, "upload", "上传");
    case Op::Download:
        return pick(english, "download", "下载");
    case Op::Delete:
        return pick(english, "delete", "删除");
    case Op::NewFolder:
        return pick(english, "new folder", "新建文件夹");
    case Op::Rename:
        return pick(english, "rename", "重命名");
    case Op::Verify:
        return pick(english, "verify", "校验");
    }
    return QString();
}

QString HistoryTableModel::outcomeText(HistoryEvent::Outcome outcome, bool english)
{
    using Out = HistoryEvent::Outcome;
    switch (outcome) {
    case Out::Succeeded:
        return pick(english, "succeeded", "成功");
    case Out::Failed:
        return pick(english, "failed", "失败");
    case Out::Cancelled:
        return pick(english, "cancelled", "已取消");
    case Out::Verified:
        return pick(english, "verified", "已校验");
    case Out::Mismatch:
        return pick(english, "mismatch", "不一致");
    case Out::Unverified:
        return pick(english, "not verified", "未校验");
    case Out::Sent:
        return pick(english, "sent to the shell", "已发送到命令行");
    }
    return QString();
}

QVector<HistoryTableModel::Row> HistoryTableModel::newestFirst(QVector<HistoryEvent> events)
{
    // Events of the same time (two windows writing side by side) keep the file's order,
    // reversed.
    std::reverse(events.begin(), events.end());
    std::stable_sort(events.begin(), events.end(),
                     [](const HistoryEvent &a, const HistoryEvent &b) { return a.time > b.time; });
    QVector<Row> rows;
    rows.reserve(events.size());
    for (HistoryEvent &event : events) {
        QStringList names{fileName(event.remotePath), fileName(event.localPath)};
        if (!event.newRemotePath.isEmpty())
            names << fileName(event.newRemotePath);
        const QString folded = names.join(QLatin1Char('\n')).toCaseFolded();
        rows.append(Row{std::move(event), folded});
    }
    return rows;
}

void HistoryTableModel::setRows(QVector<Row> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    applyFilter();
    endResetModel();
}

void HistoryTableModel::setFilter(const QString &text)
{
    if (text == m_filter)
        return;
    beginResetModel();
    m_filter = text;
    applyFilter();
    endResetModel();
}

void HistoryTableModel::applyFilter()
{
    // The needle never holds a line break, so it matches within one name only.
    QString needle = m_filter.toCaseFolded();
    needle.remove(QLatin1Char('\n'));
    m_shown.clear();
    for (int i = 0; i < m_rows.size(); ++i) {
        if (needle.isEmpty() || m_rows.at(i).fileNames.contains(needle))
            m_shown.append(i);
    }
}

int HistoryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shown.size();
}

int HistoryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString HistoryTableModel::displayText(const HistoryEvent &event, int column) const
{
    switch (column) {
    case Time:
        return event.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case Operation:
        return operationText(event.operation, m_english);
    case File:
        return event.newRemotePath.isEmpty()
                   ? event.remotePath
                   : event.remotePath + QStringLiteral(" → ") + event.newRemotePath;
    case LocalPath:
        return event.localPath;
    case Size:
        return event.size < 0 ? QString() : QLocale(QLocale::English).toString(event.size);
    case Sha256:
        return event.sha256.left(12);
    case Outcome:
        return outcomeText(event.outcome, m_english);
    }
    return QString();
}

QVariant HistoryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown.size())
        return QVariant();
    const HistoryEvent &event = m_rows.at(m_shown.at(index.row())).event;
    switch (role) {
    case Qt::DisplayRole:
        return displayText(event, index.column());
    case Qt::ToolTipRole:
        if (index.column() == Time)
            return event.time.toString(Qt::ISODateWithMs);
        if (index.column() == Sha256)
            return event.sha256;
        if (index.column() == Outcome)
            return event.detail;
        if (index.column() == File || index.column() == LocalPath)
            return displayText(event, index.column());
        return QVariant();
    case Qt::ForegroundRole:
        if (index.column() == Outcome && isProblem(event.outcome))
            return QBrush(QColor(0xb9, 0x1c, 0x1c));
        return QVariant();
    case Qt::TextAlignmentRole:
        if (index.column() == Size)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time:
        return pick(m_english, "Time", "时间");
    case Operation:
        return pick(m_english, "Operation", "操作");
    case File:
        return pick(m_english, "File", "文件");
    case LocalPath:
        return pick(m_english, "Local path", "本地路径");
    case Size:
        return pick(m_english, "Size", "大小");
    case Sha256:
        return QStringLiteral("SHA-256");
    case Outcome:
        return pick(m_english, "Outcome", "结果");
    }
    return QVariant();
}
