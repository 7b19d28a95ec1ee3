#include "mainwindow.h"

#include "ColumnWidths.h"
#include "ControllerShell.h"
#include "FileSizeText.h"
#include "FolderName.h"
#include "HostKeyLog.h"
#include "IconLoader.h"
#include "ListSelection.h"
#include "ListingParser.h"
#include "PreviewLauncher.h"
#include "ProgramFiles.h"
#include "RemoteListActions.h"
#include "RemoteListRoles.h"
#include "RemotePath.h"
#include "RenamePrompt.h"
#include "ShellMarkers.h"
#include "ShellPromptWatch.h"
#include "TerminalText.h"
#include "TransferProgressLine.h"
#include "WindowStyles.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSettings>
#include <QStandardItemModel>
#include <QStyle>
#include <QTextDocument>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <initializer_list>

Q_LOGGING_CATEGORY(lcWindow, "cnc.window", QtWarningMsg)

namespace {

QString settingsFilePath()
{
    return ProgramFiles::settingsFile();
}

const char languageKey[] = "language";

// The operation log keeps this many of its newest lines.
constexpr int kLogLines = 5000;

bool isFileType(const QString &type)
{
    return type == QLatin1String("File") || type == QStringLiteral("文件");
}

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

const QString kLastUploadDir = QStringLiteral("lastUploadDir");
const QString kLastDownloadDir = QStringLiteral("lastDownloadDir");

bool isSftpReady(const QSharedPointer<QSsh::SftpChannel> &channel)
{
    return channel && channel->state() == QSsh::SftpChannel::Initialized;
}

void setEnabledInOrder(std::initializer_list<QPushButton *> buttons, bool enabled)
{
    for (QPushButton *button : buttons)
        button->setEnabled(enabled);
}

// The names and type texts of the selected rows, in the order the selection model gives them.
// The name is the entry's own, kept by the listing beside the text shown; the ".." row has
// only its text.
QVector<ListRow> selectedListRows(const QTreeView *view)
{
    QVector<ListRow> rows;
    const QItemSelectionModel *selection = view->selectionModel();
    if (!selection)
        return rows;
    const QModelIndexList indexes = selection->selectedRows(0);
    for (const QModelIndex &index : indexes) {
        if (!index.isValid())
            continue;
        const QVariant name = index.data(RemoteNameRole);
        rows.append({name.isValid() ? name.toString() : index.data().toString(),
                     index.sibling(index.row(), 1).data().toString()});
    }
    return rows;
}

} // namespace

mainwindow::mainwindow(CConnectionForSshClient *pSshClient, QWidget *parent)
    : QWidget(parent), m_bufferTimer(new QTimer(this)), m_listingTimeoutTimer(new QTimer(this)),
      m_reconnectTimer(new QTimer(this)), m_pSshClient(pSshClient),
      m_hostKeyLog(new HostKeyLog([this] { return isEnglishUi(); },
                                  [this](const QString &text) { appendLog(text); }, this))
{
    m_bufferTimer->setObjectName(QStringLiteral("m_bufferTimer"));
    m_listingTimeoutTimer->setObjectName(QStringLiteral("m_listingTimeoutTimer"));
    m_reconnectTimer->setObjectName(QStringLiteral("m_reconnectTimer"));
    m_listingTimeoutTimer->setSingleShot(true);
    m_listingTimeoutTimer->setInterval(20000);
    connect(m_listingTimeoutTimer, &QTimer::timeout, this, &mainwindow::onListingTimedOut);

    setupUi();
    setupModel();

    if (!pSshClient) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SSH connection object is invalid.")
                                : QStringLiteral("错误: SSH连接对象无效。"));
        return;
    }

    connect(this, &mainwindow::sigSend, pSshClient,
            qOverload<QString>(&CConnectionForSshClient::slotSend));
    connect(pSshClient, &CConnectionForSshClient::sigDataArrived, this,
            &mainwindow::slotDataArrived);
    connect(pSshClient, &CConnectionForSshClient::sigConnectStateChanged, this,
            &mainwindow::slotConnectStateChanged);
    connect(pSshClient, &CConnectionForSshClient::sftpChannelInitialized, this,
            &mainwindow::onSftpInitialized);
    connect(pSshClient, &CConnectionForSshClient::sftpJobFinished, this,
            &mainwindow::onSftpJobFinished);
    connect(pSshClient, &CConnectionForSshClient::sigSendFailed, this, &mainwindow::onSendFailed);
    connect(this, &mainwindow::sigUploadFile, pSshClient, &CConnectionForSshClient::slotUploadFile);
    connect(this, &mainwindow::sigDeleteRemotePath, pSshClient,
            &CConnectionForSshClient::slotDeleteRemotePath);
    connect(this, &mainwindow::sigDownloadFile, pSshClient,
            &CConnectionForSshClient::slotDownloadFile);
    connect(this, &mainwindow::sigCreateRemoteFolder, pSshClient,
            &CConnectionForSshClient::slotCreateRemoteFolder);
    connect(pSshClient, &CConnectionForSshClient::sigHostKeyChecked, m_hostKeyLog,
            &HostKeyLog::slotHostKeyChecked);
    connect(pSshClient, &CConnectionForSshClient::sigConnectStateChanged, m_hostKeyLog,
            &HostKeyLog::slotConnectStateChanged);
    connect(this, &mainwindow::sigRenameRemotePath, pSshClient,
            &CConnectionForSshClient::slotRenameRemotePath);
    connect(pSshClient, &CConnectionForSshClient::sigRenameFinished, this,
            &mainwindow::onRenameFinished);
    connect(pSshClient, &CConnectionForSshClient::sigReplacementRecovered, this,
            &mainwindow::onReplacementRecovered);
    connect(pSshClient, &CConnectionForSshClient::sftpTransferStarted, m_progressLine,
            &TransferProgressLine::addTransfer);
    connect(pSshClient, &CConnectionForSshClient::sftpTransferProgress, m_progressLine,
            &TransferProgressLine::setProgress);
    connect(pSshClient, &CConnectionForSshClient::sftpTransferCancelling, m_progressLine,
            &TransferProgressLine::markCancelling);
    connect(m_progressLine, &TransferProgressLine::cancelRequested, pSshClient,
            &CConnectionForSshClient::slotCancelTransfers);

    setWindowTitle(connectedTitle(workerHostText()));

    // A ready report the worker sent before the connections above were made is lost; taking
    // over a channel that is already initialised stands in for it.
    m_sftpChannel = pSshClient->getSftpChannel();
    if (m_sftpChannel && m_sftpChannel->state() == QSsh::SftpChannel::Initialized)
        onSftpInitialized();

    m_bufferTimer->setSingleShot(true);
    m_bufferTimer->setInterval(500);
    connect(m_bufferTimer, &QTimer::timeout, this, &mainwindow::processBufferedData);

    // Started and stopped with the connection state; nothing listens to it.
    m_reconnectTimer->setInterval(2000);
}

