#include "mainwindow.h"

#include "ColumnWidths.h"
#include "IconLoader.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QStandardItemModel>
#include <QStyle>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcWindow, "cnc.window", QtWarningMsg)

namespace {

QString settingsFilePath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

const char languageKey[] = "language";

const QString connectedIndicatorStyle =
    QStringLiteral("QLabel{background-color:#00ff00;border-radius:6px;}");
const QString disconnectedIndicatorStyle =
    QStringLiteral("QLabel{background-color:#ff0000;border-radius:6px;}");

const QString languageButtonStyle =
    QStringLiteral("QPushButton { background-color: #f0f0f0; color: #333; border: 1px solid #ccc;"
                   " padding: 4px 12px; border-radius: 6px; font-size: 13px; font-weight: 500;"
                   " min-width: 60px; }"
                   "QPushButton:hover { background-color: #e0e0e0; border-color: #999; }"
                   "QPushButton:pressed { background-color: #d0d0d0; }");

const QString treeViewStyle = QStringLiteral(
    "QTreeView { border: 1px solid #d1d5db; border-radius: 10px; background-color: #ffffff;"
    " selection-background-color: #007aff; selection-color: white; outline: none;"
    " gridline-color: #f3f4f6; }"
    "QTreeView::item { padding: 12px 8px; border-bottom: 1px solid #f3f4f6; font-size: 14px; }"
    "QTreeView::item:hover { background-color: #f8f9fa; }"
    "QTreeView::item:selected { background-color: #007aff; color: white; border-radius: 6px; }"
    "QTreeView::item:selected:hover { background-color: #0056b3; }"
    "QHeaderView::section { background-color: #f8f9fa; padding: 12px 8px; border: none;"
    " border-bottom: 2px solid #e9ecef; font-weight: 600; font-size: 14px; color: #374151; }"
    "QHeaderView::section:first { border-top-left-radius: 10px; }"
    "QHeaderView::section:last { border-top-right-radius: 10px; }");

// The blue action button. Qt's style sheets know no "transform", so the hover lift of the
// original design is left out: Qt would only warn about an unknown property.
const QString actionButtonBaseStyle = QStringLiteral(
    "QPushButton { background-color: #007aff; color: white; border: none; padding: 12px 24px;"
    " border-radius: 8px; font-size: 14px; font-weight: 600; min-width: 120px; }"
    "QPushButton:hover { background-color: #0056b3; }"
    "QPushButton:pressed { background-color: #004085; }"
    "QPushButton:disabled { background-color: #e9ecef; color: #6c757d; }");

const QString logEditStyle = QStringLiteral(
    "QTextEdit { border: 1px solid #d1d5db; border-radius: 10px; background-color: #f8f9fa;"
    " font-family: 'SF Mono', 'Monaco', 'Consolas', 'Courier New', monospace;"
    " font-size: 13px; color: #374151; padding: 12px; selection-background-color: #007aff;"
    " selection-color: white; }"
    "QTextEdit:focus { border-color: #007aff; }");

// A colour variant of the action button: its base, hover and pressed colours replaced.
QString actionButtonStyle(const QString &base, const QString &hover, const QString &pressed)
{
    QString style = actionButtonBaseStyle;
    style.replace(QLatin1String("#007aff"), base);
    style.replace(QLatin1String("#0056b3"), hover);
    style.replace(QLatin1String("#004085"), pressed);
    return style;
}

bool isFileType(const QString &type)
{
    return type == QLatin1String("File") || type == QStringLiteral("文件");
}

} // namespace

