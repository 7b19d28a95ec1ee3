// Browsing a simulated controller through the main window and a real connection worker.
#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "RemoteFileName.h"
#include "ServerSims.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

#include <dirent.h>
#include <sys/stat.h>

using namespace WindowTestSupport;

namespace {

const QString kPassword = SimController::rootPassword();
const QString kRoot = QStringLiteral("/home/pi/cnc/");
constexpr int kListingTimeoutMs = 20000;

bool makeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("G0 X0\n") == 6;
}

// Names as bytes, the way the controller stores them: every control character in the middle
// and at the end, a trailing backslash, what the shell expands, keys that would run a command
// as root if typed raw (Ctrl+A/Ctrl+E around it, Ctrl+U before it and CR after it), and bytes
// that are not UTF-8.
QList<QByteArray> hostileNames()
{
    QList<QByteArray> names;
    for (const char c : QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"
                                   "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E"
                                   "\x1F\x7F"))
        names << QByteArray("m") + c + "id" << QByteArray("end") + c;
    names << "back\\"
          << "$HOME"
          << "a\"b"
          << "it's `here`!"
          << "$(touch owned)"
          << "\x01touch owned; \x05"
          << "\x15touch owned\r"
          << "caf\xE9"
          << "\xFF\xFE"
          << "\xE9\x9B\xB6\x1B\xE4\xBB\xB6";
    return names;
}

QSet<QByteArray> entriesOf(const QByteArray &dir)
{
    QSet<QByteArray> entries;
    if (DIR *d = ::opendir(dir.constData())) {
        while (const dirent *entry = ::readdir(d)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                entries << name;
        }
        ::closedir(d);
    }
    return entries;
}

bool isDirectory(const QByteArray &path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeBytes(const QByteArray &path, const QByteArray &content)
{
    FILE *file = ::fopen(path.constData(), "wb");
    if (!file)
        return false;
    const bool written =
        ::fwrite(content.constData(), 1, size_t(content.size()), file) == size_t(content.size());
    return ::fclose(file) == 0 && written;
}

// A worker started as the login dialog starts it, with the window over it.
class Session
{
public:
    explicit Session(const QString &address)
        : worker(new CConnectionForSshClient(address, 22, kPassword, QStringLiteral("root"))),
          watch(worker)
    {
        QObject::connect(worker, &CConnectionForSshClient::sigConnectStateChanged, &watch.context,
                         [this](bool bState) {
                             if (bState)
                                 worker->m_bAutoReconnect = true;
                         });
        QObject::connect(worker, &CConnectionForSshClient::sftpChannelInitialized, &watch.context,
                         [this] { channelReady = true; });
        worker->init();
    }
    ~Session()
    {
        window.reset();
        if (!QTest::qWaitFor([this] { return watch.gone; }, 15000))
            qWarning("the worker did not end");
    }
    void openWindow() { window = std::make_unique<mainwindow>(worker); }

    QStandardItemModel *model() const
    {
        return window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    }
    QSet<QString> names() const
    {
        QSet<QString> result;
        for (int row = 0; row < model()->rowCount(); ++row)
            result << model()->item(row, 0)->text();
        return result;
    }
    QString log() const { return logText(*window); }
    bool listingDone() const
    {
        return window->findChild<QPushButton *>(QStringLiteral("m_btnRefresh"))->isEnabled();
    }
    bool waitListed(const QSet<QString> &expected)
    {
        return QTest::qWaitFor([&] { return listingDone() && names() == expected; },
                               kListingTimeoutMs);
    }
    bool doubleClick(const QString &name)
    {
        const QList<QStandardItem *> items = model()->findItems(name);
        return !items.isEmpty() &&
               QMetaObject::invokeMethod(window.get(), "onRemoteDoubleClicked",
                                         Q_ARG(QModelIndex, items.constFirst()->index()));
    }
    // Once `listed` is shown, selects every row but "..", and deletes them with the box
    // answered Delete.
    bool deleteAll(const QSet<QString> &listed)
    {
        if (!waitListed(listed))
            return false;
        auto *view = window->findChild<QTreeView *>(QStringLiteral("m_treeView"));
        view->selectAll();
        for (QStandardItem *item : model()->findItems(QStringLiteral("..")))
            view->selectionModel()->select(item->index(), QItemSelectionModel::Deselect |
                                                              QItemSelectionModel::Rows);
        bool answered = false;
        QTimer::singleShot(0, window.get(), [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                answered = true;
                box->button(QMessageBox::Yes)->click();
            }
        });
        window->findChild<QPushButton *>(QStringLiteral("m_btnDelete"))->click();
        return answered;
    }

    CConnectionForSshClient *worker;
    DeathWatch watch;
    bool channelReady = false;
    std::unique_ptr<mainwindow> window;
};

} // namespace

class TestListingSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void firstListingArrivesByItself_data();
    void firstListingArrivesByItself();
    void hostileNamesAreData_data();
    void hostileNamesAreData();
    void listingSpoiledByTheLoginProfileIsRetried();

private:
    static QSet<QString> rootNames(const SimController &sim);
    QSet<QString> rootNames() const { return rootNames(*m_sim); }

    ServerSims m_sims;
    SimController *m_sim = nullptr; // OpenSSH's, for the tests against one server
};

void TestListingSim::initTestCase()
{
    QFile::remove(settingsPath());
    CNC_REQUIRE_SIM();
    // Names that the shell and ls treat specially, beside the controller's own files.
    m_sims.setPreparation([](SimController &sim) {
        const QDir root(sim.rootDir());
        bool made = true;
        for (const char *folder : {"$HOME", "a\"b", "it's `here`!"})
            made = made && root.mkpath(QString::fromUtf8(folder));
        for (const char *file :
             {"$HOME/inside home.nc", "a\"b/inside quote.nc", "it's `here`!/deep.nc", " lead.nc",
              "it's $x.nc", "tab\there.nc", "中文 程序.nc", "back\\slash.nc",
              "Last login: notes.nc", "DELETE_SUCCESS.nc"})
            made = made && makeFile(root.filePath(QString::fromUtf8(file)));
        return made && QFile::link(QStringLiteral("programs"),
                                   root.filePath(QStringLiteral("to programs")));
    });
    m_sim = m_sims.get(SimController::Server::OpenSsh);
    QVERIFY2(m_sim, qPrintable(m_sims.lastError()));
}

void TestListingSim::cleanupTestCase()
{
    QFile::remove(settingsPath());
}

QSet<QString> TestListingSim::rootNames(const SimController &sim)
{
    QSet<QString> names;
    const QFileInfoList entries =
        QDir(sim.rootDir())
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        names << (entry.isSymLink()
                      ? entry.fileName() + QLatin1String(" -> ") +
                            QFile::symLinkTarget(entry.filePath()).section(QLatin1Char('/'), -1)
                      : entry.fileName());
    }
    return names;
}

void TestListingSim::firstListingArrivesByItself_data()
{
    ServerSims::addColumn();
    QTest::addColumn<bool>("channelReadyFirst");
    for (const SimController::Server server : ServerSims::servers()) {
        ServerSims::newRow(server, "window before the channel") << false;
        ServerSims::newRow(server, "channel before the window") << true;
    }
}

void TestListingSim::firstListingArrivesByItself()
{
    QFETCH(bool, channelReadyFirst);
    const SimController *const sim = m_sims.current();
    QVERIFY2(sim, qPrintable(m_sims.lastError()));
    Session session(sim->address());
    if (channelReadyFirst)
        QTRY_VERIFY_WITH_TIMEOUT(session.channelReady, kListingTimeoutMs);
    session.openWindow();

    // Every entry of the controller's folder, by its real name, without anything else.
    const QSet<QString> expected = rootNames(*sim);
    QTRY_COMPARE_WITH_TIMEOUT(session.names(), expected, kListingTimeoutMs);
    QCOMPARE(session.log().count(QStringLiteral("正在刷新远程目录: /home/pi/cnc/")), 1);
}

void TestListingSim::hostileNamesAreData_data()
{
    QTest::addColumn<bool>("cLocale");
    QTest::newRow("UTF-8 locale") << false;
    // The line editor reads every byte of 0x80 and above as a Meta key there.
    QTest::newRow("C locale") << true;
}

