#include "ProgramTextModel.h"

namespace {

// A megabyte line is shown by its start; the view has no use for the rest.
constexpr int kMaxShownBytes = 2000;

} // namespace

void ProgramTextModel::setProgram(const QByteArray &text, std::shared_ptr<const Toolpath> toolpath)
{
    beginResetModel();
    m_text = text;
    m_toolpath = std::move(toolpath);
    m_numberWidth = QString::number(rowCount()).size();
    endResetModel();
}

int ProgramTextModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_toolpath ? 0 : m_toolpath->lineCount();
}

QVariant ProgramTextModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    const std::vector<std::uint32_t> &lineStarts = m_toolpath->lineStarts;
    const std::size_t row = std::size_t(index.row());
    const int start = int(lineStarts[row]);
    int end = row + 1 < lineStarts.size() ? int(lineStarts[row + 1]) - 1 : m_text.size();
    while (end > start && (m_text.at(end - 1) == '\r' || m_text.at(end - 1) == '\n'))
        --end;
    const int shown = std::min(end - start, kMaxShownBytes);
    QString line = QString::fromUtf8(m_text.constData() + start, shown);
    // Control characters would only upset the row's layout.
    for (QChar &c : line) {
        if (c.unicode() < 0x20)
            c = c == QLatin1Char('\t') ? QLatin1Char(' ') : QChar(0xfffd);
    }
    if (shown < end - start)
        line += QChar(0x2026);
    return QStringLiteral("%1  ").arg(row + 1, m_numberWidth) + line;
}
