#include "IconLoader.h"
#include "mainwindow.h"

#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

void removeSettings()
{
    // Empty the in-process state of the file too, not only the file on disk.
    {
        QSettings settings(settingsPath(), QSettings::IniFormat);
        settings.clear();
    }
    QFile::remove(settingsPath());
}

void storeLanguage(const QString &value)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("language"), value);
}

template <typename T> T *part(const QWidget &window, const char *objectName)
{
    return window.findChild<T *>(QLatin1String(objectName));
}

QPushButton *button(const QWidget &window, const char *objectName)
{
    return part<QPushButton>(window, objectName);
}

// The log lines without their "hh:mm:ss - " prefix.
QStringList logTexts(const QWidget &window)
{
    QStringList texts;
    const QStringList lines =
        part<QTextEdit>(window, "m_logEdit")->toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        texts << line.mid(11);
    return texts;
}

// Every text that the language toggle sets again, in a fixed order.
QStringList fixedTexts(const QWidget &window)
{
    QStringList texts{window.windowTitle(),
                      button(window, "m_btnLanguage")->text(),
                      part<QLabel>(window, "m_pathLabel")->text(),
                      part<QLabel>(window, "m_statusLabel")->text(),
                      button(window, "m_btnUpload")->text(),
                      button(window, "m_btnDownload")->text(),
                      button(window, "m_btnNewFolder")->text(),
                      button(window, "m_btnDelete")->text(),
                      button(window, "m_btnRefresh")->text()};
    const auto *model = part<QStandardItemModel>(window, "m_model");
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->headerData(column, Qt::Horizontal).toString();
    return texts;
}

const QStringList chineseTexts{QStringLiteral("CNC控制器文件管理"),
                               QStringLiteral("English"),
                               QStringLiteral("CNC控制器文件: /home/pi/cnc/"),
                               QStringLiteral("连接状态:"),
                               QStringLiteral("上传文件"),
                               QStringLiteral("下载文件"),
                               QStringLiteral("新建文件夹"),
                               QStringLiteral("删除文件"),
                               QStringLiteral("刷新列表"),
                               QStringLiteral("名称"),
                               QStringLiteral("类型"),
                               QStringLiteral("大小"),
                               QStringLiteral("修改时间")};

const QStringList englishTexts{QStringLiteral("CNC Controller File Manager"),
                               QStringLiteral("中文"),
                               QStringLiteral("CNC Controller Files: /home/pi/cnc/"),
                               QStringLiteral("Connection Status:"),
                               QStringLiteral("Upload File"),
                               QStringLiteral("Download File"),
                               QStringLiteral("New Folder"),
                               QStringLiteral("Delete File"),
                               QStringLiteral("Refresh List"),
                               QStringLiteral("Name"),
                               QStringLiteral("Type"),
                               QStringLiteral("Size"),
                               QStringLiteral("Modified Time")};

const char *const fileButtons[] = {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete",
                                   "m_btnRefresh"};

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
    void logLinesBeginWithTheTime();
    void logShowsMarkupAsText();
    void layout();
    void iconsFromWorkingDirectoryOrBesideTheExecutable();
    void columnWidthsFollowTheView();

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
    QTest::newRow("no settings") << QString() << chineseTexts
                                 << QStringLiteral("错误: SSH连接对象无效。");
    QTest::newRow("en") << QStringLiteral("en") << englishTexts
                        << QStringLiteral("Error: SSH connection object is invalid.");
}

void TestMainWindow::withoutWorker()
{
    QFETCH(QString, language);
    QFETCH(QStringList, texts);
    QFETCH(QString, errorLine);

    if (!language.isEmpty())
        storeLanguage(language);
    QCOMPARE(QFile::exists(settingsPath()), !language.isEmpty());

    mainwindow window(nullptr);
    QCOMPARE(fixedTexts(window), texts);
    QCOMPARE(logTexts(window), QStringList{errorLine});
    for (const char *name : fileButtons)
        QVERIFY2(!button(window, name)->isEnabled(), name);
    QVERIFY(button(window, "m_btnLanguage")->isEnabled());
    QCOMPARE(part<QLabel>(window, "m_statusIndicator")->styleSheet(), green);
    QCOMPARE(part<QStandardItemModel>(window, "m_model")->rowCount(), 0);
}

