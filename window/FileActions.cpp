#include "FileActions.h"

#include <QAction>
#include <QPushButton>

FileActions::FileActions(bool english, QObject *parent)
    : QObject(parent), m_english(english), m_upload(addAction("uploadAction")),
      m_uploadFolder(addAction("uploadFolderAction")), m_download(addAction("downloadAction")),
      m_newFolder(addAction("newFolderAction")), m_remove(addAction("deleteAction")),
      m_rename(addAction("renameAction")), m_refresh(addAction("refreshAction"))
{
    m_remove->setShortcuts(QKeySequence::Delete);
    m_rename->setShortcut(Qt::Key_F2);
    m_refresh->setShortcut(Qt::Key_F5);
    // F5 refreshes wherever the focus is in the window; the other keys act on the list.
    m_refresh->setShortcutContext(Qt::WindowShortcut);
    updateTexts();
    // Nothing can be done before the SFTP channel is ready.
    setState({});
}

QAction *FileActions::addAction(const char *objectName)
{
    auto *action = new QAction(this);
    action->setObjectName(QLatin1String(objectName));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    return action;
}

void FileActions::setEnglish(bool english)
{
    m_english = english;
    updateTexts();
}

void FileActions::showSelectionCounts(SelectionCounts counts)
{
    m_counts = counts;
    updateTexts();
}

void FileActions::updateTexts()
{
    const bool en = m_english;
    const auto set = [](QAction *action, const QString &text, const QString &label) {
        action->setText(text);
        action->setIconText(label);
    };
    set(m_upload, en ? QStringLiteral("Upload File") : QStringLiteral("上传文件"),
        en ? QStringLiteral("Upload File") : QStringLiteral("上传文件"));
    set(m_uploadFolder, en ? QStringLiteral("Upload Folder") : QStringLiteral("上传文件夹"),
        en ? QStringLiteral("Upload Folder") : QStringLiteral("上传文件夹"));
    set(m_download, en ? QStringLiteral("Download") : QStringLiteral("下载"),
        m_counts.files > 1
            ? (en ? QStringLiteral("Download %1 Files") : QStringLiteral("下载 %1 个文件"))
                  .arg(m_counts.files)
            : (en ? QStringLiteral("Download File") : QStringLiteral("下载文件")));
    set(m_newFolder, en ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"),
        en ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"));
    set(m_remove, en ? QStringLiteral("Delete") : QStringLiteral("删除"),
        m_counts.items > 1
            ? (en ? QStringLiteral("Delete %1 Items") : QStringLiteral("删除 %1 个项目"))
                  .arg(m_counts.items)
            : (en ? QStringLiteral("Delete File") : QStringLiteral("删除文件")));
    set(m_rename, en ? QStringLiteral("Rename") : QStringLiteral("重命名"),
        en ? QStringLiteral("Rename") : QStringLiteral("重命名"));
    set(m_refresh, en ? QStringLiteral("Refresh") : QStringLiteral("刷新"),
        en ? QStringLiteral("Refresh List") : QStringLiteral("刷新列表"));
}

void FileActions::setState(const FileActionState &state)
{
    // Every file request turns the four file operations off together and every job report
    // turns them on together; rename goes with them, Refresh follows the listing.
    const bool fileOperations = state.connected && state.sftpReady && !state.requestOutstanding;
    for (QAction *action : {m_upload, m_uploadFolder, m_download, m_newFolder, m_remove, m_rename})
        action->setEnabled(fileOperations);
    m_refresh->setEnabled(state.connected && state.refreshOffered && !state.listing);
}

void FileActions::showOn(QAction *action, QPushButton *button)
{
    const auto follow = [action, button] {
        button->setText(action->iconText());
        button->setEnabled(action->isEnabled());
    };
    follow();
    connect(action, &QAction::changed, button, follow);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
}