mainwindow::~mainwindow()
{
    // Only asks the worker's thread to stop; the worker then deletes itself. A worker whose
    // thread was stopped by somebody else may already be gone, which the guard shows.
    if (m_pSshClient)
        m_pSshClient->quitThread();
}

void mainwindow::logRecordedHostKey(const HostKeyReport &key)
{
    m_hostKeyLog->slotHostKeyChecked(key);
}

void mainwindow::setupUi()
{
    const bool english = isEnglishUi();

    resize(1200, 800);
    setWindowTitle(english ? QStringLiteral("CNC Controller File Manager")
                           : QStringLiteral("CNC控制器文件管理"));
    setMinimumSize(1000, 700);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setSpacing(15);
    mainLayout->setContentsMargins(20, 20, 20, 20);

    auto *topLayout = new QHBoxLayout;
    topLayout->setSpacing(10);

    m_pathLabel = new QLabel(
        (english ? QStringLiteral("CNC Controller Files: ") : QStringLiteral("CNC控制器文件: ")) +
            m_strRootPath,
        this);
    m_pathLabel->setObjectName(QStringLiteral("m_pathLabel"));
    m_pathLabel->setStyleSheet(
        QStringLiteral("QLabel { font-weight: 600; font-size: 16px; color: #1f2937; }"));

    m_statusIndicator = new QLabel(this);
    m_statusIndicator->setObjectName(QStringLiteral("m_statusIndicator"));
    m_statusIndicator->setFixedSize(12, 12);
    m_statusIndicator->setStyleSheet(QStringLiteral("QLabel { border-radius: 6px; }"));
    updateStatusIndicator(true);

    m_statusLabel = new QLabel(
        english ? QStringLiteral("Connection Status:") : QStringLiteral("连接状态:"), this);
    m_statusLabel->setObjectName(QStringLiteral("m_statusLabel"));
    m_statusLabel->setStyleSheet(QStringLiteral("QLabel { color: #6b7280; font-size: 14px; }"));

    // The button names the language it switches to.
    m_btnLanguage =
        new QPushButton(english ? QStringLiteral("中文") : QStringLiteral("English"), this);
    m_btnLanguage->setObjectName(QStringLiteral("m_btnLanguage"));
    m_btnLanguage->setStyleSheet(WindowStyles::languageButton());
    connect(m_btnLanguage, &QPushButton::clicked, this, &mainwindow::onLanguageToggled);

    topLayout->addWidget(m_pathLabel);
    topLayout->addStretch();
    topLayout->addWidget(m_btnLanguage);
    topLayout->addWidget(m_statusLabel);
    topLayout->addWidget(m_statusIndicator);
    mainLayout->addLayout(topLayout);

    m_treeView = new QTreeView(this);
    m_treeView->setObjectName(QStringLiteral("m_treeView"));
    m_treeView->setAlternatingRowColors(true);
    m_treeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_treeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_treeView->setRootIsDecorated(false);
    m_treeView->setUniformRowHeights(true);
    m_treeView->setStyleSheet(WindowStyles::treeView());
    setAcceptDrops(true);
    m_treeView->setAcceptDrops(true);
    m_treeView->setDragDropMode(QAbstractItemView::DropOnly);
    mainLayout->addWidget(m_treeView);

    auto *buttonLayout = new QHBoxLayout;
    buttonLayout->setSpacing(12);

    const auto makeButton = [this](const char *objectName, const QIcon &icon, const QString &text,
                                   const QString &style) {
        auto *button = new QPushButton(icon, text, this);
        button->setObjectName(QLatin1String(objectName));
        button->setStyleSheet(style);
        return button;
    };
    const QString blue = WindowStyles::actionButton(WindowStyles::Blue);
    const QString green = WindowStyles::actionButton(WindowStyles::Green);
    const QString red = WindowStyles::actionButton(WindowStyles::Red);
    const QString orange = WindowStyles::actionButton(WindowStyles::Orange);

    m_btnUpload =
        makeButton("m_btnUpload", loadIcon(QStringLiteral("上传文件.png")),
                   english ? QStringLiteral("Upload File") : QStringLiteral("上传文件"), blue);
    m_btnDownload =
        makeButton("m_btnDownload", loadIcon(QStringLiteral("下载文件.png")),
                   english ? QStringLiteral("Download File") : QStringLiteral("下载文件"), blue);
    m_btnDelete =
        makeButton("m_btnDelete", loadIcon(QStringLiteral("删除文件.png")),
                   english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"), red);
    m_btnRefresh =
        makeButton("m_btnRefresh", loadIcon(QStringLiteral("刷新文件夹.png")),
                   english ? QStringLiteral("Refresh List") : QStringLiteral("刷新列表"), green);
    m_btnNewFolder =
        makeButton("m_btnNewFolder", style()->standardIcon(QStyle::SP_FileDialogNewFolder),
                   english ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"), orange);

    buttonLayout->addStretch();
    buttonLayout->addWidget(m_btnUpload);
    buttonLayout->addWidget(m_btnDownload);
    buttonLayout->addWidget(m_btnNewFolder);
    buttonLayout->addWidget(m_btnDelete);
    buttonLayout->addWidget(m_btnRefresh);
    buttonLayout->addStretch();
    mainLayout->addLayout(buttonLayout);

    // Hidden, and then taking no room, while no transfer runs.
    m_progressLine = new TransferProgressLine(this);
    m_progressLine->setEnglish(english);
    mainLayout->addWidget(m_progressLine);

    // The caption is not retranslated, so it is not kept as a member.
    auto *logCaption =
        new QLabel(english ? QStringLiteral("Operation Log") : QStringLiteral("操作日志"), this);
    logCaption->setObjectName(QStringLiteral("logCaption"));
    logCaption->setStyleSheet(QStringLiteral(
        "QLabel { font-weight: 600; font-size: 14px; color: #374151; margin-top: 10px; }"));
    mainLayout->addWidget(logCaption);

    m_logEdit = new QPlainTextEdit(this);
    m_logEdit->setObjectName(QStringLiteral("m_logEdit"));
    m_logEdit->setReadOnly(true);
    // A controller left off over a weekend writes tens of thousands of lines: the oldest go.
    // The plain text edit drops them without laying out the rest again.
    m_logEdit->setMaximumBlockCount(kLogLines);
    m_logEdit->setMaximumHeight(140);
    m_logEdit->setStyleSheet(WindowStyles::logEdit());
    mainLayout->addWidget(m_logEdit);

    connect(m_btnRefresh, &QPushButton::clicked, this, &mainwindow::onRefreshClicked);
    connect(m_btnUpload, &QPushButton::clicked, this, &mainwindow::onUploadClicked);
    connect(m_btnDownload, &QPushButton::clicked, this, &mainwindow::onDownloadClicked);
    connect(m_btnNewFolder, &QPushButton::clicked, this, &mainwindow::onNewFolderClicked);
    connect(m_btnDelete, &QPushButton::clicked, this, &mainwindow::onDeleteClicked);
    connect(m_treeView, &QTreeView::doubleClicked, this, &mainwindow::onRemoteDoubleClicked);
    setupListActions();

    // Nothing can be done before the SFTP channel is ready.
    for (QPushButton *button :
         {m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete, m_btnRefresh})
        button->setEnabled(false);

    // The view has its real width only once the window has been laid out.
    QTimer::singleShot(200, this, &mainwindow::adjustColumnWidths);
}

void mainwindow::setupListActions()
{
    auto *actions = new RemoteListActions(m_treeView, [this] { return isEnglishUi(); });
    // The menu, in this order; every entry goes through its button's slot.
    actions->addEntry(QStringLiteral("Download"), QStringLiteral("下载"), {}, m_btnDownload, this,
                      &mainwindow::onDownloadClicked);
    actions->addEntry(QStringLiteral("Rename"), QStringLiteral("重命名"), {Qt::Key_F2}, m_btnDelete,
                      this, &mainwindow::onRenameClicked);
    actions->addEntry(QStringLiteral("Delete"), QStringLiteral("删除"), {QKeySequence::Delete},
                      m_btnDelete, this, &mainwindow::onDeleteClicked);
    actions->addEntry(QStringLiteral("New Folder"), QStringLiteral("新建文件夹"), {},
                      m_btnNewFolder, this, &mainwindow::onNewFolderClicked);
    actions
        ->addEntry(QStringLiteral("Refresh"), QStringLiteral("刷新"), {Qt::Key_F5}, m_btnRefresh,
                   this, &mainwindow::onRefreshClicked)
        ->setShortcutContext(Qt::WindowShortcut);
    // Keys only: they move and select as a double click and a plain file manager do.
    actions->addKeys({Qt::Key_Return, Qt::Key_Enter},
                     [this] { onRemoteDoubleClicked(m_treeView->currentIndex()); });
    actions->addKeys({Qt::Key_Backspace}, [this, actions] {
        if (actions->parentRow().isValid())
            onRemoteDoubleClicked(actions->parentRow());
    });
    actions->addKeys({QKeySequence::SelectAll}, [actions] { actions->selectAllEntries(); });

    // Previews are no file operations: they are open while transfers run.
    m_previewLauncher = new PreviewLauncher(
        m_pSshClient,
        [this] {
            const DownloadSelection selection =
                downloadSelection(selectedListRows(m_treeView),
                                  isEnglishUi() ? QStringLiteral("File") : QStringLiteral("文件"));
            return selection.files.isEmpty()
                       ? QString()
                       : RemotePath::join(m_strCurrentPath, selection.files.first());
        },
        [this] { return isEnglishUi(); }, this);
    m_previewLauncher->previewAction()->setShortcut(Qt::Key_Space);
    m_previewLauncher->previewAction()->setShortcutContext(Qt::WidgetShortcut);
    m_treeView->addAction(m_previewLauncher->previewAction());
    actions->addMenuAction(m_previewLauncher->previewAction());
    actions->addMenuAction(m_previewLauncher->previewLocalAction(), true);
    connect(m_previewLauncher, &PreviewLauncher::failureLogged, this, &mainwindow::appendLog);
}

void mainwindow::setupModel()
{
    m_folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    m_fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    m_parentIcon = loadIcon(QStringLiteral("返回上一层.png"));
    m_model = new QStandardItemModel(this);
    m_model->setObjectName(QStringLiteral("m_model"));
    m_model->setHorizontalHeaderLabels(headerLabels(isEnglishUi()));
    m_treeView->setModel(m_model);
    adjustColumnWidths();
    m_treeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &mainwindow::onSelectionChanged);
}

void mainwindow::adjustColumnWidths()
{
    const ColumnWidths widths = columnWidthsForViewWidth(m_treeView->width());

    QHeaderView *header = m_treeView->header();
    header->setSectionResizeMode(0, QHeaderView::Interactive);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    header->resizeSection(0, widths.name);
    header->resizeSection(1, widths.type);
    header->resizeSection(2, widths.size);
    header->resizeSection(3, widths.modified);
    header->setMinimumSectionSize(60);
    header->setSectionResizeMode(0, QHeaderView::Interactive);

    qCDebug(lcWindow).noquote() << "列宽度调整完成:"
                                << "名称:" << widths.name << "类型:" << widths.type
                                << "大小:" << widths.size << "时间:" << widths.modified;
}

void mainwindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The view gets its new width from the layout after this event.
    QTimer::singleShot(100, this, &mainwindow::adjustColumnWidths);
}

