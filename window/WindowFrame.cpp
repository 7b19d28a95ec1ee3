#include "WindowFrame.h"

#include "AddressBook.h"
#include "ColumnWidths.h"
#include "FileActions.h"
#include "IconLoader.h"
#include "TransferProgressLine.h"
#include "WindowLogging.h"
#include "WindowStyles.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTime>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

// The operation log keeps this many of its newest lines.
constexpr int kLogLines = 5000;

template <typename Widget> Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel *label(QWidget *window, const char *name, const QString &text, const char *style)
{
    auto *label = named(new QLabel(text, window), name);
    label->setStyleSheet(QLatin1String(style));
    return label;
}

QPushButton *actionButton(QWidget *window, const char *name, const QIcon &icon, QAction *action,
                          WindowStyles::ButtonColour colour)
{
    auto *button = named(new QPushButton(icon, QString(), window), name);
    button->setStyleSheet(WindowStyles::actionButton(colour));
    FileActions::showOn(action, button);
    return button;
}

} // namespace

WindowFrame WindowFrame::build(QWidget *window, bool english, const QString &rootPath,
                               const FileActions *actions)
{
    WindowFrame frame;
    auto *mainLayout = new QVBoxLayout(window);
    mainLayout->setSpacing(15);
    mainLayout->setContentsMargins(20, 20, 20, 20);

    frame.pathLabel = label(
        window, "m_pathLabel",
        (english ? QStringLiteral("CNC Controller Files: ") : QStringLiteral("CNC控制器文件: ")) +
            rootPath,
        "QLabel { font-weight: 600; font-size: 16px; color: #1f2937; }");
    frame.statusIndicator = named(new QLabel(window), "m_statusIndicator");
    frame.statusIndicator->setFixedSize(12, 12);
    frame.statusIndicator->setStyleSheet(WindowStyles::indicator(true));
    frame.statusLabel =
        label(window, "m_statusLabel",
              english ? QStringLiteral("Connection Status:") : QStringLiteral("连接状态:"),
              "QLabel { color: #6b7280; font-size: 14px; }");
    // The button names the language it switches to.
    frame.languageButton =
        named(new QPushButton(english ? QStringLiteral("中文") : QStringLiteral("English"), window),
              "m_btnLanguage");
    frame.languageButton->setStyleSheet(WindowStyles::languageButton());

    auto *topLayout = new QHBoxLayout;
    topLayout->setSpacing(10);
    topLayout->addWidget(frame.pathLabel);
    topLayout->addStretch();
    topLayout->addWidget(frame.languageButton);
    topLayout->addWidget(frame.statusLabel);
    topLayout->addWidget(frame.statusIndicator);
    mainLayout->addLayout(topLayout);

    frame.treeView = named(new QTreeView(window), "m_treeView");
    frame.treeView->setAlternatingRowColors(true);
    frame.treeView->setSelectionBehavior(QAbstractItemView::SelectRows);
    frame.treeView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    frame.treeView->setRootIsDecorated(false);
    frame.treeView->setUniformRowHeights(true);
    frame.treeView->setStyleSheet(WindowStyles::treeView());
    frame.treeView->setAcceptDrops(true);
    frame.treeView->setDragDropMode(QAbstractItemView::DropOnly);
    mainLayout->addWidget(frame.treeView);

    frame.uploadButton =
        actionButton(window, "m_btnUpload", loadIcon(QStringLiteral("上传文件.png")),
                     actions->upload(), WindowStyles::Blue);
    frame.downloadButton =
        actionButton(window, "m_btnDownload", loadIcon(QStringLiteral("下载文件.png")),
                     actions->download(), WindowStyles::Blue);
    frame.deleteButton =
        actionButton(window, "m_btnDelete", loadIcon(QStringLiteral("删除文件.png")),
                     actions->remove(), WindowStyles::Red);
    frame.refreshButton =
        actionButton(window, "m_btnRefresh", loadIcon(QStringLiteral("刷新文件夹.png")),
                     actions->refresh(), WindowStyles::Green);
    frame.newFolderButton = actionButton(
        window, "m_btnNewFolder", window->style()->standardIcon(QStyle::SP_FileDialogNewFolder),
        actions->newFolder(), WindowStyles::Orange);

    auto *buttonLayout = new QHBoxLayout;
    buttonLayout->setSpacing(12);
    buttonLayout->addStretch();
    for (QPushButton *button : {frame.uploadButton, frame.downloadButton, frame.newFolderButton,
                                frame.deleteButton, frame.refreshButton})
        buttonLayout->addWidget(button);
    buttonLayout->addStretch();
    mainLayout->addLayout(buttonLayout);

    // Hidden, and then taking no room, while no transfer runs.
    frame.progressLine = new TransferProgressLine(window);
    frame.progressLine->setEnglish(english);
    mainLayout->addWidget(frame.progressLine);

    // The caption is not retranslated.
    mainLayout->addWidget(
        label(window, "logCaption",
              english ? QStringLiteral("Operation Log") : QStringLiteral("操作日志"),
              "QLabel { font-weight: 600; font-size: 14px; color: #374151; margin-top: 10px; }"));

    frame.logEdit = named(new QPlainTextEdit(window), "m_logEdit");
    frame.logEdit->setReadOnly(true);
    // A controller left off over a weekend writes tens of thousands of lines: the oldest go.
    // The plain text edit drops them without laying out the rest again.
    frame.logEdit->setMaximumBlockCount(kLogLines);
    frame.logEdit->setMaximumHeight(140);
    frame.logEdit->setStyleSheet(WindowStyles::logEdit());
    mainLayout->addWidget(frame.logEdit);
    return frame;
}

