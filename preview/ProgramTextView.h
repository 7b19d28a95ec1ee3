#pragma once

#include <QAbstractScrollArea>

class ProgramTextModel;

// The program's text, one row a line, with a current line: the arrows, Page Up and Down, Home,
// End and a click move it. Only the rows in sight are ever looked at, so that a program of
// twenty million lines costs what a short one does; an item view would lay out every row.
class ProgramTextView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit ProgramTextView(ProgramTextModel *model, QWidget *parent = nullptr);

    int currentRow() const { return m_currentRow; }
    // Makes row current and brings it into sight, in the middle when it was out of it.
    void setCurrentRow(int row);

signals:
    void currentRowChanged(int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void updateScrollBars();
    int rowHeight() const;
    int rowsInSight() const;
    int rowCount() const;

    ProgramTextModel *const m_model;
    int m_currentRow = -1;
    int m_widestSeen = 0; // pixels of the widest row drawn so far
};
