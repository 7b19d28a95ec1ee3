// The main window without a controller: its texts in both languages, the language toggle, its
// title and icons, the keys and the context menu of the list, and the buttons and the log
// under the worker's reports in any order.
#include "RemoteListRoles.h"
#include "WindowTestSupport.h"

#include <QtTest>

namespace {

// Every text that the language toggle sets again.
QStringList texts(const QWidget &window)
{
    QStringList shown{window.windowTitle(), window.findChild<QLabel *>("m_pathLabel")->text(),
                      window.findChild<QLabel *>("m_statusLabel")->text()};
    for (const char *name : {"m_btnLanguage", "m_btnUpload", "m_btnDownload", "m_btnNewFolder",
                             "m_btnDelete", "m_btnRefresh"})
        shown << button(window, name)->text();
    for (int column = 0; column < 4; ++column)
        shown << listModel(window)->headerData(column, Qt::Horizontal).toString();
    return shown;
}

const QStringList kChinese{"CNC控制器文件管理",
                           "CNC控制器文件: /home/pi/cnc/",
                           "连接状态:",
                           "English",
                           "上传文件",
                           "下载文件",
                           "新建文件夹",
                           "删除文件",
                           "刷新列表",
                           "名称",
                           "类型",
                           "大小",
                           "修改时间"};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsPath()); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void textsAndLanguageToggle();
    void titleAndIcons();
    void keysFollowTheButtons_data();
    void keysFollowTheButtons();
    void reportsInAnyOrder_data();
    void reportsInAnyOrder();
};