void TestMainWindow::logLinesBeginWithTheTime()
{
    const QTime before = QTime::currentTime();
    mainwindow window(nullptr);
    const QTime after = QTime::currentTime();

    const QString line = part<QTextEdit>(window, "m_logEdit")->toPlainText();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d\\d:\\d\\d:\\d\\d) - \\S")).match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    const QTime stamp = QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss"));
    QVERIFY(stamp.isValid());
    if (before <= after) { // not across midnight
        QVERIFY(stamp >= before.addMSecs(-before.msec()));
        QVERIFY(stamp <= after);
    }
}

void TestMainWindow::layout()
{
    mainwindow window(nullptr);
    QCOMPARE(window.size(), QSize(1200, 800));
    QCOMPARE(window.minimumSize(), QSize(1000, 700));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Top row: path on the left, then language button, caption and the 12 x 12 indicator.
    const auto x = [&window](const char *name) {
        return window.findChild<QWidget *>(QLatin1String(name))->geometry().x();
    };
    QVERIFY(x("m_pathLabel") < x("m_btnLanguage"));
    QVERIFY(x("m_btnLanguage") < x("m_statusLabel"));
    QVERIFY(x("m_statusLabel") < x("m_statusIndicator"));
    QCOMPARE(part<QLabel>(window, "m_statusIndicator")->size(), QSize(12, 12));

    // Button row: centred, in this order.
    const QStringList order{QStringLiteral("m_btnUpload"), QStringLiteral("m_btnDownload"),
                            QStringLiteral("m_btnNewFolder"), QStringLiteral("m_btnDelete"),
                            QStringLiteral("m_btnRefresh")};
    for (int i = 1; i < order.size(); ++i)
        QVERIFY(x(qPrintable(order[i - 1])) < x(qPrintable(order[i])));
    const QRect first = button(window, "m_btnUpload")->geometry();
    const QRect last = button(window, "m_btnRefresh")->geometry();
    QVERIFY(qAbs(first.left() - (window.width() - 1 - last.right())) <= 1);

    // The list fills the height; the log below it stays small and read-only.
    const auto *log = part<QTextEdit>(window, "m_logEdit");
    QVERIFY(log->isReadOnly());
    QVERIFY(log->height() <= 140);
    QVERIFY(part<QTreeView>(window, "m_treeView")->height() > 300);
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
            QVERIFY2(!button(window, name)->icon().isNull(), name);
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

void TestMainWindow::columnWidthsFollowTheView()
{
    mainwindow window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const auto *view = part<QTreeView>(window, "m_treeView");
    const QHeaderView *header = view->header();
    QTRY_COMPARE(header->sectionSize(0), view->width() - 380);
    QCOMPARE(header->sectionSize(1), 80);
    QCOMPARE(header->sectionSize(2), 100);
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Interactive);
    QCOMPARE(header->sectionResizeMode(1), QHeaderView::Fixed);

    const int before = view->width();
    window.resize(1500, 800);
    QTRY_VERIFY(view->width() > before);
    QTRY_COMPARE(header->sectionSize(0), view->width() - 380);
}

void TestMainWindow::languageToggle()
{
    mainwindow window(nullptr);
    const QString caption = part<QLabel>(window, "logCaption")->text();
    QCOMPARE(caption, QStringLiteral("操作日志"));
    QCOMPARE(fixedTexts(window), chineseTexts);

    button(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), englishTexts);
    // The choice is on disk once the toggle is over.
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("language=en"));
    QCOMPARE(logTexts(window).last(), QStringLiteral("Language switched to English"));

    button(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), chineseTexts);
    const QStringList lines = logTexts(window);
    QCOMPARE(lines.mid(lines.size() - 2),
             (QStringList{QStringLiteral("Language switched to English"),
                          QStringLiteral("语言已切换为中文")}));
    QCOMPARE(part<QLabel>(window, "logCaption")->text(), caption);
}