bool mainwindow::isEnglishUi() const
{
    const QSettings settings(settingsFilePath(), QSettings::IniFormat);
    return settings.value(QLatin1String(languageKey), QStringLiteral("zh")).toString() ==
           QLatin1String("en");
}

void mainwindow::appendLog(const QString &text)
{
    const QString line =
        QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1String(" - ") + text;

    // Plain text: a file name such as "<b>x</b>.nc" is shown as it is. The view follows the
    // new line only while it shows the end.
    m_logEdit->appendPlainText(line);
}

bool mainwindow::fileOperationsPossible() const
{
    return m_bConnectState && isSftpReady(m_sftpChannel);
}

QString mainwindow::workerHostText() const
{
    // The address up to its first colon; appending the port first keeps an empty address
    // and an address that holds colons itself alike.
    const QString address =
        m_pSshClient->m_strIp + QLatin1Char(':') + QString::number(m_pSshClient->m_nPort);
    return address.split(QLatin1Char(':')).constFirst();
}

QString mainwindow::connectedTitle(const QString &host) const
{
    return (isEnglishUi() ? QStringLiteral("CNC Controller File Manager - Connected to %1")
                          : QStringLiteral("CNC控制器文件管理 - 已连接到 %1"))
        .arg(host);
}

void mainwindow::onLanguageToggled()
{
    // The settings object stays open during the retranslation; the language queries made
    // there open their own objects on the same file and already see the new value.
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString current =
        settings.value(QLatin1String(languageKey), QStringLiteral("zh")).toString();
    settings.setValue(QLatin1String(languageKey),
                      current == QLatin1String("zh") ? QStringLiteral("en") : QStringLiteral("zh"));

    retranslateUi();

    appendLog(isEnglishUi() ? QStringLiteral("Language switched to English")
                            : QStringLiteral("语言已切换为中文"));
}

