#include "IconLoader.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

void removeSettings()
{
    // Empty the in-process state of the file too, not only the file on disk.
    QSettings(settingsPath(), QSettings::IniFormat).clear();
    QFile::remove(settingsPath());
}

void storeLanguage(const QString &value)
{
    setSetting(QStringLiteral("language"), value);
}

template <typename T = QPushButton> T *part(const QWidget &window, const char *objectName)
{
    return window.findChild<T *>(QLatin1String(objectName));
}

// Every text that the language toggle sets again, in a fixed order.
QStringList fixedTexts(const QWidget &window)
{
    QStringList texts{window.windowTitle(), part<QLabel>(window, "m_pathLabel")->text(),
                      part<QLabel>(window, "m_statusLabel")->text()};
    for (const char *name : {"m_btnLanguage", "m_btnUpload", "m_btnDownload", "m_btnNewFolder",
                             "m_btnDelete", "m_btnRefresh"})
        texts << part(window, name)->text();
    const auto *model = part<QStandardItemModel>(window, "m_model");
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->headerData(column, Qt::Horizontal).toString();
    return texts;
}

// Every fixed text in Chinese and in English, in the order of fixedTexts().
const QList<QPair<QString, QString>> fixedTextPairs{
    {"CNC控制器文件管理", "CNC Controller File Manager"},
    {"CNC控制器文件: /home/pi/cnc/", "CNC Controller Files: /home/pi/cnc/"},
    {"连接状态:", "Connection Status:"},
    {"English", "中文"},
    {"上传文件", "Upload File"},
    {"下载文件", "Download File"},
    {"新建文件夹", "New Folder"},
    {"删除文件", "Delete File"},
    {"刷新列表", "Refresh List"},
    {"名称", "Name"},
    {"类型", "Type"},
    {"大小", "Size"},
    {"修改时间", "Modified Time"}};

QStringList expectedTexts(bool english)
{
    QStringList texts;
    for (const auto &pair : fixedTextPairs)
        texts << (english ? pair.second : pair.first);
    return texts;
}
const QStringList chineseTexts = expectedTexts(false);
const QStringList englishTexts = expectedTexts(true);

const char *const fileButtons[] = {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete",
                                   "m_btnRefresh"};

bool anyFileButtonEnabled(const QWidget &window)
{
    return std::any_of(std::begin(fileButtons), std::end(fileButtons),
                       [&](const char *name) { return part(window, name)->isEnabled(); });
}

void report(mainwindow &window, bool state, const QString &ip)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "slotConnectStateChanged", Q_ARG(bool, state),
                                      Q_ARG(QString, ip), Q_ARG(int, 22)));
}

const QString green = QStringLiteral("QLabel{background-color:#00ff00;border-radius:6px;}");
const QString red = QStringLiteral("QLabel{background-color:#ff0000;border-radius:6px;}");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { removeSettings(); }
    void cleanupTestCase() { removeSettings(); }

    void withoutWorker_data();
    void withoutWorker();
    void logShowsMarkupAsText();
    void iconsFromWorkingDirectoryOrBesideTheExecutable();
    void nameColumnFollowsTheView();

    void languageToggle();
    void languageToggleCountsSelectedRows();
    void languageValueIsCaseSensitive();

    void connectionLossAndRestoration_data();
    void connectionLossAndRestoration();
    void repeatedConnectedReportChangesOnlyTheIndicator();
    void toggleWhileDisconnectedKeepsReconnectingTitle();
};

void TestMainWindow::withoutWorker_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("errorLine");
    QTest::newRow("no settings") << QString() << chineseTexts << "错误: SSH连接对象无效。";
    QTest::newRow("en") << "en" << englishTexts << "Error: SSH connection object is invalid.";
}

void TestMainWindow::withoutWorker()
{
    QFETCH(QString, language);
    QFETCH(QStringList, texts);
    QFETCH(QString, errorLine);
    if (!language.isEmpty())
        storeLanguage(language);
    QCOMPARE(QFile::exists(settingsPath()), !language.isEmpty());

    const QTime before = QTime::currentTime();
    mainwindow window(nullptr);
    const QTime after = QTime::currentTime();
    QCOMPARE(fixedTexts(window), texts);
    QCOMPARE(logTexts(window), QStringList{errorLine});
    // The line begins with the time it was written, as hh:mm:ss and " - ".
    const QString line = part<QTextEdit>(window, "m_logEdit")->toPlainText();
    const QTime stamp = QTime::fromString(line.left(8), QStringLiteral("hh:mm:ss"));
    QVERIFY2(stamp.isValid() && line.mid(8, 3) == QLatin1String(" - "), qPrintable(line));
    if (before <= after) // not across midnight
        QVERIFY(stamp >= before.addMSecs(-before.msec()) && stamp <= after);
    QVERIFY(!anyFileButtonEnabled(window));
    QVERIFY(part(window, "m_btnLanguage")->isEnabled());
    QCOMPARE(part<QStandardItemModel>(window, "m_model")->rowCount(), 0);
}

