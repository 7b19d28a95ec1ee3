#pragma once

#include "Toolpath.h"

#include <QAbstractListModel>
#include <QByteArray>

#include <memory>

// The program's text as a list of lines, made when a line is shown: a program of millions
// of lines costs only its bytes and one offset a line.
class ProgramTextModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // The lines are the toolpath's, shared rather than copied.
    void setProgram(const QByteArray &text, std::shared_ptr<const Toolpath> toolpath);
    QByteArray text() const { return m_text; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    QByteArray m_text;
    std::shared_ptr<const Toolpath> m_toolpath;
    int m_numberWidth = 1;
};