void mainwindow::retranslateUi()
{
    if (!m_bConnectState) {
        setWindowTitle(isEnglishUi()
                           ? QStringLiteral("CNC Controller File Manager - Reconnecting...")
                           : QStringLiteral("CNC控制器文件管理 - 重新连接中..."));
    } else if (m_pSshClient) {
        setWindowTitle(connectedTitle(workerHostText()));
    } else {
        setWindowTitle(isEnglishUi() ? QStringLiteral("CNC Controller File Manager")
                                     : QStringLiteral("CNC控制器文件管理"));
    }

    m_btnLanguage->setText(isEnglishUi() ? QStringLiteral("中文") : QStringLiteral("English"));
    m_pathLabel->setText((isEnglishUi() ? QStringLiteral("CNC Controller Files: ")
                                        : QStringLiteral("CNC控制器文件: ")) +
                         m_strCurrentPath);
    m_statusLabel->setText(isEnglishUi() ? QStringLiteral("Connection Status:")
                                         : QStringLiteral("连接状态:"));
    m_btnUpload->setText(isEnglishUi() ? QStringLiteral("Upload File")
                                       : QStringLiteral("上传文件"));

    // The count labels follow the selection. The type column still holds the old language
    // here, so both languages count as a file.
    int fileCount = 0;
    int itemCount = 0;
    if (const QItemSelectionModel *selection = m_treeView->selectionModel()) {
        const QModelIndexList rows = selection->selectedRows(0);
        for (const QModelIndex &index : rows) {
            if (!index.isValid() || index.data().toString().trimmed() == QLatin1String(".."))
                continue;
            ++itemCount;
            if (isFileType(index.siblingAtColumn(1).data().toString()))
                ++fileCount;
        }
    }

    if (fileCount > 1) {
        m_btnDownload->setText(
            (isEnglishUi() ? QStringLiteral("Download %1 Files") : QStringLiteral("下载 %1 个文件"))
                .arg(fileCount));
    } else {
        m_btnDownload->setText(isEnglishUi() ? QStringLiteral("Download File")
                                             : QStringLiteral("下载文件"));
    }
    m_btnNewFolder->setText(isEnglishUi() ? QStringLiteral("New Folder")
                                          : QStringLiteral("新建文件夹"));
    m_btnRefresh->setText(isEnglishUi() ? QStringLiteral("Refresh List")
                                        : QStringLiteral("刷新列表"));
    m_progressLine->setEnglish(isEnglishUi());
    if (itemCount > 1) {
        m_btnDelete->setText(
            (isEnglishUi() ? QStringLiteral("Delete %1 Items") : QStringLiteral("删除 %1 个项目"))
                .arg(itemCount));
    } else {
        m_btnDelete->setText(isEnglishUi() ? QStringLiteral("Delete File")
                                           : QStringLiteral("删除文件"));
    }

    m_model->setHorizontalHeaderLabels(headerLabels(isEnglishUi()));
    m_previewLauncher->retranslate();

    // Translate the known type texts row by row; any other text stays as it is.
    const bool english = isEnglishUi();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        QStandardItem *typeItem = m_model->item(row, 1);
        if (!typeItem)
            continue;
        const QString type = typeItem->text();
        QString translated;
        if (type == QLatin1String("Folder") || type == QStringLiteral("文件夹"))
            translated = english ? QStringLiteral("Folder") : QStringLiteral("文件夹");
        else if (isFileType(type))
            translated = english ? QStringLiteral("File") : QStringLiteral("文件");
        else if (type == QLatin1String("Navigation") || type == QStringLiteral("导航"))
            translated = english ? QStringLiteral("Navigation") : QStringLiteral("导航");
        else
            continue;
        typeItem->setData(translated, Qt::DisplayRole);
    }
}

void mainwindow::updateStatusIndicator(bool connected)
{
    m_bConnectState = connected;
    if (connected) {
        m_statusIndicator->setStyleSheet(WindowStyles::indicator(true));
        return;
    }
    m_statusIndicator->setStyleSheet(WindowStyles::indicator(false));
    appendLog(isEnglishUi() ? QStringLiteral("Connection lost.") : QStringLiteral("连接已断开。"));
    // No transfer outlives the connection.
    m_progressLine->clear();
    for (QPushButton *button :
         {m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete, m_btnRefresh})
        button->setEnabled(false);
}

