// The keys and the context menu of the remote file list, without a controller: each reaches
// the slot of its button, and only while that button is enabled. The window has no SFTP
// channel here, so every file operation slot shows that it was reached by its not-ready line.
#include "CConnectionForSshClient.h"
#include "ControllerShell.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

const QString kRoot = QStringLiteral("/home/pi/cnc/");

// The controller's answer to the listing of dir: a folder and two files.
QString listingOutput(const QString &dir)
{
    QString echo = ControllerShell::listingCommand(dir);
    echo.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return echo +
           QStringLiteral("total 8\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-02 10:00:00 old\r\n"
                          "-rw-r--r-- 1 root root   10 2026-01-01 10:00:00 a.nc\r\n"
                          "-rw-r--r-- 1 root root   20 2026-01-03 10:00:00 b.nc\r\n") +
           ControllerShell::prompt();
}

} // namespace

class TestListActions : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase() { QFile::remove(settingsPath()); }
    void keysAndMenuGoThroughTheButtonsSlots_data();
    void keysAndMenuGoThroughTheButtonsSlots();
};

void TestListActions::keysAndMenuGoThroughTheButtonsSlots_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("folder"); // listed below the root, or the root itself
    QTest::addColumn<QString>("row");    // selected and current
    QTest::addColumn<QString>("input");  // a key sequence, or "menu:" and the entry's text
    QTest::addColumn<QString>("gate");   // the button it follows; disabled for rows "... off"
    QTest::addColumn<QString>("effect"); // the new log lines, or "selected:" and the rows

    const QString refreshRoot = "Refreshing remote directory: " + kRoot;
    const struct
    {
        const char *tag, *input, *gate, *effect;
    } buttons[] = {
        {"F5", "F5", "m_btnRefresh", "Refreshing remote directory: /home/pi/cnc/"},
        {"menu Refresh", "menu:Refresh", "m_btnRefresh",
         "Refreshing remote directory: /home/pi/cnc/"},
        {"Delete", "Del", "m_btnDelete", "Error: SFTP not ready, unable to delete."},
        {"menu Delete", "menu:Delete", "m_btnDelete", "Error: SFTP not ready, unable to delete."},
        {"F2", "F2", "m_btnDelete", "Error: SFTP not ready, unable to rename."},
        {"menu Rename", "menu:Rename", "m_btnDelete", "Error: SFTP not ready, unable to rename."},
        {"menu Download", "menu:Download", "m_btnDownload",
         "Error: SFTP not ready, unable to download."},
        {"menu New Folder", "menu:New Folder", "m_btnNewFolder",
         "Error: SFTP not ready, unable to create folder."},
    };
    for (const auto &b : buttons) {
        QTest::newRow(b.tag) << "en"
                             << ""
                             << "a.nc" << b.input << b.gate << b.effect;
        QTest::newRow(qPrintable(QString(b.tag) + " off")) << "en"
                                                           << ""
                                                           << "a.nc" << b.input << b.gate << "";
    }
    QTest::newRow("menu 重命名") << "zh"
                                 << ""
                                 << "old"
                                 << "menu:重命名"
                                 << "m_btnDelete"
                                 << "错误: SFTP尚未准备就绪，无法重命名。";
    QTest::newRow("menu 刷新") << "zh"
                               << ""
                               << "a.nc"
                               << "menu:刷新"
                               << "m_btnRefresh"
                               << "正在刷新远程目录: " + kRoot;

    // Keys without a button move and select as a double click and a file manager do.
    QTest::newRow("Enter on a folder") << "en"
                                       << ""
                                       << "old"
                                       << "Return"
                                       << "" << refreshRoot + "old/";
    QTest::newRow("Enter on a file") << "en"
                                     << ""
                                     << "a.nc"
                                     << "Return"
                                     << ""
                                     << "";
    QTest::newRow("Enter on ..") << "en"
                                 << "old"
                                 << ".."
                                 << "Return"
                                 << "" << refreshRoot;
    QTest::newRow("Backspace") << "en"
                               << "old"
                               << "a.nc"
                               << "Backspace"
                               << "" << refreshRoot;
    QTest::newRow("Backspace in the root") << "en"
                                           << ""
                                           << "a.nc"
                                           << "Backspace"
                                           << ""
                                           << "";
    QTest::newRow("Ctrl+A") << "en"
                            << "old"
                            << ".."
                            << "Ctrl+A"
                            << ""
                            << "selected:old, b.nc, a.nc";
}

void TestListActions::keysAndMenuGoThroughTheButtonsSlots()
{
    QFETCH(QString, language);
    QFETCH(QString, folder);
    QFETCH(QString, row);
    QFETCH(QString, input);
    QFETCH(QString, gate);
    QFETCH(QString, effect);
    setSetting("language", language);

    // Never started: it only gives the window its wiring.
    CConnectionForSshClient worker(QStringLiteral("127.0.0.1"), 22, QString(), "root");
    mainwindow window(&worker);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *view = window.findChild<QTreeView *>("m_treeView");
    auto *model = window.findChild<QStandardItemModel *>("m_model");
    const auto list = [&](const QString &dir) {
        QMetaObject::invokeMethod(&window, "slotDataArrived", Q_ARG(QString, listingOutput(dir)),
                                  Q_ARG(QString, QString()), Q_ARG(int, 22));
    };
    QMetaObject::invokeMethod(&window, "onRefreshClicked");
    list(kRoot);
    if (!folder.isEmpty()) {
        QMetaObject::invokeMethod(&window, "onRemoteDoubleClicked",
                                  Q_ARG(QModelIndex, model->findItems(folder).first()->index()));
        list(kRoot + folder + '/');
    }
    // The buttons come on as with a ready channel, but for the one an "off" row turns off.
    for (QPushButton *button : window.findChildren<QPushButton *>())
        button->setEnabled(button->objectName() != gate || !effect.isEmpty());

    const QModelIndex index = model->findItems(row).first()->index();
    view->setFocus();
    view->setCurrentIndex(index);
    const int mark = logTexts(window).size();
    if (input.startsWith("menu:")) {
        // A right-click on the row, then a click on the entry.
        const QPoint position = view->visualRect(index).center();
        QString shown;
        QTimer::singleShot(0, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *action : menu->actions())
                shown += action->text() + (action->isEnabled() ? "," : " (off),");
            for (QAction *action : menu->actions()) {
                if (action->text() == input.mid(5))
                    QTest::mouseClick(menu, Qt::LeftButton, {},
                                      menu->actionGeometry(action).center());
            }
            menu->close(); // a greyed entry leaves the menu open
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, position,
                                view->viewport()->mapToGlobal(position));
        QApplication::sendEvent(view->viewport(), &event);
        QVERIFY(shown.contains(input.mid(5) + (effect.isEmpty() ? " (off)," : ",")));
        QCOMPARE(shown.count(QLatin1Char(',')), 7); // five entries and the two previews
    } else {
        QTest::keySequence(view, QKeySequence(input));
    }

    if (effect.startsWith("selected:")) {
        QStringList selected;
        for (const QModelIndex &selectedRow : view->selectionModel()->selectedRows())
            selected << selectedRow.data().toString();
        QCOMPARE(selected.join(", "), effect.mid(9));
    } else {
        QCOMPARE(logTexts(window).mid(mark).join('|'), effect);
    }
}

QTEST_MAIN(TestListActions)
#include "tst_listactions.moc"
