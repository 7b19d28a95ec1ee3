#include "ProgramTextView.h"

#include "ProgramTextModel.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

constexpr int kPadding = 4;

} // namespace

ProgramTextView::ProgramTextView(ProgramTextModel *model, QWidget *parent)
    : QAbstractScrollArea(parent), m_model(model)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_currentRow = -1;
        m_widestSeen = 0;
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
        updateScrollBars();
        viewport()->update();
    });
    updateScrollBars();
}

int ProgramTextView::rowCount() const
{
    return m_model->rowCount();
}

int ProgramTextView::rowHeight() const
{
    return fontMetrics().height() + 2;
}

int ProgramTextView::rowsInSight() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

void ProgramTextView::updateScrollBars()
{
    // One step a row: the bar's range is in rows, whatever their count.
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - rowsInSight()));
    verticalScrollBar()->setPageStep(rowsInSight());
    horizontalScrollBar()->setRange(0, std::max(0, m_widestSeen - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void ProgramTextView::setCurrentRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    const int first = verticalScrollBar()->value();
    if (row < first || row >= first + rowsInSight())
        verticalScrollBar()->setValue(row - rowsInSight() / 2);
    if (row == m_currentRow)
        return;
    m_currentRow = row;
    viewport()->update();
    emit currentRowChanged(row);
}

void ProgramTextView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const int first = verticalScrollBar()->value();
    const int last = std::min(rowCount(), first + rowsInSight() + 1);
    const int left = kPadding - horizontalScrollBar()->value();
    int widest = m_widestSeen;
    for (int row = first; row < last; ++row) {
        const QRect line(0, (row - first) * height, viewport()->width(), height);
        const bool current = row == m_currentRow;
        if (current)
            painter.fillRect(line, palette().brush(QPalette::Highlight));
        painter.setPen(palette().color(current ? QPalette::HighlightedText : QPalette::Text));
        const QString text = m_model->index(row, 0).data().toString();
        painter.drawText(line.adjusted(left, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text);
        widest = std::max(widest, fontMetrics().horizontalAdvance(text) + 2 * kPadding);
    }
    if (widest != m_widestSeen) {
        m_widestSeen = widest;
        updateScrollBars();
    }
}

void ProgramTextView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ProgramTextView::keyPressEvent(QKeyEvent *event)
{
    const int row = std::max(m_currentRow, 0);
    switch (event->key()) {
    case Qt::Key_Up:
        setCurrentRow(std::max(0, row - 1));
        break;
    case Qt::Key_Down:
        setCurrentRow(std::min(rowCount() - 1, m_currentRow + 1));
        break;
    case Qt::Key_PageUp:
        setCurrentRow(std::max(0, row - rowsInSight()));
        break;
    case Qt::Key_PageDown:
        setCurrentRow(std::min(rowCount() - 1, row + rowsInSight()));
        break;
    case Qt::Key_Home:
        setCurrentRow(0);
        break;
    case Qt::Key_End:
        setCurrentRow(rowCount() - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
}

void ProgramTextView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    setCurrentRow(verticalScrollBar()->value() + event->pos().y() / rowHeight());
}