void mainwindow::slotConnectStateChanged(bool bState, QString strIp, int nPort)
{
    Q_UNUSED(nPort)

    updateStatusIndicator(bState);
    // The command or its output went with the connection.
    if (!bState && m_isListingRemote)
        abandonListing();
    if (!bState)
        m_listingProgress.forgetEarlierCommands();

    if (bState && m_bReconnecting) {
        m_bReconnecting = false;
        m_reconnectTimer->stop();
        setWindowTitle(connectedTitle(strIp));
        appendLog((isEnglishUi() ? QStringLiteral("Connection to %1 has been restored.")
                                 : QStringLiteral("与 %1 的连接已恢复。"))
                      .arg(strIp));
        appendLog(isEnglishUi() ? QStringLiteral("Waiting for SFTP channel to initialize...")
                                : QStringLiteral("等待SFTP通道初始化..."));
    } else if (!bState && !m_bReconnecting) {
        m_bReconnecting = true;
        setWindowTitle(isEnglishUi()
                           ? QStringLiteral("CNC Controller File Manager - Reconnecting...")
                           : QStringLiteral("CNC控制器文件管理 - 重新连接中..."));
        m_reconnectTimer->start();
    }
}

void mainwindow::slotDataArrived(QString strMsg, QString strIp, int nPort)
{
    Q_UNUSED(strIp)
    Q_UNUSED(nPort)

    qCDebug(lcWindow).noquote() << "收到数据:" << strMsg
                                << "当前状态m_isListingRemote:" << boolText(m_isListingRemote);

    // The outcome lines of delete and folder creation by shell command. They count whether or
    // not a listing is outstanding; their lines are taken out of a listing below.
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

    if (!m_isListingRemote) {
        if (TerminalText::isControlOnly(strMsg))
            qCDebug(lcWindow).noquote() << "忽略纯控制序列";
        return;
    }
    // During a listing every piece is kept, also one of white space or digits alone: a lone
    // line feed separates two entries, a lone digit belongs to a size or a time, and the
    // prompt's last blank may come by itself. Control sequences go when the text is cleaned;
    // the lines of delete and create commands go now, so that their prompt is no end.
    const int lastLineStart = m_strRecvBuffer.lastIndexOf(QLatin1Char('\n')) + 1;
    m_strRecvBuffer += strMsg;
    removeMarkerLines(&m_strRecvBuffer, lastLineStart);
    qCDebug(lcWindow).noquote() << "累积数据:" << m_strRecvBuffer;

    // The quiet time may end a listing only once its output has begun: ls prints nothing
    // until it has read the whole folder, which can take long.
    switch (m_listingProgress.update(m_strRecvBuffer, lastLineStart)) {
    case ListingProgress::State::Complete:
        qCDebug(lcWindow).noquote() << "检测到命令提示符，处理数据";
        m_bufferTimer->stop();
        processBufferedData();
        break;
    case ListingProgress::State::Receiving:
        qCDebug(lcWindow).noquote() << "未检测到命令提示符，启动定时器";
        m_bufferTimer->start();
        break;
    default:
        m_bufferTimer->stop();
        break;
    }
}

void mainwindow::processBufferedData()
{
    qCDebug(lcWindow).noquote() << now()
                                << "processBufferedData() 开始处理缓冲数据:" << m_strRecvBuffer;

    // Output that went quiet before the shell's prompt came back is cut short (the link or the
    // controller paused): the listing waits for the rest, up to its time limit.
    if (m_listingProgress.state() != ListingProgress::State::Complete &&
        !ShellPromptWatch::endsAtPrompt(m_strRecvBuffer)) {
        qCDebug(lcWindow).noquote() << now() << "输出在提示符之前停顿，继续等待";
        return;
    }

    // Rows that may be another command's are never shown as this folder's.
    if (!m_listingProgress.isOwnOutput()) {
        qCDebug(lcWindow).noquote() << now() << "输出可能属于先前放弃的列表命令，重新列出";
        clearListingState();
        listDirectory(m_strCurrentPath);
        return;
    }

    const bool english = isEnglishUi();
    showNavigationOnly();

    const QString cleaned = ListingParser::cleanOutput(m_listingProgress.output(m_strRecvBuffer),
                                                       ControllerShell::prompt());
    qCDebug(lcWindow).noquote() << "清理后的数据:" << cleaned;
    const RemoteListing listing = ListingParser::parse(cleaned);

    const QString folderType = english ? QStringLiteral("Folder") : QStringLiteral("文件夹");
    const QString fileType = english ? QStringLiteral("File") : QStringLiteral("文件");
    for (const RemoteEntry &entry : listing.folders)
        m_model->appendRow(makeEntryRow(m_folderIcon, entry, folderType, QStringLiteral("-")));
    for (const RemoteEntry &entry : listing.files)
        m_model->appendRow(makeEntryRow(m_fileIcon, entry, fileType, formatFileSize(entry.size)));

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
        clearListingState();
        QTimer::singleShot(2000, this, [this] {
            qCDebug(lcWindow).noquote() << now() << "执行首次连接重试";
            onRefreshClicked();
        });
        return;
    }

    clearListingState();
    m_btnDelete->setText(english ? QStringLiteral("Delete File") : QStringLiteral("删除文件"));
    m_btnDownload->setText(english ? QStringLiteral("Download File") : QStringLiteral("下载文件"));
    QTimer::singleShot(50, this, &mainwindow::adjustColumnWidths);
}

QString mainwindow::formatFileSize(const QString &size) const
{
    return fileSizeText(size);
}

void mainwindow::clearListingState()
{
    m_bufferTimer->stop();
    m_listingTimeoutTimer->stop();
    m_isListingRemote = false;
    m_strRecvBuffer.clear();
    // Only while a listing can be sent.
    m_btnRefresh->setEnabled(m_bConnectState);
}

void mainwindow::showNavigationOnly()
{
    const bool english = isEnglishUi();
    m_model->clear();
    m_model->setHorizontalHeaderLabels(headerLabels(english));
    if (m_strCurrentPath != m_strRootPath) {
        m_model->appendRow(makeRow(m_parentIcon, QStringLiteral(".."),
                                   english ? QStringLiteral("Navigation") : QStringLiteral("导航"),
                                   QString(), QString()));
    }
}