// Every name is listed, entered, deleted and created as exactly that entry, by the shell route
// (a folder named in Chinese) and by the SFTP route, and no part of a name runs as a command.
void TestListingSim::hostileNamesAreData()
{
    QFETCH(bool, cLocale);
    SimController::Options options;
    options.cLocale = cLocale;
    QVERIFY2(m_sim->start(options), qPrintable(m_sim->lastError()));
    const QByteArray root = QFile::encodeName(m_sim->rootDir());
    const QByteArray shellDir = root + "/" + QByteArray("中文夹");
    const QByteArray sftpDir = root + "/ascii";
    QVERIFY(::mkdir(shellDir.constData(), 0755) == 0 && ::mkdir(sftpDir.constData(), 0755) == 0);
    const QList<QByteArray> names = hostileNames();
    QSet<QString> listed;
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray folder = shellDir + '/' + names[i];
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        QVERIFY(writeBytes(folder + "/inside-" + QByteArray::number(i) + ".nc", "G0\n"));
        QVERIFY(writeBytes(sftpDir + '/' + names[i], names[i]));
        listed << QSsh::remoteNameFromBytes(names[i]);
    }
    const QSet<QByteArray> all(names.cbegin(), names.cend());
    const QSet<QByteArray> rootBefore = entriesOf(root);
    QByteArray homeBefore;
    QCOMPARE(m_sim->exec({"ls", "-A", "/root"}, &homeBefore), 0);

    Session session(m_sim->address());
    session.openWindow();
    QVERIFY(session.waitListed(rootNames()));

    // Listed, and each folder entered shows its own content.
    QVERIFY(session.doubleClick(QStringLiteral("中文夹")));
    QVERIFY(session.waitListed(listed + QSet<QString>{".."}));
    for (int i = 0; i < names.size(); ++i) {
        const QString name = QSsh::remoteNameFromBytes(names[i]);
        QVERIFY2(session.doubleClick(name), names[i].toPercentEncoding().constData());
        QVERIFY2(session.waitListed({"..", QStringLiteral("inside-%1.nc").arg(i)}),
                 names[i].toPercentEncoding().constData());
        QVERIFY(session.doubleClick(QStringLiteral("..")));
        QVERIFY(session.waitListed(listed + QSet<QString>{".."}));
    }

    // Deleted, each by the shell route, then each file by SFTP (those whose names are not
    // UTF-8 by the shell route too); created again by both routes.
    QVERIFY(session.deleteAll(listed + QSet<QString>{".."}));
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(shellDir).isEmpty(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(session.log().count(QStringLiteral("删除操作成功完成")), names.size(),
                              10000);
    QVERIFY(session.waitListed({".."}));
    QVERIFY(session.doubleClick(QStringLiteral("..")));
    QVERIFY(session.waitListed(rootNames()));
    QVERIFY(session.doubleClick(QStringLiteral("ascii")));
    QVERIFY(session.waitListed(listed + QSet<QString>{".."}));
    // Read by SFTP, each file is the one named.
    QTemporaryDir local;
    // (Counted as plain text: the log holds the names, which are not all valid UTF-16.)
    const QString completed = QStringLiteral("已成功完成。");
    const int completedBefore = session.log().count(completed);
    for (int i = 0; i < names.size(); ++i) {
        emit session.window->sigDownloadFile(QStringLiteral("/home/pi/cnc/ascii/") +
                                                 QSsh::remoteNameFromBytes(names[i]),
                                             local.filePath(QString::number(i)));
    }
    QTRY_COMPARE_WITH_TIMEOUT(session.log().count(completed), completedBefore + names.size(),
                              30000);
    for (int i = 0; i < names.size(); ++i) {
        QFile file(local.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), names[i]);
    }
    QVERIFY(session.deleteAll(listed + QSet<QString>{".."}));
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(sftpDir).isEmpty(), 30000);
    for (const QByteArray &name : names) {
        for (const char *dir : {"/home/pi/cnc/中文夹/", "/home/pi/cnc/ascii/"})
            emit session.window->sigCreateRemoteFolder(QString::fromUtf8(dir) +
                                                       QSsh::remoteNameFromBytes(name));
    }
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(shellDir) == all && entriesOf(sftpDir) == all, 30000);
    for (const QByteArray &name : names)
        QVERIFY(isDirectory(shellDir + '/' + name) && isDirectory(sftpDir + '/' + name));

    // Nothing ran: root's home and the controller's folder hold what they held.
    QByteArray homeAfter;
    QCOMPARE(m_sim->exec({"ls", "-A", "/root"}, &homeAfter), 0);
    QCOMPARE(homeAfter, homeBefore);
    QCOMPARE(entriesOf(root), rootBefore);
}

void TestListingSim::listingSpoiledByTheLoginProfileIsRetried()
{
    // A controller whose first shell answers the first ls with a terminal error.
    SimController::Options options;
    options.resizeError = true;
    QVERIFY2(m_sim->start(options), qPrintable(m_sim->lastError()));

    Session session(m_sim->address());
    session.openWindow();
    QTRY_VERIFY_WITH_TIMEOUT(session.names().contains(QStringLiteral("part1.nc")),
                             kListingTimeoutMs);
    QCOMPARE(session.names(), rootNames());
    QCOMPARE(session.log().count(QStringLiteral("正在刷新远程目录: /home/pi/cnc/")), 2);
}

QTEST_MAIN(TestListingSim)
#include "tst_listingsim.moc"
