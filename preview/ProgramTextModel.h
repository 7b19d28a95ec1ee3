#pragma once

#include <QAbstractListModel>
#include <QByteArray>

#include <memory>
#include <vector>

// The program's text as a list of lines, made when a line is shown: a program of millions
// of lines costs only its bytes and one offset a line.
class ProgramTextModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    void setProgram(const QByteArray &text, std::vector<std::uint32_t> lineStarts);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QByteArray m_text;
    std::vector<std::uint32_t> m_lineStarts;
    int m_numberWidth = 1;
};