void mainwindow::abandonListing()
{
    m_listingProgress.abandon();
    clearListingState();
    showNavigationOnly();
}

void mainwindow::onListingTimedOut()
{
    if (!m_isListingRemote)
        return;
    appendLog((isEnglishUi() ? QStringLiteral("The listing of %1 did not finish within 20 seconds; "
                                              "its content is not shown.")
                             : QStringLiteral("目录 %1 的列表未能在20秒内完成，未显示其内容。"))
                  .arg(m_strCurrentPath));
    abandonListing();
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
    // A channel reported ready after its connection went enables nothing.
    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete},
                      fileOperationsPossible());
    // A listing still outstanding keeps Refresh off until it ends.
    m_btnRefresh->setEnabled(m_bConnectState && !m_isListingRemote);

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
    listDirectory(m_strCurrentPath);
}

void mainwindow::listDirectory(const QString &directory)
{
    if (!m_bConnectState || m_isListingRemote) {
        qCDebug(lcWindow).noquote() << now() << "onRefreshClicked() 条件不满足，返回"
                                    << "m_bConnectState:" << boolText(m_bConnectState)
                                    << "m_isListingRemote:" << boolText(m_isListingRemote);
        return;
    }
    // Refused before anything changes: the list and the path stay those of the folder shown.
    const QString command = ControllerShell::listingCommand(directory);
    if (!ShellCommandQueue::fits(command.toUtf8())) {
        appendLog((isEnglishUi() ? QStringLiteral("The path of %1 is too long to be typed into the "
                                                  "controller's shell; the folder is not listed.")
                                 : QStringLiteral("%1 的路径过长，无法输入控制器的shell；"
                                                  "未列出该文件夹。"))
                      .arg(directory));
        return;
    }

    qCDebug(lcWindow).noquote() << now()
                                << "onRefreshClicked() 设置m_isListingRemote=true前，清空缓冲";
    m_strRecvBuffer.clear();
    m_bufferTimer->stop();
    m_isListingRemote = true;
    m_btnRefresh->setEnabled(false);
    // The rows shown and the paths the buttons build always belong to one folder.
    m_strCurrentPath = directory;

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

    m_listingProgress.start(command.trimmed(), ControllerShell::prompt());
    m_listingTimeoutTimer->start();
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

    // The current path changes only when the listing of the new one is sent.
    if (type == folderType)
        listDirectory(RemotePath::join(m_strCurrentPath, name) + QLatin1Char('/'));
    else if (name == QLatin1String("..") && m_strRootPath.size() < m_strCurrentPath.size())
        listDirectory(parentDirectory(m_strCurrentPath));
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

void mainwindow::onUploadClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to upload.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法上传。"));
        return;
    }

    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastUploadDir, QDir::homePath()).toString();
    const QString localPath =
        QFileDialog::getOpenFileName(this,
                                     isEnglishUi() ? QStringLiteral("Select file to upload")
                                                   : QStringLiteral("选择要上传的文件"),
                                     startDir);
    if (localPath.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Upload cancelled.")
                                : QStringLiteral("上传已取消。"));
        return;
    }
    const QFileInfo localFile(localPath);
    settings.setValue(kLastUploadDir, localFile.absolutePath());

    // The current remote directory always ends with "/".
    const QString remotePath = m_strCurrentPath + localFile.fileName();
    appendLog((isEnglishUi() ? QStringLiteral("Requesting upload %1 to %2...")
                             : QStringLiteral("请求上传 %1 到 %2 ..."))
                  .arg(localPath, remotePath));
    emit sigUploadFile(localPath, remotePath);

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() && m_bConnectState && isSftpReady(m_sftpChannel))
        event->acceptProposedAction();
    else
        event->ignore();
}

void mainwindow::dropEvent(QDropEvent *event)
{
    if (!m_bConnectState || !isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to upload.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法上传。"));
        event->ignore();
        return;
    }
    const QMimeData *mimeData = event->mimeData();
    if (!mimeData->hasUrls()) {
        event->ignore();
        return;
    }

    const QList<QUrl> urls = mimeData->urls();
    int uploadCount = 0;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString localPath = url.toLocalFile();
        const QFileInfo localFile(localPath);
        if (!localFile.isFile()) {
            appendLog((isEnglishUi()
                           ? QStringLiteral("Skip folder: %1 (only file upload is supported)")
                           : QStringLiteral("跳过文件夹: %1 (仅支持文件上传)"))
                          .arg(localPath));
            continue;
        }
        const QString remotePath = m_strCurrentPath + localFile.fileName();
        appendLog((isEnglishUi() ? QStringLiteral("Drag and drop upload %1 to %2...")
                                 : QStringLiteral("拖放上传 %1 到 %2 ..."))
                      .arg(localPath, remotePath));
        emit sigUploadFile(localPath, remotePath);
        ++uploadCount;
    }

    if (uploadCount > 0) {
        setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
        // The next upload dialog opens where this drag came from, even when the first item
        // was a folder: its parent is that place.
        if (urls.first().isLocalFile()) {
            QSettings settings(settingsFilePath(), QSettings::IniFormat);
            settings.setValue(kLastUploadDir, QFileInfo(urls.first().toLocalFile()).absolutePath());
        }
    }
    event->acceptProposedAction();
}