void TestMainWindow::logShowsMarkupAsText()
{
    // Texts that Qt would take for rich text must reach the log as they are.
    mainwindow window(nullptr);
    report(window, false, QStringLiteral("x"));
    report(window, true, QStringLiteral("<b>a</b>&lt;"));
    QCOMPARE(logTexts(window).at(2), QStringLiteral("与 <b>a</b>&lt; 的连接已恢复。"));
    QCOMPARE(logTexts(window).size(), 4);
}

void TestMainWindow::iconsFromWorkingDirectoryOrBesideTheExecutable()
{
    // The build copies the icons beside the test; the working directory holds none of them.
    const QString previous = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });

    {
        mainwindow window(nullptr);
        for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnDelete", "m_btnRefresh"})
            QVERIFY2(!part(window, name)->icon().isNull(), name);
    }
    QVERIFY(!loadIcon(QStringLiteral("返回上一层.png")).isNull());
    QVERIFY(loadIcon(QStringLiteral("no such icon.png")).isNull());

    // A file in the working directory comes first.
    QImage small(16, 16, QImage::Format_ARGB32);
    small.fill(Qt::red);
    QVERIFY(small.save(QStringLiteral("上传文件.png")));
    QCOMPARE(loadIcon(QStringLiteral("上传文件.png")).availableSizes(),
             QList<QSize>{QSize(16, 16)});
}

void TestMainWindow::nameColumnFollowsTheView()
{
    mainwindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *view = part<QTreeView>(window, "m_treeView");
    QTRY_COMPARE(view->header()->sectionSize(0), view->width() - 380);

    const int before = view->width();
    window.resize(1500, 800);
    QTRY_VERIFY(view->width() > before);
    QTRY_COMPARE(view->header()->sectionSize(0), view->width() - 380);
}

void TestMainWindow::languageToggle()
{
    mainwindow window(nullptr);
    QCOMPARE(fixedTexts(window), chineseTexts);

    part(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), englishTexts);
    // The choice is on disk once the toggle is over.
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("language=en"));

    part(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), chineseTexts);
    QCOMPARE(logTexts(window).mid(1),
             QStringList({"Language switched to English", "语言已切换为中文"}));
    QCOMPARE(part<QLabel>(window, "logCaption")->text(), QStringLiteral("操作日志"));
}

void TestMainWindow::languageToggleCountsSelectedRows()
{
    mainwindow window(nullptr);
    auto *model = part<QStandardItemModel>(window, "m_model");
    const QList<QPair<QString, QString>> rows{{"..", "导航"},   {"jobs", "文件夹"},
                                              {"a.nc", "文件"}, {" b.nc ", "文件"},
                                              {"c.nc", "文件"}, {"odd", "套接字"}};
    for (const auto &row : rows) {
        model->appendRow({new QStandardItem(row.first), new QStandardItem(row.second),
                          new QStandardItem("1 B"), new QStandardItem("2026-01-01 00:00:00")});
    }
    QItemSelectionModel *selection = part<QTreeView>(window, "m_treeView")->selectionModel();
    // Selects the rows first to last, toggles, and gives the two labels and the type column.
    const auto toggleWith = [&](int first, int last) {
        selection->select(QItemSelection(model->index(first, 0), model->index(last, 3)),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        part(window, "m_btnLanguage")->click();
        QStringList texts{part(window, "m_btnDownload")->text(),
                          part(window, "m_btnDelete")->text()};
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->item(row, 1)->text();
        return texts;
    };

    // Navigation row, one folder and three files; an unknown type is kept.
    QCOMPARE(toggleWith(0, 4), QStringList({"Download 3 Files", "Delete 4 Items", "Navigation",
                                            "Folder", "File", "File", "File", "套接字"}));
    QCOMPARE(selection->selectedRows().size(), 5);
    QCOMPARE(model->item(3, 0)->text(), QStringLiteral(" b.nc "));
    QCOMPARE(toggleWith(0, 4), QStringList({"下载 3 个文件", "删除 4 个项目", "导航", "文件夹",
                                            "文件", "文件", "文件", "套接字"}));
    // The navigation row alone counts for nothing; one folder and one file count once each.
    QCOMPARE(toggleWith(0, 0).mid(0, 2), QStringList({"Download File", "Delete File"}));
    QCOMPARE(toggleWith(0, 2).mid(0, 2), QStringList({"下载文件", "删除 2 个项目"}));
}

void TestMainWindow::languageValueIsCaseSensitive()
{
    storeLanguage(QStringLiteral("EN"));
    mainwindow window(nullptr);
    QCOMPARE(fixedTexts(window), chineseTexts);

    // Anything but exactly "zh" is followed by "zh", so the window stays Chinese once.
    part(window, "m_btnLanguage")->click();
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat).value("language").toString(),
             QStringLiteral("zh"));
    QCOMPARE(fixedTexts(window), chineseTexts);
    part(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), englishTexts);
}

