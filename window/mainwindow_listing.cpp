#include "mainwindow.h"

#include "ControllerShell.h"
#include "FileSizeText.h"
#include "IconLoader.h"
#include "ListingParser.h"
#include "RemoteListRoles.h"
#include "ShellMarkers.h"
#include "TerminalText.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QTreeView>

namespace {

// Time of day at the start of the listing path's diagnostic lines.
QString now()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

const char *boolText(bool value)
{
    return value ? "true" : "false";
}

QStringList headerLabels(bool english)
{
    if (english) {
        return {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Size"),
                QStringLiteral("Modified Time")};
    }
    return {QStringLiteral("名称"), QStringLiteral("类型"), QStringLiteral("大小"),
            QStringLiteral("修改时间")};
}

// The directory above `dir` ("/a/b/" gives "/a/"); a text operation on the remote path.
QString parentDirectory(const QString &dir)
{
    QString path = dir;
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QList<QStandardItem *> makeRow(const QIcon &icon, const QString &name, const QString &type,
                               const QString &size, const QString &modified)
{
    return {new QStandardItem(icon, name), new QStandardItem(type), new QStandardItem(size),
            new QStandardItem(modified)};
}

// A row of the listing: its name item also keeps the name that paths are built from.
QList<QStandardItem *> makeEntryRow(const QIcon &icon, const RemoteEntry &entry,
                                    const QString &type, const QString &size)
{
    QList<QStandardItem *> row = makeRow(icon, entry.name, type, size, entry.modified);
    row.first()->setData(entry.fileName, RemoteNameRole);
    return row;
}

} // namespace

void mainwindow::slotDataArrived(QString strMsg, QString strIp, int nPort)
{
    Q_UNUSED(strIp)
    Q_UNUSED(nPort)

    qCDebug(lcWindow).noquote() << "收到数据:" << strMsg
                                << "当前状态m_isListingRemote:" << boolText(m_isListingRemote);

    // The outcome lines of delete and folder creation by shell command. They count whether or
    // not a listing is outstanding, and never become part of one.
    const ShellMarkerScan scan = scanShellMarkers(m_strMarkerCarry, strMsg);
    m_strMarkerCarry = scan.carry;
    for (const ShellMarker marker : scan.outcomes) {
        const bool english = isEnglishUi();
        bool refresh = false;
        switch (marker) {
        case ShellMarker::DeleteSuccess:
            appendLog(english ? QStringLiteral("Delete operation completed successfully")
                              : QStringLiteral("删除操作成功完成"));
            refresh = true;
            break;
        case ShellMarker::DeleteFailed:
            appendLog(english ? QStringLiteral("Delete operation failed")
                              : QStringLiteral("删除操作失败"));
            break;
        case ShellMarker::CreateSuccess:
            appendLog(english ? QStringLiteral("New folder operation completed successfully")
                              : QStringLiteral("新建文件夹操作成功完成"));
            refresh = true;
            break;
        case ShellMarker::CreateFailed:
            appendLog(english ? QStringLiteral("New folder operation failed")
                              : QStringLiteral("新建文件夹操作失败"));
            break;
        }
        m_btnDelete->setText(english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"));
        m_btnDownload->setText(english ? QStringLiteral("Download File")
                                       : QStringLiteral("下载文件"));
        if (refresh)
            QTimer::singleShot(500, this, &mainwindow::onRefreshClicked);
    }
    if (scan.concernsMarker)
        return;

    if (!m_isListingRemote) {
        if (TerminalText::isControlOnly(strMsg))
            qCDebug(lcWindow).noquote() << "忽略纯控制序列";
        return;
    }
    // During a listing every piece is kept, also one of white space or digits alone: a lone
    // line feed separates two entries, a lone digit belongs to a size or a time, and the
    // prompt's last blank may come by itself. Control sequences go when the text is cleaned.

    // The part before the new piece has been searched already; a prompt that the new piece
    // completes starts at most one prompt length before it.
    const QString prompt = ControllerShell::prompt();
    const int searchFrom = qMax(0, m_strRecvBuffer.size() - prompt.size() + 1);
    m_strRecvBuffer += strMsg;
    qCDebug(lcWindow).noquote() << "累积数据:" << m_strRecvBuffer;

    if (m_strRecvBuffer.indexOf(prompt, searchFrom) >= 0) {
        qCDebug(lcWindow).noquote() << "检测到命令提示符，处理数据";
        m_bufferTimer->stop();
        processBufferedData();
    } else {
        qCDebug(lcWindow).noquote() << "未检测到命令提示符，启动定时器";
        m_bufferTimer->start();
    }
}

void mainwindow::processBufferedData()
{
    qCDebug(lcWindow).noquote() << now()
                                << "processBufferedData() 开始处理缓冲数据:" << m_strRecvBuffer;

    const bool english = isEnglishUi();
    m_model->clear();
    m_model->setHorizontalHeaderLabels(headerLabels(english));

    if (m_strCurrentPath != m_strRootPath) {
        m_model->appendRow(makeRow(loadIcon(QStringLiteral("返回上一层.png")), QStringLiteral(".."),
                                   english ? QStringLiteral("Navigation") : QStringLiteral("导航"),
                                   QString(), QString()));
    }

    const QString cleaned = ListingParser::cleanOutput(m_strRecvBuffer, ControllerShell::prompt());
    qCDebug(lcWindow).noquote() << "清理后的数据:" << cleaned;
    const RemoteListing listing = ListingParser::parse(cleaned);

    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    const QString folderType = english ? QStringLiteral("Folder") : QStringLiteral("文件夹");
    const QString fileType = english ? QStringLiteral("File") : QStringLiteral("文件");
    for (const RemoteEntry &entry : listing.folders)
        m_model->appendRow(makeEntryRow(folderIcon, entry, folderType, QStringLiteral("-")));
    for (const RemoteEntry &entry : listing.files)
        m_model->appendRow(makeEntryRow(fileIcon, entry, fileType, formatFileSize(entry.size)));

    qCDebug(lcWindow).noquote() << now() << "processBufferedData() 处理完成，模型行数:"
                                << m_model->rowCount();

    m_treeView->reset();
    m_treeView->update();
    connect(m_treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &mainwindow::onSelectionChanged, Qt::UniqueConnection);
    qCDebug(lcWindow).noquote() << now() << "processBufferedData() UI更新完成，重置状态";

    // The first listing after a connection can be spoiled by a terminal error of the
    // controller's login profile; the next one normally goes through.
    if (m_model->rowCount() == 0 && m_strRecvBuffer.contains(QLatin1String("resize:"))) {
        qCDebug(lcWindow).noquote() << now() << "检测到首次连接resize错误，2秒后自动重试";
        m_isListingRemote = false;
        m_btnRefresh->setEnabled(true);
        m_strRecvBuffer.clear();
        QTimer::singleShot(2000, this, [this] {
            qCDebug(lcWindow).noquote() << now() << "执行首次连接重试";
            onRefreshClicked();
        });
        return;
    }

    m_isListingRemote = false;
    m_btnRefresh->setEnabled(true);
    m_strRecvBuffer.clear();
    m_btnDelete->setText(english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"));
    m_btnDownload->setText(english ? QStringLiteral("Download File") : QStringLiteral("下载文件"));
    QTimer::singleShot(50, this, &mainwindow::adjustColumnWidths);
}

QString mainwindow::formatFileSize(const QString &size) const
{
    return fileSizeText(size);
}

void mainwindow::onSftpInitialized()
{
    qCDebug(lcWindow).noquote() << now() << "onSftpInitialized() 开始"
                                << "m_bConnectState:" << boolText(m_bConnectState)
                                << "m_isListingRemote:" << boolText(m_isListingRemote);

    if (m_pSshClient)
        m_sftpChannel = m_pSshClient->getSftpChannel();
    appendLog(isEnglishUi() ? QStringLiteral("SFTP channel is ready.")
                            : QStringLiteral("SFTP通道准备就绪。"));
    for (QPushButton *button :
         {m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete, m_btnRefresh})
        button->setEnabled(true);

    qCDebug(lcWindow).noquote() << now() << "onSftpInitialized() 发送echo命令清空shell缓冲";
    emit sigSend(ControllerShell::flushCommand());

    qCDebug(lcWindow).noquote() << now() << "onSftpInitialized() 延迟3秒后调用刷新";
    QTimer::singleShot(3000, this, [this] {
        qCDebug(lcWindow).noquote() << now() << "延迟刷新定时器触发"
                                    << "m_bConnectState:" << boolText(m_bConnectState)
                                    << "m_isListingRemote:" << boolText(m_isListingRemote);
        onRefreshClicked();
    });
}

void mainwindow::onRefreshClicked()
{
    qCDebug(lcWindow).noquote() << now() << "onRefreshClicked() 开始";
    if (!m_bConnectState || m_isListingRemote) {
        qCDebug(lcWindow).noquote() << now() << "onRefreshClicked() 条件不满足，返回"
                                    << "m_bConnectState:" << boolText(m_bConnectState)
                                    << "m_isListingRemote:" << boolText(m_isListingRemote);
        return;
    }

    qCDebug(lcWindow).noquote() << now()
                                << "onRefreshClicked() 设置m_isListingRemote=true前，清空缓冲";
    m_strRecvBuffer.clear();
    m_bufferTimer->stop();
    m_isListingRemote = true;
    m_btnRefresh->setEnabled(false);

    const bool english = isEnglishUi();
    appendLog((english ? QStringLiteral("Refreshing remote directory: %1")
                       : QStringLiteral("正在刷新远程目录: %1"))
                  .arg(m_strCurrentPath));
    m_pathLabel->setText(
        (english ? QStringLiteral("CNC Controller Files: %1") : QStringLiteral("CNC控制器文件: %1"))
            .arg(m_strCurrentPath));
    m_model->clear();
    m_model->setHorizontalHeaderLabels(headerLabels(english));
    m_btnDelete->setText(english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"));
    m_btnDownload->setText(english ? QStringLiteral("Download File") : QStringLiteral("下载文件"));

    const QString command = ControllerShell::listingCommand(m_strCurrentPath);
    qCDebug(lcWindow).noquote() << now() << "onRefreshClicked() 发送命令:" << command.trimmed();
    emit sigSend(command);
}

void mainwindow::onRemoteDoubleClicked(QModelIndex index)
{
    if (!index.isValid() || !index.model() || m_isListingRemote)
        return;

    // The name as listed: blanks at either end belong to it.
    const QString name = index.siblingAtColumn(0).data().toString();
    const QString type = index.siblingAtColumn(1).data().toString();
    const QString folderType = isEnglishUi() ? QStringLiteral("Folder") : QStringLiteral("文件夹");

    if (type == folderType) {
        if (!m_strCurrentPath.endsWith(QLatin1Char('/')))
            m_strCurrentPath += QLatin1Char('/');
        m_strCurrentPath += name + QLatin1Char('/');
        onRefreshClicked();
    } else if (name == QLatin1String("..") && m_strRootPath.size() < m_strCurrentPath.size()) {
        m_strCurrentPath = parentDirectory(m_strCurrentPath);
        onRefreshClicked();
    }
}

void mainwindow::onSelectionChanged()
{
    const QItemSelectionModel *selection = m_treeView->selectionModel();
    if (!selection)
        return;

    const bool english = isEnglishUi();
    const QString fileType = english ? QStringLiteral("File") : QStringLiteral("文件");
    int itemCount = 0;
    int fileCount = 0;
    const QModelIndexList rows = selection->selectedRows(0);
    for (const QModelIndex &index : rows) {
        if (!index.isValid() || index.data().toString().trimmed() == QLatin1String(".."))
            continue;
        ++itemCount;
        if (index.siblingAtColumn(1).data().toString() == fileType)
            ++fileCount;
    }

    if (itemCount > 1) {
        m_btnDelete->setText(
            (english ? QStringLiteral("Delete %1 Items") : QStringLiteral("删除 %1 个项目"))
                .arg(itemCount));
    } else {
        m_btnDelete->setText(english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"));
    }
    if (fileCount > 1) {
        m_btnDownload->setText(
            (english ? QStringLiteral("Download %1 Files") : QStringLiteral("下载 %1 个文件"))
                .arg(fileCount));
    } else {
        m_btnDownload->setText(english ? QStringLiteral("Download File")
                                       : QStringLiteral("下载文件"));
    }
}