void mainwindow::onDownloadClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to download.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法下载。"));
        return;
    }
    const QVector<ListRow> rows = selectedListRows(m_treeView);
    if (rows.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Please select files to download.")
                                : QStringLiteral("请先选择要下载的文件。"));
        return;
    }

    const DownloadSelection selection =
        downloadSelection(rows, isEnglishUi() ? QStringLiteral("File") : QStringLiteral("文件"));
    for (const QString &name : selection.skipped) {
        appendLog((isEnglishUi()
                       ? QStringLiteral("Skipping folder: %1 (only files can be downloaded)")
                       : QStringLiteral("跳过文件夹: %1 (只能下载文件)"))
                      .arg(name));
    }
    if (selection.files.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("No files selected for download.")
                                : QStringLiteral("没有选择可下载的文件。"));
        return;
    }

    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastDownloadDir, QDir::homePath()).toString();

    if (selection.files.size() == 1) {
        const QString &name = selection.files.first();
        // The save dialog asks before it lets an existing file be chosen.
        const QString localPath = QFileDialog::getSaveFileName(
            this, isEnglishUi() ? QStringLiteral("Save file") : QStringLiteral("保存文件"),
            startDir + QLatin1Char('/') + name);
        if (localPath.isEmpty()) {
            appendLog(isEnglishUi() ? QStringLiteral("Download cancelled.")
                                    : QStringLiteral("下载已取消。"));
            return;
        }
        const QString remotePath = RemotePath::join(m_strCurrentPath, name);
        settings.setValue(kLastDownloadDir, QFileInfo(localPath).absolutePath());
        appendLog((isEnglishUi() ? QStringLiteral("Requesting download %1 to %2...")
                                 : QStringLiteral("请求下载 %1 到 %2 ..."))
                      .arg(remotePath, localPath));
        emit sigDownloadFile(remotePath, localPath);
    } else {
        const QString localDir = QFileDialog::getExistingDirectory(
            this,
            isEnglishUi() ? QStringLiteral("Select download directory")
                          : QStringLiteral("选择下载目录"),
            startDir, QFileDialog::ShowDirsOnly);
        if (localDir.isEmpty()) {
            appendLog(isEnglishUi() ? QStringLiteral("Download cancelled.")
                                    : QStringLiteral("下载已取消。"));
            return;
        }
        settings.setValue(kLastDownloadDir, localDir);
        // Two files must never be written over each other without a word.
        QStringList files = selection.files;
        for (const LocalNameClash &clash : takeLocalNameClashes(&files)) {
            appendLog((isEnglishUi() ? QStringLiteral("Skipping %1: it would be saved as the same "
                                                      "local file as %2.")
                                     : QStringLiteral("跳过 %1: 它会与 %2 保存为同一个本地文件。"))
                          .arg(clash.name, clash.sameAs));
        }
        appendLog((isEnglishUi() ? QStringLiteral("Requesting download %1 files to %2...")
                                 : QStringLiteral("请求下载 %1 个文件到 %2 ..."))
                      .arg(QString::number(files.size()), localDir));
        // Existing files of the same names are replaced by the worker, each only once its
        // download is complete.
        for (const QString &name : qAsConst(files)) {
            emit sigDownloadFile(RemotePath::join(m_strCurrentPath, name),
                                 localDir + QLatin1Char('/') + name);
        }
    }

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::onDeleteClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to delete.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法删除。"));
        return;
    }
    const QVector<ListRow> rows = selectedListRows(m_treeView);
    if (rows.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Please select files or folders to delete.")
                                : QStringLiteral("请先选择要删除的文件或文件夹。"));
        return;
    }
    const QVector<DeleteCandidate> candidates =
        deleteCandidates(rows, m_strCurrentPath,
                         isEnglishUi() ? QStringLiteral("Folder") : QStringLiteral("文件夹"));
    if (candidates.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("No valid items selected for deletion.")
                                : QStringLiteral("没有选择有效的删除项目。"));
        return;
    }

    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(isEnglishUi() ? QStringLiteral("Confirm Delete")
                                     : QStringLiteral("确认删除"));
    if (candidates.size() == 1) {
        box.setText((isEnglishUi() ? QStringLiteral("Are you sure you want to delete \"%1\"?")
                                   : QStringLiteral("您确定要删除 \"%1\" 吗？"))
                        .arg(candidates.first().name));
    } else {
        box.setText((isEnglishUi()
                         ? QStringLiteral("Are you sure you want to delete %1 selected items?")
                         : QStringLiteral("您确定要删除选中的 %1 个项目吗？"))
                        .arg(candidates.size()));
    }
    box.setInformativeText(isEnglishUi() ? QStringLiteral("This operation cannot be undone.")
                                         : QStringLiteral("此操作无法撤销。"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)
        ->setText(isEnglishUi() ? QStringLiteral("Delete") : QStringLiteral("删除"));
    box.button(QMessageBox::Cancel)
        ->setText(isEnglishUi() ? QStringLiteral("Cancel") : QStringLiteral("取消"));
    // Enter alone must not delete.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setStyleSheet(WindowStyles::deleteBox());
    if (box.exec() != QMessageBox::Yes)
        return;

    appendLog((isEnglishUi() ? QStringLiteral("Requesting delete %1 items...")
                             : QStringLiteral("请求删除 %1 个项目..."))
                  .arg(candidates.size()));
    for (const DeleteCandidate &candidate : candidates) {
        qCDebug(lcWindow).noquote() << "Deleting:" << candidate.path << "Type:" << candidate.type;
        emit sigDeleteRemotePath(candidate.path, candidate.type);
    }

    setEnabledInOrder({m_btnDelete, m_btnUpload, m_btnDownload, m_btnNewFolder}, false);
}

