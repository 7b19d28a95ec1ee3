// Browsing a simulated controller through the main window and a real connection worker.
#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "ServerSims.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSet>
#include <QStandardItemModel>
#include <QtTest>

#include <memory>

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
    bool doubleClick(const QString &name)
    {
        const QList<QStandardItem *> items = model()->findItems(name);
        return !items.isEmpty() &&
               QMetaObject::invokeMethod(window.get(), "onRemoteDoubleClicked",
                                         Q_ARG(QModelIndex, items.constFirst()->index()));
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
    void navigatesIntoFoldersAndBack();
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

void TestListingSim::navigatesIntoFoldersAndBack()
{
    Session session(m_sim->address());
    session.openWindow();
    QTRY_COMPARE_WITH_TIMEOUT(session.names(), rootNames(), kListingTimeoutMs);
    const auto *pathLabel = session.window->findChild<QLabel *>(QStringLiteral("m_pathLabel"));

    // Each folder lists its own content, whatever its name holds for the shell.
    const QVector<QPair<QString, QString>> folders{
        {QStringLiteral("$HOME"), QStringLiteral("inside home.nc")},
        {QStringLiteral("a\"b"), QStringLiteral("inside quote.nc")},
        {QStringLiteral("it's `here`!"), QStringLiteral("deep.nc")}};
    for (const auto &folder : folders) {
        QVERIFY(session.doubleClick(folder.first));
        // A second request while the listing is outstanding is refused.
        QVERIFY(QMetaObject::invokeMethod(session.window.get(), "onRefreshClicked"));
        QTRY_COMPARE_WITH_TIMEOUT(session.names(),
                                  (QSet<QString>{QStringLiteral(".."), folder.second}),
                                  kListingTimeoutMs);
        QCOMPARE(session.log().count(QStringLiteral("正在刷新远程目录: ") + kRoot + folder.first +
                                     QLatin1Char('/')),
                 1);
        QCOMPARE(pathLabel->text(),
                 QStringLiteral("CNC控制器文件: ") + kRoot + folder.first + QLatin1Char('/'));

        QVERIFY(session.doubleClick(QStringLiteral("..")));
        QTRY_COMPARE_WITH_TIMEOUT(session.names(), rootNames(), kListingTimeoutMs);
        QCOMPARE(pathLabel->text(), QStringLiteral("CNC控制器文件: ") + kRoot);
    }
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
