#pragma once

#include "EditedFile.h"

#include <QDialog>
#include <QList>

class QPushButton;
class QTreeWidget;

// The files open for editing, each with where it lives on the controller and its state, and
// a button that stops watching the one selected. Not modal: it stays open beside the window.
class EditsPanel : public QDialog
{
    Q_OBJECT
public:
    EditsPanel(bool english, QWidget *parent);

    static QString stateText(EditedFile::State state, bool english);
    void setEnglish(bool english);
    // Lists files; bringToFront shows the panel and brings it to the front.
    void showFiles(const QList<EditedFile *> &files, bool bringToFront = true);

signals:
    void stopWatching(EditedFile *file);

private:
    void fill();

    bool m_english;
    QList<EditedFile *> m_files;
    QTreeWidget *const m_list;
    QPushButton *const m_stop;
};