void TestMainWindow::languageToggleCountsSelectedRows()
{
    mainwindow window(nullptr);
    auto *model = part<QStandardItemModel>(window, "m_model");
    const QList<QPair<QString, QString>> rows{{QStringLiteral(".."), QStringLiteral("导航")},
                                              {QStringLiteral("jobs"), QStringLiteral("文件夹")},
                                              {QStringLiteral("a.nc"), QStringLiteral("文件")},
                                              {QStringLiteral(" b.nc "), QStringLiteral("文件")},
                                              {QStringLiteral("c.nc"), QStringLiteral("文件")},
                                              {QStringLiteral("odd"), QStringLiteral("套接字")}};
    for (const auto &row : rows) {
        model->appendRow({new QStandardItem(row.first), new QStandardItem(row.second),
                          new QStandardItem(QStringLiteral("1 B")),
                          new QStandardItem(QStringLiteral("2026-01-01 00:00:00"))});
    }
    QItemSelectionModel *selection = part<QTreeView>(window, "m_treeView")->selectionModel();
    const auto select = [&](int firstRow, int lastRow) {
        selection->select(QItemSelection(model->index(firstRow, 0), model->index(lastRow, 3)),
                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    };
    const auto typeColumn = [model] {
        QStringList types;
        for (int row = 0; row < model->rowCount(); ++row)
            types << model->item(row, 1)->text();
        return types;
    };

    // Navigation row, one folder and three files.
    select(0, 4);
    button(window, "m_btnLanguage")->click();
    QCOMPARE(button(window, "m_btnDownload")->text(), QStringLiteral("Download 3 Files"));
    QCOMPARE(button(window, "m_btnDelete")->text(), QStringLiteral("Delete 4 Items"));
    QCOMPARE(typeColumn(), (QStringList{QStringLiteral("Navigation"), QStringLiteral("Folder"),
                                        QStringLiteral("File"), QStringLiteral("File"),
                                        QStringLiteral("File"), QStringLiteral("套接字")}));
    QCOMPARE(selection->selectedRows().size(), 5);
    QCOMPARE(model->item(3, 0)->text(), QStringLiteral(" b.nc "));

    button(window, "m_btnLanguage")->click();
    QCOMPARE(button(window, "m_btnDownload")->text(), QStringLiteral("下载 3 个文件"));
    QCOMPARE(button(window, "m_btnDelete")->text(), QStringLiteral("删除 4 个项目"));
    QCOMPARE(typeColumn(), (QStringList{QStringLiteral("导航"), QStringLiteral("文件夹"),
                                        QStringLiteral("文件"), QStringLiteral("文件"),
                                        QStringLiteral("文件"), QStringLiteral("套接字")}));

    // The navigation row alone counts for nothing; one folder and one file count once each.
    select(0, 0);
    button(window, "m_btnLanguage")->click();
    QCOMPARE(button(window, "m_btnDownload")->text(), QStringLiteral("Download File"));
    QCOMPARE(button(window, "m_btnDelete")->text(), QStringLiteral("Delete File"));
    select(0, 2);
    button(window, "m_btnLanguage")->click();
    QCOMPARE(button(window, "m_btnDownload")->text(), QStringLiteral("下载文件"));
    QCOMPARE(button(window, "m_btnDelete")->text(), QStringLiteral("删除 2 个项目"));
}

void TestMainWindow::languageValueIsCaseSensitive()
{
    storeLanguage(QStringLiteral("EN"));
    mainwindow window(nullptr);
    QCOMPARE(fixedTexts(window), chineseTexts);

    // Anything but exactly "zh" is followed by "zh", so the window stays Chinese once.
    button(window, "m_btnLanguage")->click();
    QCOMPARE(QSettings(settingsPath(), QSettings::IniFormat).value("language").toString(),
             QStringLiteral("zh"));
    QCOMPARE(fixedTexts(window), chineseTexts);
    button(window, "m_btnLanguage")->click();
    QCOMPARE(fixedTexts(window), englishTexts);
}

void TestMainWindow::connectionLossAndRestoration_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<QString>("reconnectingTitle");
    QTest::addColumn<QString>("restoredTitle");

    QTest::newRow("en") << QStringLiteral("en")
                        << QStringList{QStringLiteral("Connection lost."),
                                       QStringLiteral("Connection lost."),
                                       QStringLiteral("Connection to 127.0.0.1 has been restored."),
                                       QStringLiteral("Waiting for SFTP channel to initialize...")}
                        << QStringLiteral("CNC Controller File Manager - Reconnecting...")
                        << QStringLiteral("CNC Controller File Manager - Connected to 127.0.0.1");
    QTest::newRow("zh") << QStringLiteral("zh")
                        << QStringList{QStringLiteral("连接已断开。"),
                                       QStringLiteral("连接已断开。"),
                                       QStringLiteral("与 127.0.0.1 的连接已恢复。"),
                                       QStringLiteral("等待SFTP通道初始化...")}
                        << QStringLiteral("CNC控制器文件管理 - 重新连接中...")
                        << QStringLiteral("CNC控制器文件管理 - 已连接到 127.0.0.1");
}