QString WindowFrame::title(bool english)
{
    return english ? QStringLiteral("CNC Controller File Manager")
                   : QStringLiteral("CNC控制器文件管理");
}

QString WindowFrame::connectedTitle(bool english, const QString &host)
{
    // A controller the operator named shows as "Mill 2 (10.0.0.5)".
    return (english ? QStringLiteral("CNC Controller File Manager - Connected to %1")
                    : QStringLiteral("CNC控制器文件管理 - 已连接到 %1"))
        .arg(AddressBook::displayName(host));
}

QString WindowFrame::hostText(const QString &address, int port)
{
    // The address up to its first colon; appending the port first keeps an empty address
    // and an address that holds colons itself alike.
    return (address + QLatin1Char(':') + QString::number(port))
        .split(QLatin1Char(':'))
        .constFirst();
}

QAction *WindowFrame::anotherControllerAction(bool english, QObject *parent)
{
    auto *action = new QAction(anotherControllerText(english), parent);
    action->setObjectName(QStringLiteral("anotherControllerAction"));
    return action;
}

QString WindowFrame::anotherControllerText(bool english)
{
    return english ? QStringLiteral("Connect to another controller…")
                   : QStringLiteral("连接到另一个控制器…");
}

QString WindowFrame::reconnectingTitle(bool english)
{
    return english ? QStringLiteral("CNC Controller File Manager - Reconnecting...")
                   : QStringLiteral("CNC控制器文件管理 - 重新连接中...");
}

QString WindowFrame::pathText(bool english, const QString &folder)
{
    return (english ? QStringLiteral("CNC Controller Files: ")
                    : QStringLiteral("CNC控制器文件: ")) +
           folder;
}

QString WindowFrame::statusLabelText(bool english)
{
    return english ? QStringLiteral("Connection Status:") : QStringLiteral("连接状态:");
}

QString WindowFrame::languageButtonText(bool english)
{
    return english ? QStringLiteral("中文") : QStringLiteral("English");
}

void WindowFrame::fitColumns(QTreeView *view)
{
    const ColumnWidths widths = columnWidthsForViewWidth(view->width());

    QHeaderView *header = view->header();
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

void WindowFrame::appendLogLine(QPlainTextEdit *log, const QString &text, bool failure)
{
    log->appendPlainText(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) +
                         QLatin1String(" - ") + text);
    // Every line sets its own colour, so that none takes over the one before it.
    QTextCursor line(log->document()->lastBlock());
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    if (failure)
        format.setForeground(QColor(WindowStyles::kFailureColor));
    line.setCharFormat(format);
}
