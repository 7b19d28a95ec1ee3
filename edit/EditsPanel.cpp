#include "EditsPanel.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

EditsPanel::EditsPanel(bool english, QWidget *parent)
    : QDialog(parent), m_english(english), m_list(new QTreeWidget(this)),
      m_stop(new QPushButton(this))
{
    setObjectName(QStringLiteral("editsPanel"));
    m_list->setObjectName(QStringLiteral("editedFiles"));
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(3);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_stop->setObjectName(QStringLiteral("stopWatching"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_stop, 0, Qt::AlignRight);
    resize(640, 240);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
        if (row >= 0 && row < m_files.size())
            emit stopWatching(m_files.at(row));
    });
    setEnglish(english);
}

QString EditsPanel::stateText(EditedFile::State state, bool english)
{
    switch (state) {
    case EditedFile::State::Opening:
        return english ? QStringLiteral("opening") : QStringLiteral("正在打开");
    case EditedFile::State::InSync:
        return english ? QStringLiteral("in sync") : QStringLiteral("已同步");
    case EditedFile::State::Sending:
        return english ? QStringLiteral("sending") : QStringLiteral("正在发送");
    case EditedFile::State::Waiting:
        return english ? QStringLiteral("waiting for the connection") : QStringLiteral("等待连接");
    case EditedFile::State::Conflict:
        return english ? QStringLiteral("conflict") : QStringLiteral("冲突");
    case EditedFile::State::Failed:
        return english ? QStringLiteral("not saved") : QStringLiteral("未保存");
    }
    return {};
}

void EditsPanel::setEnglish(bool english)
{
    m_english = english;
    setWindowTitle(english ? QStringLiteral("Files open for editing")
                           : QStringLiteral("正在编辑的文件"));
    m_list->setHeaderLabels(
        english ? QStringList{QStringLiteral("File"), QStringLiteral("On the controller"),
                              QStringLiteral("State")}
                : QStringList{QStringLiteral("文件"), QStringLiteral("控制器上的位置"),
                              QStringLiteral("状态")});
    m_stop->setText(english ? QStringLiteral("Stop watching") : QStringLiteral("停止监视"));
    fill();
}

void EditsPanel::showFiles(const QList<EditedFile *> &files, bool bringToFront)
{
    m_files = files;
    fill();
    if (!bringToFront)
        return;
    show();
    raise();
    activateWindow();
}

void EditsPanel::fill()
{
    const int current = m_list->indexOfTopLevelItem(m_list->currentItem());
    m_list->clear();
    for (const EditedFile *file : qAsConst(m_files)) {
        m_list->addTopLevelItem(new QTreeWidgetItem(
            {file->name(), file->remotePath(), stateText(file->state(), m_english)}));
    }
    m_list->setCurrentItem(m_list->topLevelItem(qMax(0, current)));
}