void TestMainWindow::connectionLossAndRestoration()
{
    QFETCH(QString, language);
    QFETCH(QStringList, expectedLog);
    QFETCH(QString, reconnectingTitle);
    QFETCH(QString, restoredTitle);

    storeLanguage(language);
    mainwindow window(nullptr);
    const int logStart = logTexts(window).size();
    const auto *indicator = part<QLabel>(window, "m_statusIndicator");
    const auto *reconnectTimer = part<QTimer>(window, "m_reconnectTimer");
    QSignalSpy titles(&window, &QWidget::windowTitleChanged);
    for (const char *name : fileButtons)
        button(window, name)->setEnabled(true);

    report(window, false, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), red);
    QCOMPARE(window.windowTitle(), reconnectingTitle);
    QVERIFY(reconnectTimer->isActive());
    for (const char *name : fileButtons)
        QVERIFY2(!button(window, name)->isEnabled(), name);

    // A second loss disables again (something may have enabled meanwhile) and logs again.
    button(window, "m_btnRefresh")->setEnabled(true);
    report(window, false, QStringLiteral("127.0.0.1"));
    QVERIFY(!button(window, "m_btnRefresh")->isEnabled());

    report(window, true, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), green);
    QCOMPARE(window.windowTitle(), restoredTitle);
    QVERIFY(!reconnectTimer->isActive());
    // The buttons wait for the SFTP channel.
    for (const char *name : fileButtons)
        QVERIFY2(!button(window, name)->isEnabled(), name);

    QCOMPARE(logTexts(window).mid(logStart), expectedLog);
    QCOMPARE(titles.size(), 2);
    QCOMPARE(titles.at(0).at(0).toString(), reconnectingTitle);
    QCOMPARE(titles.at(1).at(0).toString(), restoredTitle);
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

void TestMainWindow::repeatedConnectedReportChangesOnlyTheIndicator()
{
    mainwindow window(nullptr);
    auto *indicator = part<QLabel>(window, "m_statusIndicator");
    indicator->setStyleSheet(QString());
    button(window, "m_btnUpload")->setEnabled(true);
    const QString log = part<QTextEdit>(window, "m_logEdit")->toPlainText();
    QSignalSpy titles(&window, &QWidget::windowTitleChanged);

    report(window, true, QStringLiteral("127.0.0.1"));
    QCOMPARE(indicator->styleSheet(), green);
    QCOMPARE(titles.size(), 0);
    QCOMPARE(part<QTextEdit>(window, "m_logEdit")->toPlainText(), log);
    QVERIFY(button(window, "m_btnUpload")->isEnabled());
    QVERIFY(!part<QTimer>(window, "m_reconnectTimer")->isActive());
}

void TestMainWindow::toggleWhileDisconnectedKeepsReconnectingTitle()
{
    mainwindow window(nullptr);
    report(window, false, QStringLiteral("127.0.0.1"));
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC控制器文件管理 - 重新连接中..."));
    button(window, "m_btnLanguage")->click();
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC Controller File Manager - Reconnecting..."));
    QCOMPARE(part<QLabel>(window, "m_statusIndicator")->styleSheet(), red);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