mainwindow::mainwindow(CConnectionForSshClient *pSshClient, QWidget *parent)
    : QWidget(parent), m_bufferTimer(new QTimer(this)), m_reconnectTimer(new QTimer(this)),
      m_pSshClient(pSshClient)
{
    m_bufferTimer->setObjectName(QStringLiteral("m_bufferTimer"));
    m_reconnectTimer->setObjectName(QStringLiteral("m_reconnectTimer"));

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
    connect(this, &mainwindow::sigUploadFile, pSshClient, &CConnectionForSshClient::slotUploadFile);
    connect(this, &mainwindow::sigDeleteRemotePath, pSshClient,
            &CConnectionForSshClient::slotDeleteRemotePath);
    connect(this, &mainwindow::sigDownloadFile, pSshClient,
            &CConnectionForSshClient::slotDownloadFile);
    connect(this, &mainwindow::sigCreateRemoteFolder, pSshClient,
            &CConnectionForSshClient::slotCreateRemoteFolder);

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
    m_btnLanguage->setStyleSheet(languageButtonStyle);
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
    m_treeView->setStyleSheet(treeViewStyle);
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
    const QString blue = actionButtonBaseStyle;
    const QString green = actionButtonStyle(QStringLiteral("#34c759"), QStringLiteral("#28a745"),
                                            QStringLiteral("#1e7e34"));
    const QString red = actionButtonStyle(QStringLiteral("#ff3b30"), QStringLiteral("#dc3545"),
                                          QStringLiteral("#c82333"));
    const QString orange = actionButtonStyle(QStringLiteral("#ff9500"), QStringLiteral("#fd7e14"),
                                             QStringLiteral("#e66100"));

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

    // The caption is not retranslated, so it is not kept as a member.
    auto *logCaption =
        new QLabel(english ? QStringLiteral("Operation Log") : QStringLiteral("操作日志"), this);
    logCaption->setObjectName(QStringLiteral("logCaption"));
    logCaption->setStyleSheet(QStringLiteral(
        "QLabel { font-weight: 600; font-size: 14px; color: #374151; margin-top: 10px; }"));
    mainLayout->addWidget(logCaption);

    m_logEdit = new QTextEdit(this);
    m_logEdit->setObjectName(QStringLiteral("m_logEdit"));
    m_logEdit->setReadOnly(true);
    m_logEdit->setMaximumHeight(140);
    m_logEdit->setStyleSheet(logEditStyle);
    mainLayout->addWidget(m_logEdit);

    connect(m_btnRefresh, &QPushButton::clicked, this, &mainwindow::onRefreshClicked);
    connect(m_btnUpload, &QPushButton::clicked, this, &mainwindow::onUploadClicked);
    connect(m_btnDownload, &QPushButton::clicked, this, &mainwindow::onDownloadClicked);
    connect(m_btnNewFolder, &QPushButton::clicked, this, &mainwindow::onNewFolderClicked);
    connect(m_btnDelete, &QPushButton::clicked, this, &mainwindow::onDeleteClicked);
    connect(m_treeView, &QTreeView::doubleClicked, this, &mainwindow::onRemoteDoubleClicked);

    // Nothing can be done before the SFTP channel is ready.
    for (QPushButton *button :
         {m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete, m_btnRefresh})
        button->setEnabled(false);

    // The view has its real width only once the window has been laid out.
    QTimer::singleShot(200, this, &mainwindow::adjustColumnWidths);
}

void mainwindow::setupModel()
{
    m_model = new QStandardItemModel(this);
    m_model->setObjectName(QStringLiteral("m_model"));
    if (isEnglishUi()) {
        m_model->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"),
                                            QStringLiteral("Size"),
                                            QStringLiteral("Modified Time")});
    } else {
        m_model->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("类型"),
                                            QStringLiteral("大小"), QStringLiteral("修改时间")});
    }
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

    // Like QTextEdit::append, but always as plain text: append() would take a line holding a
    // file name such as "<b>x</b>.nc" for markup and show the name mangled.
    QScrollBar *scrollBar = m_logEdit->verticalScrollBar();
    const bool atBottom = scrollBar->value() >= scrollBar->maximum();
    QTextCursor cursor(m_logEdit->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_logEdit->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    if (atBottom)
        scrollBar->setValue(scrollBar->maximum());
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
    if (itemCount > 1) {
        m_btnDelete->setText(
            (isEnglishUi() ? QStringLiteral("Delete %1 Items") : QStringLiteral("删除 %1 个项目"))
                .arg(itemCount));
    } else {
        m_btnDelete->setText(isEnglishUi() ? QStringLiteral("Delete File")
                                           : QStringLiteral("删除文件"));
    }

    if (isEnglishUi()) {
        m_model->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"),
                                            QStringLiteral("Size"),
                                            QStringLiteral("Modified Time")});
    } else {
        m_model->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("类型"),
                                            QStringLiteral("大小"), QStringLiteral("修改时间")});
    }

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
        m_statusIndicator->setStyleSheet(connectedIndicatorStyle);
        return;
    }
    m_statusIndicator->setStyleSheet(disconnectedIndicatorStyle);
    appendLog(isEnglishUi() ? QStringLiteral("Connection lost.") : QStringLiteral("连接已断开。"));
    for (QPushButton *button :
         {m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete, m_btnRefresh})
        button->setEnabled(false);
}

void mainwindow::slotConnectStateChanged(bool bState, QString strIp, int nPort)
{
    Q_UNUSED(nPort)

    updateStatusIndicator(bState);

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