void TestMainWindow::connectionLossAndRestoration_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("en") << "en"
                        << QStringList{"Connection lost.", "Connection lost.",
                                       "Connection to 127.0.0.1 has been restored.",
                                       "Waiting for SFTP channel to initialize..."}
                        << QStringList{"CNC Controller File Manager - Reconnecting...",
                                       "CNC Controller File Manager - Connected to 127.0.0.1"};
    QTest::newRow("zh") << "zh"
                        << QStringList{"连接已断开。", "连接已断开。",
                                       "与 127.0.0.1 的连接已恢复。", "等待SFTP通道初始化..."}
                        << QStringList{"CNC控制器文件管理 - 重新连接中...",
                                       "CNC控制器文件管理 - 已连接到 127.0.0.1"};
}

void TestMainWindow::connectionLossAndRestoration()
{
    QFETCH(QString, language);
    QFETCH(QStringList, expectedLog);
    QFETCH(QStringList, titles);

    storeLanguage(language);
    mainwindow window(nullptr);
    const int logStart = logTexts(window).size();
    const auto *indicator = part<QLabel>(window, "m_statusIndicator");
    const auto *reconnectTimer = part<QTimer>(window, "m_reconnectTimer");
    QSignalSpy titleChanges(&window, &QWidget::windowTitleChanged);
    for (const char *name : fileButtons)
        part(window, name)->setEnabled(true);

    report(window, false, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), red);
    QVERIFY(reconnectTimer->isActive());
    QVERIFY(!anyFileButtonEnabled(window));
    // A second loss disables again (something may have enabled meanwhile) and logs again.
    part(window, "m_btnRefresh")->setEnabled(true);
    report(window, false, QStringLiteral("127.0.0.1"));
    QVERIFY(!part(window, "m_btnRefresh")->isEnabled());

    report(window, true, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), green);
    QVERIFY(!reconnectTimer->isActive());
    QVERIFY(!anyFileButtonEnabled(window)); // they wait for the SFTP channel

    QCOMPARE(logTexts(window).mid(logStart), expectedLog);
    QCOMPARE(titleChanges.size(), 2);
    QCOMPARE(titleChanges.at(0).at(0).toString(), titles.at(0));
    QCOMPARE(titleChanges.at(1).at(0).toString(), titles.at(1));
}

void TestMainWindow::repeatedConnectedReportChangesOnlyTheIndicator()
{
    mainwindow window(nullptr);
    auto *indicator = part<QLabel>(window, "m_statusIndicator");
    indicator->setStyleSheet(QString());
    part(window, "m_btnUpload")->setEnabled(true);
    const QStringList log = logTexts(window);
    QSignalSpy titles(&window, &QWidget::windowTitleChanged);

    report(window, true, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), green);
    QCOMPARE(titles.size(), 0);
    QCOMPARE(logTexts(window), log);
    QVERIFY(part(window, "m_btnUpload")->isEnabled());
    QVERIFY(!part<QTimer>(window, "m_reconnectTimer")->isActive());
}

void TestMainWindow::toggleWhileDisconnectedKeepsReconnectingTitle()
{
    mainwindow window(nullptr);
    report(window, false, QStringLiteral("127.0.0.1"));
    part(window, "m_btnLanguage")->click();
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC Controller File Manager - Reconnecting..."));
    QCOMPARE(part<QLabel>(window, "m_statusIndicator")->styleSheet(), red);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