void mainwindow::onNewFolderClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to create folder.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法创建文件夹。"));
        return;
    }

    bool accepted = false;
    const QString name = QInputDialog::getText(
        this, isEnglishUi() ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"),
        isEnglishUi() ? QStringLiteral("Please enter folder name:")
                      : QStringLiteral("请输入文件夹名称:"),
        QLineEdit::Normal,
        isEnglishUi() ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"), &accepted);
    if (!accepted || name.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("New folder cancelled.")
                                : QStringLiteral("新建文件夹已取消。"));
        return;
    }
    if (!FolderName::isAllowed(name)) {
        QMessageBox::warning(
            this,
            isEnglishUi() ? QStringLiteral("Invalid folder name")
                          : QStringLiteral("无效的文件夹名称"),
            isEnglishUi()
                ? QStringLiteral(
                      "Folder name cannot contain the following characters: / \\ * ? < > | \" :")
                : QStringLiteral("文件夹名称不能包含以下字符: / \\ * ? < > | \" :"),
            QMessageBox::Ok);
        return;
    }

    // The name goes out as typed, blanks included, in composed Unicode form; the folder it is
    // made in keeps its name as listed, whatever form that has.
    const QString path =
        RemotePath::join(m_strCurrentPath, name.normalized(QString::NormalizationForm_C));
    appendLog((isEnglishUi() ? QStringLiteral("Creating folder: %1")
                             : QStringLiteral("正在创建文件夹: %1"))
                  .arg(path));
    emit sigCreateRemoteFolder(path);

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::onSftpJobFinished(QSsh::SftpJobId job, QString error)
{
    const QString cancelledName = m_progressLine->finishTransfer(job);
    if (!error.isEmpty() && !cancelledName.isNull()) {
        appendLog((isEnglishUi() ? QStringLiteral("Transfer cancelled: %1")
                                 : QStringLiteral("传输已取消: %1"))
                      .arg(cancelledName));
    } else if (error.isEmpty()) {
        appendLog((isEnglishUi() ? QStringLiteral("SFTP task %1 completed successfully.")
                                 : QStringLiteral("SFTP任务 %1 已成功完成。"))
                      .arg(job));
    } else {
        appendLog((isEnglishUi() ? QStringLiteral("SFTP task %1 failed: %2")
                                 : QStringLiteral("SFTP任务 %1 失败: %2"))
                      .arg(QString::number(job), error));
    }

    // Failures too give the window back, so that the operator may retry at once; not a job
    // that ends after its connection went.
    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete},
                      fileOperationsPossible());
    m_btnDelete->setText(isEnglishUi() ? QStringLiteral("Delete File")
                                       : QStringLiteral("删除文件"));
    m_btnDownload->setText(isEnglishUi() ? QStringLiteral("Download File")
                                         : QStringLiteral("下载文件"));

    // Show the job's effect; onRefreshClicked refuses by itself while disconnected or listing.
    QTimer::singleShot(200, this, &mainwindow::onRefreshClicked);
}

// The worker has set right an upload that the lost connection cut off halfway through replacing
// its file: the operator learns which content the file now holds.
void mainwindow::onReplacementRecovered(QString remotePath, QString backupPath,
                                        QSsh::SftpRecovery outcome, QString error)
{
    const bool english = isEnglishUi();
    if (!error.isEmpty()) {
        appendLog((english
                       ? QStringLiteral("The upload of %1 was cut off while it replaced the "
                                        "file and could not be set right: %2. The previous "
                                        "file may be kept as %3.")
                       : QStringLiteral(
                             "%1 的上传在替换文件时中断，且无法恢复：%2。原文件可能保存为 %3。"))
                      .arg(remotePath, error, backupPath));
    } else if (outcome == QSsh::SftpRecovery::Restored) {
        appendLog((english ? QStringLiteral("The upload of %1 was cut off by the lost connection "
                                            "while it replaced the file; the previous file has "
                                            "been put back.")
                           : QStringLiteral("%1 的上传因连接断开在替换文件时中断；原文件已恢复。"))
                      .arg(remotePath));
    } else if (outcome == QSsh::SftpRecovery::Completed) {
        appendLog((english ? QStringLiteral("The upload of %1 was cut off by the lost connection "
                                            "while it replaced the file; the new file is in "
                                            "place.")
                           : QStringLiteral("%1 的上传因连接断开在替换文件时中断；新文件已就位。"))
                      .arg(remotePath));
    }
}

// The worker did not type a line of ours: too long, or the shell stayed busy too long.
void mainwindow::onSendFailed(QString strMsg, QString error)
{
    if (m_isListingRemote && strMsg == ControllerShell::listingCommand(m_strCurrentPath)) {
        appendLog((isEnglishUi() ? QStringLiteral("The listing of %1 was not sent: %2")
                                 : QStringLiteral("目录 %1 的列表未发送: %2"))
                      .arg(m_strCurrentPath, error));
        // Never typed, so no answer of it can arrive later: nothing for the progress to remember.
        clearListingState();
        showNavigationOnly();
        return;
    }
    appendLog((isEnglishUi() ? QStringLiteral("A command for the controller was not sent: %1")
                             : QStringLiteral("发往控制器的命令未发送: %1"))
                  .arg(error));
}

void mainwindow::onRenameClicked()
{
    const bool english = isEnglishUi();
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(english ? QStringLiteral("Error: SFTP not ready, unable to rename.")
                          : QStringLiteral("错误: SFTP尚未准备就绪，无法重命名。"));
        return;
    }
    QVector<ListRow> rows = selectedListRows(m_treeView);
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const ListRow &row) { return row.name == QLatin1String(".."); }),
               rows.end());
    if (rows.size() != 1) {
        appendLog(english ? QStringLiteral("Please select one file or folder to rename.")
                          : QStringLiteral("请选择一个要重命名的文件或文件夹。"));
        return;
    }

    const QString oldName = rows.first().name;
    const RenamePrompt answer = RenamePrompt::ask(this, english, oldName, m_model);
    if (answer.outcome == RenamePrompt::Outcome::Cancelled)
        appendLog(english ? QStringLiteral("Rename cancelled.") : QStringLiteral("重命名已取消。"));
    if (answer.outcome != RenamePrompt::Outcome::Accepted)
        return;

    const QString oldPath = RemotePath::join(m_strCurrentPath, oldName);
    const QString newPath = RemotePath::join(m_strCurrentPath, answer.newName);
    appendLog((english ? QStringLiteral("Renaming %1 to %2...")
                       : QStringLiteral("正在将 %1 重命名为 %2 ..."))
                  .arg(oldPath, newPath));
    emit sigRenameRemotePath(oldPath, newPath);
}

void mainwindow::onRenameFinished(QString oldPath, QString newPath, QString error)
{
    const bool english = isEnglishUi();
    if (error.isEmpty()) {
        appendLog((english ? QStringLiteral("Renamed %1 to %2.")
                           : QStringLiteral("已将 %1 重命名为 %2。"))
                      .arg(oldPath, newPath));
    } else {
        appendLog((english ? QStringLiteral("Rename of %1 failed: %2")
                           : QStringLiteral("重命名 %1 失败: %2"))
                      .arg(oldPath, error));
    }
    QTimer::singleShot(200, this, &mainwindow::onRefreshClicked);
}