void TestMainWindow::textsAndLanguageToggle()
{
    // Anything but exactly "en" is Chinese; the first toggle then writes "zh".
    setSetting("language", "EN");
    mainwindow window(nullptr);
    QCOMPARE(texts(window), kChinese);
    const QString first = window.findChild<QPlainTextEdit *>("m_logEdit")->toPlainText();
    QVERIFY2(QTime::fromString(first.left(8), "hh:mm:ss").isValid() && first.mid(8, 3) == " - ",
             qPrintable(first));
    QCOMPARE(logLines(window), QStringList{"错误: SSH连接对象无效。"});
    button(window, "m_btnLanguage")->click();
    QCOMPARE(setting("language"), QStringLiteral("zh"));
    QCOMPARE(texts(window), kChinese);

    // Three files, a folder, the navigation row and a row of an unknown type selected: the
    // labels count them in the new language; the unknown type keeps its text.
    auto *model = listModel(window);
    const struct
    {
        const char *name, *type;
        int kind; // 0 for none
    } rows[] = {{"..", "导航", int(RemoteRowKind::Navigation)},
                {"jobs", "文件夹", int(RemoteRowKind::Folder)},
                {"a", "文件", int(RemoteRowKind::File)},
                {" b ", "文件", int(RemoteRowKind::File)},
                {"c", "文件", int(RemoteRowKind::File)},
                {"odd", "套接字", 0}};
    for (const auto &row : rows) {
        auto *name = new QStandardItem(row.name);
        if (row.kind)
            name->setData(row.kind, RemoteKindRole);
        model->appendRow({name, new QStandardItem(row.type)});
    }
    window.findChild<QTreeView *>("m_treeView")
        ->selectionModel()
        ->select(QItemSelection(model->index(0, 0), model->index(4, 1)),
                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    button(window, "m_btnLanguage")->click();
    QVERIFY(readFile(settingsPath()).contains("language=en")); // on disk once it is over
    QCOMPARE(
        texts(window),
        QStringList({"CNC Controller File Manager", "CNC Controller Files: /home/pi/cnc/",
                     "Connection Status:", "中文", "Upload File", "Download 3 Files", "New Folder",
                     "Delete 4 Items", "Refresh List", "Name", "Type", "Size", "Modified Time"}));
    QCOMPARE(column(window, 1),
             QStringList({"Navigation", "Folder", "File", "File", "File", "套接字"}));
    QCOMPARE(logLines(window).mid(1),
             QStringList({"语言已切换为中文", "Language switched to English"}));
    QCOMPARE(window.findChild<QLabel *>("logCaption")->text(), QStringLiteral("操作日志"));
}

void TestMainWindow::titleAndIcons()
{
    // The icons are found beside the executable when the working directory has none.
    const QString previous = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    CConnectionForSshClient worker("127.0.0.1:2222", 22, QString(), "root");
    mainwindow window(&worker);
    QDir::setCurrent(previous);
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnDelete", "m_btnRefresh"})
        QVERIFY2(!button(window, name)->icon().isNull(), name);
    // The title shows the address up to its first colon.
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC控制器文件管理 - 已连接到 127.0.0.1"));
}

void TestMainWindow::keysFollowTheButtons_data()
{
    QTest::addColumn<QString>("folder"); // listed below the root, or the root itself
    QTest::addColumn<QString>("row");    // selected and current
    QTest::addColumn<QString>("input");  // a key sequence
    QTest::addColumn<QString>("gate");   // the actions it needs, disabled in the "off" rows
    QTest::addColumn<QString>("effect"); // the new log lines, or "selected:" and the rows
    QTest::addColumn<QString>("menu");   // the entries of the menu, "~" before a greyed one
    // The window has no SFTP channel: each file operation shows by its not-ready line that its
    // slot was reached. Keys without a button move and select as a file manager does. "menu:"
    // chooses an entry of the context menu opened on the row (on empty space without a row).
    const QString refresh = "Refreshing remote directory: " + kRootDir;
    const char *const notReady = "Error: SFTP not ready, unable to ";
    const QString anywhere = "Upload Folder|Preview local file…|Verify transfers|Open "
                             "history|Files open for editing|Connect to another controller…";
    const QString menu = "Download|Rename|Delete|New Folder|Refresh|Upload Folder|Preview|Preview "
                         "local file…|Compare with local file…|Verify transfers|Open history|"
                         "Edit|Files open for editing|Connect to another controller…";
    const struct
    {
        const char *tag, *folder, *row, *input, *gate;
        QString effect, menu = QString();
    } rows[] = {
        {"F5", "", "a.nc", "F5", "refreshAction", refresh},
        {"Delete", "", "a.nc", "Del", "deleteAction", notReady + QString("delete.")},
        {"F2", "", "a.nc", "F2", "renameAction", notReady + QString("rename.")},
        {"F2 off", "", "a.nc", "F2", "renameAction", ""},
        {"F4", "", "a.nc", "F4", "",
         "Cannot open a.nc for editing: not connected to the controller."},
        {"Enter on a folder", "", "old", "Return", "", refresh + "old/"},
        {"Backspace", "old", "a.nc", "Backspace", "", refresh},
        {"Backspace in the root", "", "a.nc", "Backspace", "", ""},
        {"Ctrl+A", "old", "..", "Ctrl+A", "", "selected:old, jobs, b.nc, c.nc, a.nc"},
        {"menu Download", "", "a.nc", "menu:Download", "downloadAction",
         notReady + QString("download."), menu},
        {"menu Refresh", "", "a.nc", "menu:Refresh", "refreshAction", refresh, menu},
        {"menu Rename off", "", "a.nc", "menu:Rename", "renameAction deleteAction", "",
         QString(menu).replace("Rename|Delete", "~Rename|~Delete")},
        {"menu on empty space", "", "", "menu:", "", "", anywhere},
        {"menu Upload Folder", "", "", "menu:Upload Folder", "uploadFolderAction",
         notReady + QString("upload."), anywhere},
    };
    for (const auto &r : rows)
        QTest::newRow(r.tag) << r.folder << r.row << r.input << r.gate << r.effect << r.menu;
}

void TestMainWindow::keysFollowTheButtons()
{
    QFETCH(QString, folder);
    QFETCH(QString, row);
    QFETCH(QString, input);
    QFETCH(QString, gate);
    QFETCH(QString, effect);
    QFETCH(QString, menu);
    setSetting("language", "en");
    OfflineWindow w;
    w.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    w.call("onRefreshClicked");
    w.list(kRootDir);
    if (!folder.isEmpty()) {
        doubleClick(w.window, folder);
        w.list(kRootDir + folder + '/');
    }
    // The actions come on as with a ready channel, but for those an "off" row turns off.
    for (QAction *a : w.window.findChildren<QAction *>(QRegularExpression(
             "^(upload|uploadFolder|download|newFolder|delete|rename|refresh)Action$")))
        a->setEnabled(!gate.split(' ').contains(a->objectName()) || !effect.isEmpty());
    auto *view = w.window.findChild<QTreeView *>("m_treeView");
    const QModelIndex index = listModel(w.window)->index(column(w.window).indexOf(row), 0);
    view->setFocus();
    view->setCurrentIndex(index);
    const int mark = logLines(w.window).size();
    QString menuSeen;
    if (input.startsWith("menu:")) {
        ModalAnswerer answer;
        answer.poll([&] {
            auto *shown = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QStringList entries;
            for (QAction *action : shown ? shown->actions() : QList<QAction *>()) {
                entries << (action->isEnabled() ? "" : "~") + action->text();
                if (action->isEnabled() && "menu:" + action->text() == input)
                    shown->setActiveAction(action);
            }
            menuSeen = entries.join('|');
            if (shown && shown->activeAction())
                QTest::keyClick(shown, Qt::Key_Return);
            else if (shown)
                shown->close();
            return shown != nullptr;
        });
        emit view->customContextMenuRequested(index.isValid()
                                                  ? view->visualRect(index).center()
                                                  : QPoint(5, view->viewport()->height() - 5));
    } else {
        QTest::keySequence(view, QKeySequence(input));
    }
    QCOMPARE(menuSeen, menu);
    QStringList selected;
    for (const QModelIndex &selectedRow : view->selectionModel()->selectedRows())
        selected << selectedRow.data().toString();
    QCOMPARE(effect.startsWith("selected:") ? "selected:" + selected.join(", ")
                                            : logLines(w.window).mid(mark).join('|'),
             effect);
}

void TestMainWindow::reportsInAnyOrder_data()
{
    QTest::addColumn<QString>("reports"); // connection "up" or "down", or a "job" ending; *count
    QTest::addColumn<int>("lines");       // in the operation log afterwards
    // A job of the lost connection ends after the loss, or after the restoration but before
    // the new channel is ready: the file buttons stay off all the same.
    QTest::newRow("a job ends after the loss") << "up down job" << 2;
    QTest::newRow("a job ends after the restoration") << "up down up job" << 4;
    // The controller off for a while, one failed attempt every 10 s: the log keeps its newest
    // 5,000 lines.
    QTest::newRow("6,000 failed attempts") << "up down*6000 job" << 5000;
}

void TestMainWindow::reportsInAnyOrder()
{
    QFETCH(QString, reports);
    QFETCH(int, lines);
    setSetting("language", "en");
    OfflineWindow w;
    for (const QString &report : reports.split(' ')) {
        for (int i = qMax(1, report.section('*', 1).toInt()); i > 0; --i) {
            if (report == "job")
                QVERIFY(QMetaObject::invokeMethod(&w.window, "onSftpJobFinished",
                                                  Q_ARG(QSsh::SftpJobId, 7),
                                                  Q_ARG(QString, "the connection went")));
            else
                w.setConnected(report.startsWith("up"));
        }
    }
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"})
        QVERIFY2(!button(w.window, name)->isEnabled(), name);
    const QStringList log = logLines(w.window);
    QCOMPARE(log.size(), lines);
    QCOMPARE(log.last(), QStringLiteral("SFTP task 7 failed: the connection went"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
