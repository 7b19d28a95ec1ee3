// Upload, download, delete and new folder through the main window, end to end against a
// simulated controller: the window's dialogs are answered the way an operator would, and the
// outcome is checked on the controller's disk and on the local one.

#include "CConnectionForSshClient.h"
#include "SimController.h"
#include "mainwindow.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

#include <unistd.h>

namespace {

const QString kPassword = QStringLiteral("qzmtrvlakepondsix");
const QString kRemoteRoot = QStringLiteral("/home/pi/cnc/");
constexpr int kJobTimeoutMs = 30000;
// Large enough to be still on its way when the cable is pulled.
constexpr int kBigSize = 32 * 1024 * 1024;

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

QString setting(const QString &key)
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(key).toString();
}

void setSetting(const QString &key, const QString &value)
{
    QSettings(settingsPath(), QSettings::IniFormat).setValue(key, value);
}

QByteArray payload(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Answers the next modal dialog of type Dialog: act runs inside the dialog's own event loop
// and must close it. Tests read what act recorded once the slot that opened it has returned.
class ModalAnswerer : public QObject
{
public:
    template <typename Dialog> void onNext(std::function<void(Dialog *)> act)
    {
        auto *timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [timer, act] {
            if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
                timer->stop();
                timer->deleteLater();
                act(dialog);
            }
        });
        timer->start();
    }
    // Forgets answers that found no dialog, so that they cannot answer a later test's.
    void reset()
    {
        const auto timers = findChildren<QTimer *>();
        qDeleteAll(timers);
    }
};

// The log lines without their "hh:mm:ss - " prefix.
QStringList logTexts(const QWidget &window)
{
    QStringList texts;
    const QString plain = window.findChild<QTextEdit *>(QStringLiteral("m_logEdit"))->toPlainText();
    if (plain.isEmpty())
        return texts;
    const QStringList lines = plain.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        texts << line.mid(11);
    return texts;
}

void chooseInFileDialog(QFileDialog *dialog, const QString &path)
{
    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
    // QFileDialog::accept() is protected; it checks the typed path like a press of Enter.
    static_cast<QDialog *>(dialog)->accept();
}

// What the operator saw in a file dialog.
struct FileDialogView
{
    bool shown = false;
    QString title;
    QString directory;
    QString proposedName;
    bool showDirsOnly = false;

    void take(QFileDialog *dialog)
    {
        shown = true;
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        proposedName = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        showDirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly);
    }
};

// Records the order in which the four file operation buttons change their enabled state.
class EnabledChangeRecorder : public QObject
{
public:
    explicit EnabledChangeRecorder(const QWidget &window)
    {
        for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"})
            window.findChild<QPushButton *>(QLatin1String(name))->installEventFilter(this);
    }
    QStringList changes;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange) {
            const auto *button = static_cast<QPushButton *>(watched);
            changes << button->objectName() +
                           (button->isEnabled() ? QLatin1String("+") : QLatin1String("-"));
        }
        return false;
    }
};

const QStringList kEnableOrder{"m_btnUpload+", "m_btnDownload+", "m_btnNewFolder+", "m_btnDelete+"};
const QStringList kDisableOrder{"m_btnUpload-", "m_btnDownload-", "m_btnNewFolder-",
                                "m_btnDelete-"};

// Bytes in files under dir other than the one named except.
qint64 bytesBeside(const QString &dir, const QString &except)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() != except)
            total += QFileInfo(path).size();
    }
    return total;
}

// Bytes this process has handed to write calls so far ("wchar" of /proc/self/io). A download's
// temporary file may have no name to watch.
qint64 bytesWrittenByThisProcess()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

const QRegularExpression kFailedLine(QStringLiteral("^SFTP task \\d+ failed: .+$"));

} // namespace

class tst_FileOperations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void notReadyRefusesEveryOperation_data();
    void notReadyRefusesEveryOperation();

    void uploadByDialog();
    void uploadByDrop();
    void downloadOneFileWithSaveDialog();
    void downloadSeveralIntoDirectory();
    void deleteAsksFirst();
    void deleteChineseFolderByShell();
    void newFolder();
    void newFolderNamesKeptAsTyped();
    void failedJobGivesTheWindowBack();

    // These pull the cable; they run last since the window has to reconnect afterwards.
    void interruptedUploadKeepsRemoteFile();
    void interruptedDownloadKeepsLocalFile();

private:
    bool connectWindow();
    bool refreshList(const QStringList &expectedNames);
    bool selectRows(const QStringList &names);
    bool enterFolder(const QString &name, const QStringList &expectedNames);
    bool throttleController();
    bool waitForReconnection(int mark);
    QStringList listedNames() const;
    QStringList logTexts() const;
    // The lines since mark, without those of listings: delayed refreshes may come any time.
    QStringList logSince(int mark) const;
    int completionCount(int mark) const;
    QPushButton *button(const char *name) const;
    bool fileButtonsEnabled(bool enabled) const;
    QString remote(const QString &name) const { return m_sim->rootDir() + QLatin1Char('/') + name; }
    void clearController();
    bool sendDrop(const QList<QUrl> &urls);

    std::unique_ptr<SimController> m_sim;
    QPointer<CConnectionForSshClient> m_worker;
    std::unique_ptr<mainwindow> m_window;
    ModalAnswerer m_answer;
    bool m_linkDown = false;
};

void tst_FileOperations::initTestCase()
{
    QFile::remove(settingsPath());
}

void tst_FileOperations::init()
{
    setSetting(QStringLiteral("language"), QStringLiteral("en"));
}

void tst_FileOperations::cleanup()
{
    m_answer.reset();
    if (!m_window)
        return;
    if (m_linkDown) {
        m_linkDown = false;
        const int mark = logTexts().size();
        QVERIFY(m_sim->linkUp());
        QVERIFY(waitForReconnection(mark));
    }
    m_sim->exec({QStringLiteral("tc"), QStringLiteral("qdisc"), QStringLiteral("del"),
                 QStringLiteral("dev"), QStringLiteral("eth0"), QStringLiteral("root")});
    // Let the refreshes that follow the last reports and markers (200 and 500 ms) run out.
    QTest::qWait(600);
    QTRY_VERIFY_WITH_TIMEOUT(button("m_btnRefresh")->isEnabled(), 10000);
}

void tst_FileOperations::cleanupTestCase()
{
    m_window.reset();
    // The window asked the worker's thread to quit; the worker then deletes itself.
    QTRY_VERIFY_WITH_TIMEOUT(m_worker.isNull(), 20000);
    if (m_sim)
        m_sim->stop();
    QFile::remove(settingsPath());
}

bool tst_FileOperations::connectWindow()
{
    if (m_window)
        return true;
    m_sim = std::make_unique<SimController>();
    if (!m_sim->start()) {
        qWarning() << "cannot start the simulated controller:" << m_sim->lastError();
        return false;
    }
    clearController();

    auto *worker =
        new CConnectionForSshClient(m_sim->address(), 22, kPassword, QStringLiteral("root"));
    m_worker = worker;
    // The report comes from the worker's thread; the context object queues it to this one.
    QObject context;
    bool reported = false;
    bool up = false;
    connect(worker, &CConnectionForSshClient::sigConnectStateChanged, &context, [&](bool state) {
        reported = true;
        up = state;
    });
    worker->m_bAutoReconnect = true;
    worker->init();
    if (!QTest::qWaitFor([&] { return reported; }, 20000) || !up)
        return false;

    m_window = std::make_unique<mainwindow>(worker);
    m_window->show();
    // The first listing follows the channel's ready report by three seconds.
    const QString firstListing = QStringLiteral("Refreshing remote directory: ") + kRemoteRoot;
    return QTest::qWaitFor(
        [&] {
            return logTexts().contains(firstListing) && button("m_btnRefresh")->isEnabled() &&
                   fileButtonsEnabled(true);
        },
        30000);
}

QPushButton *tst_FileOperations::button(const char *name) const
{
    return m_window->findChild<QPushButton *>(QLatin1String(name));
}

bool tst_FileOperations::fileButtonsEnabled(bool enabled) const
{
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"}) {
        if (button(name)->isEnabled() != enabled)
            return false;
    }
    return true;
}

QStringList tst_FileOperations::logTexts() const
{
    return ::logTexts(*m_window);
}

QStringList tst_FileOperations::logSince(int mark) const
{
    static const QRegularExpression listing(
        QStringLiteral("^(Refreshing remote directory|正在刷新远程目录): "));
    QStringList lines = logTexts().mid(mark);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString &line) { return listing.match(line).hasMatch(); }),
                lines.end());
    return lines;
}

int tst_FileOperations::completionCount(int mark) const
{
    static const QRegularExpression completed(
        QStringLiteral("^(SFTP task \\d+ completed successfully\\.|SFTP任务 \\d+ 已成功完成。)$"));
    return logSince(mark).filter(completed).size();
}

QStringList tst_FileOperations::listedNames() const
{
    QStringList names;
    const auto *model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->item(row, 0)->text();
    return names;
}

// Lists the current directory again and waits until it shows every expected name.
bool tst_FileOperations::refreshList(const QStringList &expectedNames)
{
    const auto listed = [&] {
        const QStringList names = listedNames();
        for (const QString &name : expectedNames) {
            if (!names.contains(name))
                return false;
        }
        return true;
    };
    QPushButton *refresh = button("m_btnRefresh");
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!QTest::qWaitFor([&] { return refresh->isEnabled(); }, 10000))
            return false;
        refresh->click();
        if (QTest::qWaitFor([&] { return refresh->isEnabled() && listed(); }, 10000))
            return true;
    }
    return false;
}

bool tst_FileOperations::selectRows(const QStringList &names)
{
    auto *view = m_window->findChild<QTreeView *>(QStringLiteral("m_treeView"));
    auto *model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    view->selectionModel()->clearSelection();
    int selected = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (names.contains(model->item(row, 0)->text().trimmed())) {
            view->selectionModel()->select(model->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
            ++selected;
        }
    }
    return selected == names.size();
}

// Double-clicks the row of name and waits for the listing of the folder it leads to.
bool tst_FileOperations::enterFolder(const QString &name, const QStringList &expectedNames)
{
    auto *model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    const QList<QStandardItem *> rows = model->findItems(name);
    if (rows.isEmpty() || !button("m_btnRefresh")->isEnabled())
        return false;
    const int mark = logTexts().size();
    QMetaObject::invokeMethod(m_window.get(), "onRemoteDoubleClicked",
                              Q_ARG(QModelIndex, rows.first()->index()));
    return QTest::qWaitFor(
        [&] {
            if (logTexts()
                    .mid(mark)
                    .filter(QStringLiteral("Refreshing remote directory: "))
                    .isEmpty() ||
                !button("m_btnRefresh")->isEnabled())
                return false;
            const QStringList names = listedNames();
            for (const QString &expected : expectedNames) {
                if (!names.contains(expected))
                    return false;
            }
            return true;
        },
        10000);
}

void tst_FileOperations::clearController()
{
    QDir root(m_sim->rootDir());
    const QFileInfoList entries =
        root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

bool tst_FileOperations::sendDrop(const QList<QUrl> &urls)
{
    QMimeData mimeData;
    mimeData.setUrls(urls);
    const QPoint position = m_window->rect().center();
    QDragEnterEvent enter(position, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(position, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

void tst_FileOperations::notReadyRefusesEveryOperation_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("en") << QStringLiteral("en")
                        << QStringList{"Error: SFTP not ready, unable to upload.",
                                       "Error: SFTP not ready, unable to download.",
                                       "Error: SFTP not ready, unable to delete.",
                                       "Error: SFTP not ready, unable to create folder.",
                                       "Error: SFTP not ready, unable to upload."};
    QTest::newRow("zh") << QStringLiteral("zh")
                        << QStringList{QStringLiteral("错误: SFTP尚未准备就绪，无法上传。"),
                                       QStringLiteral("错误: SFTP尚未准备就绪，无法下载。"),
                                       QStringLiteral("错误: SFTP尚未准备就绪，无法删除。"),
                                       QStringLiteral("错误: SFTP尚未准备就绪，无法创建文件夹。"),
                                       QStringLiteral("错误: SFTP尚未准备就绪，无法上传。")};
}

// A window without a channel asks nothing and requests nothing; a drag is refused.
void tst_FileOperations::notReadyRefusesEveryOperation()
{
    QFETCH(QString, language);
    QFETCH(QStringList, lines);
    setSetting(QStringLiteral("language"), language);
    setSetting(QStringLiteral("lastUploadDir"), QStringLiteral("/nonexistent/up"));

    struct Window : mainwindow
    {
        using mainwindow::dropEvent;
        Window() : mainwindow(nullptr) {}
    } window;
    QSignalSpy uploads(&window, &mainwindow::sigUploadFile);
    QSignalSpy downloads(&window, &mainwindow::sigDownloadFile);
    QSignalSpy deletes(&window, &mainwindow::sigDeleteRemotePath);
    QSignalSpy creates(&window, &mainwindow::sigCreateRemoteFolder);
    bool dialogShown = false;
    m_answer.onNext<QDialog>([&](QDialog *dialog) {
        dialogShown = true;
        dialog->reject();
    });

    for (const char *slot :
         {"onUploadClicked", "onDownloadClicked", "onDeleteClicked", "onNewFolderClicked"})
        QVERIFY(QMetaObject::invokeMethod(&window, slot));

    QMimeData mimeData;
    mimeData.setUrls({QUrl::fromLocalFile(QDir::tempPath())});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(!enter.isAccepted());
    // Qt delivers no drop after a refused drag enter; the state may still change in between.
    QDropEvent drop(QPoint(5, 5), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(true);
    window.dropEvent(&drop);
    QVERIFY(!drop.isAccepted());

    QVERIFY(!dialogShown);
    // The first line is the construction's complaint about the missing worker.
    QCOMPARE(::logTexts(window).mid(1), lines);
    QCOMPARE(uploads.size() + downloads.size() + deletes.size() + creates.size(), 0);
    QCOMPARE(setting(QStringLiteral("lastUploadDir")), QStringLiteral("/nonexistent/up"));
}

void tst_FileOperations::uploadByDialog()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(refreshList({}));

    QTemporaryDir startDir;
    QTemporaryDir sourceDir;
    setSetting(QStringLiteral("lastUploadDir"), startDir.path());
    const QString localPath = sourceDir.filePath(QStringLiteral("part one.nc"));
    const QByteArray bytes = payload(300 * 1024 + 7, 1);
    QVERIFY(writeFile(localPath, bytes));
    QSignalSpy uploads(m_window.get(), &mainwindow::sigUploadFile);

    // Cancelled: the line, and nothing else changes.
    int mark = logTexts().size();
    FileDialogView cancelled;
    m_answer.onNext<QFileDialog>([&](QFileDialog *dialog) {
        cancelled.take(dialog);
        dialog->reject();
    });
    button("m_btnUpload")->click();
    QVERIFY(cancelled.shown);
    QCOMPARE(cancelled.title, QStringLiteral("Select file to upload"));
    QCOMPARE(cancelled.directory, startDir.path());
    QCOMPARE(logSince(mark), QStringList{"Upload cancelled."});
    QCOMPARE(setting(QStringLiteral("lastUploadDir")), startDir.path());
    QCOMPARE(uploads.size(), 0);
    QVERIFY(fileButtonsEnabled(true));

    mark = logTexts().size();
    EnabledChangeRecorder recorder(*m_window);
    m_answer.onNext<QFileDialog>(
        [&](QFileDialog *dialog) { chooseInFileDialog(dialog, localPath); });
    button("m_btnUpload")->click();

    const QString remotePath = kRemoteRoot + QStringLiteral("part one.nc");
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(uploads.first(), QVariantList({localPath, remotePath}));
    QCOMPARE(
        logSince(mark),
        QStringList{QStringLiteral("Requesting upload %1 to %2...").arg(localPath, remotePath)});
    QCOMPARE(setting(QStringLiteral("lastUploadDir")), sourceDir.path());
    QCOMPARE(recorder.changes, kDisableOrder);
    QVERIFY(button("m_btnRefresh")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 1, kJobTimeoutMs);
    QCOMPARE(readFile(remote(QStringLiteral("part one.nc"))), bytes);
    QCOMPARE(recorder.changes.mid(4, 4), kEnableOrder);
    QTRY_VERIFY_WITH_TIMEOUT(listedNames().contains(QStringLiteral("part one.nc")), 10000);
}

void tst_FileOperations::uploadByDrop()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(refreshList({}));

    // The first dropped item is a folder of another place than the files.
    QTemporaryDir firstDir;
    QTemporaryDir filesDir;
    QVERIFY(QDir(firstDir.path()).mkdir(QStringLiteral("drawings")));
    const QString folder = firstDir.filePath(QStringLiteral("drawings"));
    const QString fileA = filesDir.filePath(QStringLiteral("a.nc"));
    const QString fileB = filesDir.filePath(QStringLiteral("零件 b.nc"));
    const QByteArray bytesA = payload(64 * 1024, 2);
    const QByteArray bytesB = payload(1, 3);
    QVERIFY(writeFile(fileA, bytesA));
    QVERIFY(writeFile(fileB, bytesB));
    setSetting(QStringLiteral("lastUploadDir"), QStringLiteral("/nonexistent/before"));

    QSignalSpy uploads(m_window.get(), &mainwindow::sigUploadFile);
    EnabledChangeRecorder recorder(*m_window);
    const int mark = logTexts().size();
    QVERIFY(sendDrop({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(fileA),
                      QUrl(QStringLiteral("https://example.invalid/c.nc")),
                      QUrl::fromLocalFile(fileB)}));

    const QString remoteA = kRemoteRoot + QStringLiteral("a.nc");
    const QString remoteB = kRemoteRoot + QStringLiteral("零件 b.nc");
    QCOMPARE(
        logSince(mark),
        QStringList({QStringLiteral("Skip folder: %1 (only file upload is supported)").arg(folder),
                     QStringLiteral("Drag and drop upload %1 to %2...").arg(fileA, remoteA),
                     QStringLiteral("Drag and drop upload %1 to %2...").arg(fileB, remoteB)}));
    QCOMPARE(uploads.size(), 2);
    QCOMPARE(uploads.at(0), QVariantList({fileA, remoteA}));
    QCOMPARE(uploads.at(1), QVariantList({fileB, remoteB}));
    QCOMPARE(recorder.changes, kDisableOrder);
    QCOMPARE(setting(QStringLiteral("lastUploadDir")), firstDir.path());

    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 2, kJobTimeoutMs);
    QCOMPARE(readFile(remote(QStringLiteral("a.nc"))), bytesA);
    QCOMPARE(readFile(remote(QStringLiteral("零件 b.nc"))), bytesB);
    QVERIFY(fileButtonsEnabled(true));
    QTRY_VERIFY_WITH_TIMEOUT(listedNames().contains(QStringLiteral("a.nc")) &&
                                 listedNames().contains(QStringLiteral("零件 b.nc")),
                             10000);

    // Nothing uploadable: a skip line for the folder and for the missing file, none for the
    // link; the drop is still taken, and the buttons and the start folder stay as they are.
    const int markBefore = logTexts().size();
    uploads.clear();
    QVERIFY(
        sendDrop({QUrl::fromLocalFile(folder), QUrl(QStringLiteral("https://example.invalid/x")),
                  QUrl::fromLocalFile(filesDir.filePath(QStringLiteral("gone.nc")))}));
    QCOMPARE(logSince(markBefore).size(), 2);
    QCOMPARE(uploads.size(), 0);
    QVERIFY(fileButtonsEnabled(true));
    QCOMPARE(setting(QStringLiteral("lastUploadDir")), firstDir.path());
}

void tst_FileOperations::downloadOneFileWithSaveDialog()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(QDir(m_sim->rootDir()).mkpath(QStringLiteral("jobs")));
    const QByteArray bytes = payload(200 * 1024 + 3, 4);
    QVERIFY(writeFile(remote(QStringLiteral("jobs/part.nc")), bytes));
    QVERIFY(refreshList({QStringLiteral("jobs")}));
    QVERIFY(enterFolder(QStringLiteral("jobs"), {QStringLiteral(".."), QStringLiteral("part.nc")}));

    QTemporaryDir startDir;
    QTemporaryDir targetDir;
    setSetting(QStringLiteral("lastDownloadDir"), startDir.path());
    QSignalSpy downloads(m_window.get(), &mainwindow::sigDownloadFile);

    // ".." is not counted: one file means the save dialog.
    const int mark = logTexts().size();
    const QString localPath = targetDir.filePath(QStringLiteral("y.nc"));
    const QString remotePath = kRemoteRoot + QStringLiteral("jobs/part.nc");
    EnabledChangeRecorder recorder(*m_window);
    QVERIFY(selectRows({QStringLiteral(".."), QStringLiteral("part.nc")}));
    FileDialogView view;
    m_answer.onNext<QFileDialog>([&](QFileDialog *dialog) {
        view.take(dialog);
        chooseInFileDialog(dialog, localPath);
    });
    button("m_btnDownload")->click();
    QCOMPARE(view.title, QStringLiteral("Save file"));
    QCOMPARE(view.directory, startDir.path());
    QCOMPARE(view.proposedName, QStringLiteral("part.nc"));

    QCOMPARE(
        logSince(mark),
        QStringList{QStringLiteral("Requesting download %1 to %2...").arg(remotePath, localPath)});
    QCOMPARE(downloads.size(), 1);
    QCOMPARE(downloads.first(), QVariantList({remotePath, localPath}));
    QCOMPARE(setting(QStringLiteral("lastDownloadDir")), targetDir.path());
    QCOMPARE(recorder.changes, kDisableOrder);

    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 1, kJobTimeoutMs);
    QCOMPARE(readFile(localPath), bytes);
    QVERIFY(fileButtonsEnabled(true));

    QVERIFY(enterFolder(QStringLiteral(".."), {QStringLiteral("jobs")}));
}

void tst_FileOperations::downloadSeveralIntoDirectory()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    const QByteArray bytesA = payload(150 * 1024, 5);
    const QByteArray bytesB = payload(10, 6);
    QVERIFY(writeFile(remote(QStringLiteral("a.nc")), bytesA));
    QVERIFY(writeFile(remote(QStringLiteral("b c.nc")), bytesB));
    QVERIFY(QDir(m_sim->rootDir()).mkpath(QStringLiteral("sub")));
    QVERIFY(refreshList({QStringLiteral("a.nc"), QStringLiteral("b c.nc"), QStringLiteral("sub")}));

    QTemporaryDir startDir;
    QTemporaryDir targetDir;
    setSetting(QStringLiteral("lastDownloadDir"), startDir.path());
    // A file of the same name is already there, with a second name for its contents.
    const QByteArray oldBytes("the operator's own version\n");
    const QString existing = targetDir.filePath(QStringLiteral("a.nc"));
    const QString secondName = targetDir.filePath(QStringLiteral("a.keep"));
    QVERIFY(writeFile(existing, oldBytes));
    QCOMPARE(
        ::link(QFile::encodeName(existing).constData(), QFile::encodeName(secondName).constData()),
        0);
    QSignalSpy downloads(m_window.get(), &mainwindow::sigDownloadFile);
    const QStringList selection{QStringLiteral("sub"), QStringLiteral("a.nc"),
                                QStringLiteral("b c.nc")};
    const QString skipLine = QStringLiteral("Skipping folder: sub (only files can be downloaded)");

    int mark = logTexts().size();
    QVERIFY(selectRows(selection));
    FileDialogView view;
    m_answer.onNext<QFileDialog>([&](QFileDialog *dialog) {
        view.take(dialog);
        dialog->reject();
    });
    button("m_btnDownload")->click();
    QVERIFY(view.shown);
    QCOMPARE(view.title, QStringLiteral("Select download directory"));
    QCOMPARE(view.directory, startDir.path());
    QVERIFY(view.showDirsOnly);
    QCOMPARE(logSince(mark), QStringList({skipLine, QStringLiteral("Download cancelled.")}));
    QCOMPARE(setting(QStringLiteral("lastDownloadDir")), startDir.path());
    QCOMPARE(downloads.size(), 0);

    mark = logTexts().size();
    QVERIFY(selectRows(selection));
    m_answer.onNext<QFileDialog>(
        [&](QFileDialog *dialog) { chooseInFileDialog(dialog, targetDir.path()); });
    button("m_btnDownload")->click();

    QCOMPARE(logSince(mark),
             QStringList(
                 {skipLine,
                  QStringLiteral("Requesting download 2 files to %1...").arg(targetDir.path())}));
    QCOMPARE(setting(QStringLiteral("lastDownloadDir")), targetDir.path());
    QCOMPARE(downloads.size(), 2);
    QSet<QStringList> requested;
    for (const QVariantList &arguments : qAsConst(downloads))
        requested.insert({arguments.at(0).toString(), arguments.at(1).toString()});
    QCOMPARE(requested, QSet<QStringList>({{kRemoteRoot + QStringLiteral("a.nc"), existing},
                                           {kRemoteRoot + QStringLiteral("b c.nc"),
                                            targetDir.filePath(QStringLiteral("b c.nc"))}}));

    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 2, kJobTimeoutMs);
    QCOMPARE(readFile(existing), bytesA);
    QCOMPARE(readFile(targetDir.filePath(QStringLiteral("b c.nc"))), bytesB);
    // The old file was replaced, not written over: its second name still holds it whole.
    QCOMPARE(readFile(secondName), oldBytes);
    QVERIFY(fileButtonsEnabled(true));
}

// What the operator saw in the delete confirmation.
struct ConfirmationView
{
    bool shown = false;
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString yesText;
    QString cancelText;
    bool cancelIsDefault = false;
    QString styleSheet;

    void take(QMessageBox *box)
    {
        shown = true;
        title = box->windowTitle();
        text = box->text();
        informativeText = box->informativeText();
        icon = box->icon();
        yesText = box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->text() : QString();
        cancelText =
            box->button(QMessageBox::Cancel) ? box->button(QMessageBox::Cancel)->text() : QString();
        cancelIsDefault =
            box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Cancel);
        styleSheet = box->styleSheet();
    }
};

void tst_FileOperations::deleteAsksFirst()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(writeFile(remote(QStringLiteral("x.nc")), "G0 X0\n"));
    QVERIFY(QDir(m_sim->rootDir()).mkpath(QStringLiteral("empty")));
    QVERIFY(refreshList({QStringLiteral("x.nc"), QStringLiteral("empty")}));
    QSignalSpy deletes(m_window.get(), &mainwindow::sigDeleteRemotePath);

    // Enter alone picks Cancel: nothing is logged, requested or deleted.
    int mark = logTexts().size();
    QVERIFY(selectRows({QStringLiteral("x.nc")}));
    ConfirmationView one;
    m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
        one.take(box);
        QTest::keyClick(box, Qt::Key_Return);
    });
    button("m_btnDelete")->click();
    QVERIFY(one.shown);
    QCOMPARE(one.title, QStringLiteral("Confirm Delete"));
    QCOMPARE(one.text, QStringLiteral("Are you sure you want to delete \"x.nc\"?"));
    QCOMPARE(one.informativeText, QStringLiteral("This operation cannot be undone."));
    QCOMPARE(one.icon, QMessageBox::Warning);
    QCOMPARE(one.yesText, QStringLiteral("Delete"));
    QCOMPARE(one.cancelText, QStringLiteral("Cancel"));
    QVERIFY(one.cancelIsDefault);
    QVERIFY(one.styleSheet.contains(QStringLiteral("QMessageBox QPushButton[text='删除']")));
    QCOMPARE(logSince(mark), QStringList());
    QCOMPARE(deletes.size(), 0);
    QVERIFY(fileButtonsEnabled(true));
    QVERIFY(QFile::exists(remote(QStringLiteral("x.nc"))));

    // A file and an empty folder, both by SFTP.
    mark = logTexts().size();
    QVERIFY(selectRows({QStringLiteral("x.nc"), QStringLiteral("empty")}));
    EnabledChangeRecorder recorder(*m_window);
    ConfirmationView two;
    m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
        two.take(box);
        box->button(QMessageBox::Yes)->click();
    });
    button("m_btnDelete")->click();
    QCOMPARE(two.text, QStringLiteral("Are you sure you want to delete 2 selected items?"));
    QCOMPARE(logSince(mark), QStringList{"Requesting delete 2 items..."});
    QCOMPARE(deletes.size(), 2);
    // Folders are listed before files.
    QCOMPARE(deletes.at(0), QVariantList({kRemoteRoot + QStringLiteral("empty"), "dir"}));
    QCOMPARE(deletes.at(1), QVariantList({kRemoteRoot + QStringLiteral("x.nc"), "file"}));
    QCOMPARE(recorder.changes,
             QStringList({"m_btnDelete-", "m_btnUpload-", "m_btnDownload-", "m_btnNewFolder-"}));

    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 2, kJobTimeoutMs);
    QVERIFY(!QFile::exists(remote(QStringLiteral("x.nc"))));
    QVERIFY(!QFileInfo::exists(remote(QStringLiteral("empty"))));
    QTRY_VERIFY_WITH_TIMEOUT(!listedNames().contains(QStringLiteral("x.nc")), 10000);
}

void tst_FileOperations::deleteChineseFolderByShell()
{
    CNC_REQUIRE_SIM();
    setSetting(QStringLiteral("language"), QStringLiteral("zh"));
    QVERIFY(connectWindow());
    clearController();
    const QString folder = QStringLiteral("加工程序");
    QVERIFY(QDir(m_sim->rootDir()).mkpath(folder + QStringLiteral("/子目录")));
    QVERIFY(writeFile(remote(folder + QStringLiteral("/零件.nc")), "G1 X1\n"));
    // Listed while Chinese is shown, so the row's type is the Chinese folder text.
    QVERIFY(refreshList({folder}));
    QSignalSpy deletes(m_window.get(), &mainwindow::sigDeleteRemotePath);

    const int mark = logTexts().size();
    QVERIFY(selectRows({folder}));
    ConfirmationView view;
    m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
        view.take(box);
        box->button(QMessageBox::Yes)->click();
    });
    button("m_btnDelete")->click();

    QCOMPARE(view.title, QStringLiteral("确认删除"));
    QCOMPARE(view.text, QStringLiteral("您确定要删除 \"加工程序\" 吗？"));
    QCOMPARE(view.informativeText, QStringLiteral("此操作无法撤销。"));
    QCOMPARE(view.yesText, QStringLiteral("删除"));
    QCOMPARE(view.cancelText, QStringLiteral("取消"));
    QCOMPARE(logSince(mark).value(0), QStringLiteral("请求删除 1 个项目..."));
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first(), QVariantList({kRemoteRoot + folder, "dir"}));

    // The shell route reports task 1 at once; the marker tells the real outcome.
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains(QStringLiteral("SFTP任务 1 已成功完成。")),
                             kJobTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains(QStringLiteral("删除操作成功完成")),
                             kJobTimeoutMs);
    QVERIFY(!QFileInfo::exists(remote(folder)));
    QTRY_VERIFY_WITH_TIMEOUT(!listedNames().contains(folder) && fileButtonsEnabled(true), 10000);
}

// What the operator saw in the name dialog.
struct NameDialogView
{
    int shown = 0;
    QString title;
    QString label;
    QString initialText;

    void take(QInputDialog *dialog)
    {
        ++shown;
        title = dialog->windowTitle();
        label = dialog->labelText();
        initialText = dialog->textValue();
    }
};

void tst_FileOperations::newFolder()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(refreshList({}));
    QSignalSpy creates(m_window.get(), &mainwindow::sigCreateRemoteFolder);

    // Accepted unchanged: the default name.
    int mark = logTexts().size();
    EnabledChangeRecorder recorder(*m_window);
    NameDialogView view;
    m_answer.onNext<QInputDialog>([&](QInputDialog *dialog) {
        view.take(dialog);
        dialog->accept();
    });
    button("m_btnNewFolder")->click();
    QCOMPARE(view.title, QStringLiteral("New Folder"));
    QCOMPARE(view.label, QStringLiteral("Please enter folder name:"));
    QCOMPARE(view.initialText, QStringLiteral("New Folder"));
    const QString path = kRemoteRoot + QStringLiteral("New Folder");
    QCOMPARE(logSince(mark), QStringList{QStringLiteral("Creating folder: %1").arg(path)});
    QCOMPARE(creates.size(), 1);
    QCOMPARE(creates.first(), QVariantList{path});
    QCOMPARE(recorder.changes, kDisableOrder);
    QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 1, kJobTimeoutMs);
    QVERIFY(QFileInfo(remote(QStringLiteral("New Folder"))).isDir());
    QTRY_VERIFY_WITH_TIMEOUT(listedNames().contains(QStringLiteral("New Folder")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(button("m_btnRefresh")->isEnabled(), 10000);

    // A name with ":" is refused with the warning box, once, and nothing is logged.
    mark = logTexts().size();
    creates.clear();
    NameDialogView asked;
    QString warningTitle;
    QString warningText;
    QMessageBox::StandardButtons warningButtons;
    QMessageBox::Icon warningIcon = QMessageBox::NoIcon;
    m_answer.onNext<QInputDialog>([&](QInputDialog *dialog) {
        asked.take(dialog);
        m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
            warningTitle = box->windowTitle();
            warningText = box->text();
            warningButtons = box->standardButtons();
            warningIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        dialog->setTextValue(QStringLiteral("D:job"));
        dialog->accept();
    });
    button("m_btnNewFolder")->click();
    QCOMPARE(asked.shown, 1);
    QCOMPARE(warningTitle, QStringLiteral("Invalid folder name"));
    QCOMPARE(warningText, QStringLiteral("Folder name cannot contain the following characters: "
                                         "/ \\ * ? < > | \" :"));
    QCOMPARE(warningButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(warningIcon, QMessageBox::Warning);
    QCOMPARE(logSince(mark), QStringList());
    QCOMPARE(creates.size(), 0);
    QVERIFY(fileButtonsEnabled(true));

    // Cancelled, and accepted empty.
    m_answer.onNext<QInputDialog>([](QInputDialog *dialog) { dialog->reject(); });
    button("m_btnNewFolder")->click();
    m_answer.onNext<QInputDialog>([](QInputDialog *dialog) {
        dialog->setTextValue(QString());
        dialog->accept();
    });
    button("m_btnNewFolder")->click();
    QCOMPARE(logSince(mark), QStringList({"New folder cancelled.", "New folder cancelled."}));
    QCOMPARE(creates.size(), 0);
}

void tst_FileOperations::newFolderNamesKeptAsTyped()
{
    CNC_REQUIRE_SIM();
    setSetting(QStringLiteral("language"), QStringLiteral("zh"));
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(refreshList({}));
    QSignalSpy creates(m_window.get(), &mainwindow::sigCreateRemoteFolder);

    const auto create = [&](const QString &name, NameDialogView *view) {
        m_answer.onNext<QInputDialog>([=](QInputDialog *dialog) {
            view->take(dialog);
            dialog->setTextValue(name);
            dialog->accept();
        });
        button("m_btnNewFolder")->click();
    };

    // Chinese: the shell route, and its marker.
    int mark = logTexts().size();
    const QString chinese = QStringLiteral("零件 程序");
    NameDialogView view;
    create(chinese, &view);
    QCOMPARE(view.title, QStringLiteral("新建文件夹"));
    QCOMPARE(view.label, QStringLiteral("请输入文件夹名称:"));
    QCOMPARE(view.initialText, QStringLiteral("新建文件夹"));
    QCOMPARE(logSince(mark),
             QStringList{QStringLiteral("正在创建文件夹: %1").arg(kRemoteRoot + chinese)});
    QCOMPARE(creates.last(), QVariantList{kRemoteRoot + chinese});
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains(QStringLiteral("新建文件夹操作成功完成")),
                             kJobTimeoutMs);
    QVERIFY(QFileInfo(remote(chinese)).isDir());
    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(true) && button("m_btnRefresh")->isEnabled(),
                             10000);

    // Blanks around the name, and blanks only, are kept: the SFTP route.
    for (const QString &name : {QStringLiteral("  edge  "), QStringLiteral("   ")}) {
        mark = logTexts().size();
        create(name, &view);
        QCOMPARE(creates.last(), QVariantList{kRemoteRoot + name});
        QTRY_COMPARE_WITH_TIMEOUT(completionCount(mark), 1, kJobTimeoutMs);
        QVERIFY2(QFileInfo(remote(name)).isDir(), qPrintable(name));
        QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(true) && button("m_btnRefresh")->isEnabled(),
                                 10000);
    }

    // Decomposed accents leave the window as typed.
    const QString decomposed = QStringLiteral("Re\u0301sume\u0301 零件");
    create(decomposed, &view);
    QCOMPARE(creates.last(), QVariantList{kRemoteRoot + decomposed});
}

// A job that fails still gives the window back: the error text as it came, the buttons and
// their base labels, and a refresh 200 ms after each report.
void tst_FileOperations::failedJobGivesTheWindowBack()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    for (const QString &name : {QStringLiteral("full1"), QStringLiteral("full2")}) {
        QVERIFY(QDir(m_sim->rootDir()).mkpath(name));
        QVERIFY(writeFile(remote(name + QStringLiteral("/keep.nc")), "G0\n"));
    }
    QVERIFY(refreshList({QStringLiteral("full1"), QStringLiteral("full2")}));

    QObject receiver;
    QVector<QPair<QSsh::SftpJobId, QString>> reports;
    QElapsedTimer sinceReport;
    QVector<qint64> refreshDelays;
    connect(m_worker.data(), &CConnectionForSshClient::sftpJobFinished, &receiver,
            [&](QSsh::SftpJobId job, const QString &error) {
                reports.append({job, error});
                if (!sinceReport.isValid())
                    sinceReport.start();
            });
    connect(m_window.get(), &mainwindow::sigSend, &receiver, [&](const QString &command) {
        if (command.startsWith(QLatin1String("ls -la")) && sinceReport.isValid())
            refreshDelays.append(sinceReport.elapsed());
    });

    const int mark = logTexts().size();
    QVERIFY(selectRows({QStringLiteral("full1"), QStringLiteral("full2")}));
    QTRY_COMPARE(button("m_btnDelete")->text(), QStringLiteral("Delete 2 Items"));
    m_answer.onNext<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    button("m_btnDelete")->click();
    QVERIFY(!fileButtonsEnabled(true));

    // rmdir of a folder that holds files fails on the controller.
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 2, kJobTimeoutMs);
    for (const auto &report : qAsConst(reports)) {
        QVERIFY(!report.second.isEmpty());
        QVERIFY(logSince(mark).contains(
            QStringLiteral("SFTP task %1 failed: %2").arg(report.first).arg(report.second)));
    }
    QVERIFY(fileButtonsEnabled(true));
    QCOMPARE(button("m_btnDelete")->text(), QStringLiteral("Delete File"));
    QCOMPARE(button("m_btnDownload")->text(), QStringLiteral("Download File"));
    QTRY_VERIFY_WITH_TIMEOUT(!refreshDelays.isEmpty(), 5000);
    QVERIFY2(refreshDelays.first() >= 180, qPrintable(QString::number(refreshDelays.first())));
    QVERIFY(QFileInfo(remote(QStringLiteral("full1/keep.nc"))).isFile());
    QTRY_VERIFY_WITH_TIMEOUT(listedNames().contains(QStringLiteral("full1")) &&
                                 button("m_btnRefresh")->isEnabled(),
                             10000);
}

// Slows what the controller sends, the data of a download and the acknowledgements of an
// upload, so that a transfer is still under way when the cable is pulled.
bool tst_FileOperations::throttleController()
{
    return m_sim->exec({QStringLiteral("tc"), QStringLiteral("qdisc"), QStringLiteral("replace"),
                        QStringLiteral("dev"), QStringLiteral("eth0"), QStringLiteral("root"),
                        QStringLiteral("tbf"), QStringLiteral("rate"), QStringLiteral("2mbit"),
                        QStringLiteral("burst"), QStringLiteral("16kb"), QStringLiteral("latency"),
                        QStringLiteral("500ms")}) == 0;
}

bool tst_FileOperations::waitForReconnection(int mark)
{
    return QTest::qWaitFor(
        [&] {
            return !logSince(mark)
                        .filter(QStringLiteral("Connection to %1 has been restored.")
                                    .arg(m_sim->address()))
                        .isEmpty() &&
                   fileButtonsEnabled(true) && button("m_btnRefresh")->isEnabled();
        },
        90000);
}

// The cable is pulled once the upload has visibly begun: the controller keeps its old file.
void tst_FileOperations::interruptedUploadKeepsRemoteFile()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    const QByteArray good = payload(4096, 7);
    QVERIFY(writeFile(remote(QStringLiteral("big.bin")), good));
    QVERIFY(refreshList({QStringLiteral("big.bin")}));

    QTemporaryDir sourceDir;
    const QString localPath = sourceDir.filePath(QStringLiteral("big.bin"));
    QVERIFY(writeFile(localPath, payload(kBigSize, 8)));
    QVERIFY(throttleController());

    const int mark = logTexts().size();
    QVERIFY(sendDrop({QUrl::fromLocalFile(localPath)}));
    QVERIFY2(QTest::qWaitFor([&] { return bytesBeside(m_sim->rootDir(), "big.bin") > 0; }, 20000),
             "the upload did not begin");
    QVERIFY(m_sim->linkDown());
    m_linkDown = true;
    const bool begunOnly = bytesBeside(m_sim->rootDir(), "big.bin") < kBigSize;

    QTRY_VERIFY_WITH_TIMEOUT(!logSince(mark).filter(kFailedLine).isEmpty(), 90000);
    QCOMPARE(readFile(remote(QStringLiteral("big.bin"))), good);
    QVERIFY2(begunOnly, "the upload was complete before the cable was pulled");
}

// The cable is pulled once the download has visibly begun: the local file stays whole.
void tst_FileOperations::interruptedDownloadKeepsLocalFile()
{
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
    QVERIFY(writeFile(remote(QStringLiteral("big.bin")), payload(kBigSize, 9)));
    QVERIFY(refreshList({QStringLiteral("big.bin")}));

    QTemporaryDir targetDir;
    const QString localPath = targetDir.filePath(QStringLiteral("big.bin"));
    const QByteArray good = payload(4096, 10);
    QVERIFY(writeFile(localPath, good));
    setSetting(QStringLiteral("lastDownloadDir"), targetDir.path());
    QVERIFY(throttleController());

    const int mark = logTexts().size();
    const qint64 writtenBefore = bytesWrittenByThisProcess();
    QVERIFY(selectRows({QStringLiteral("big.bin")}));
    bool replaceAsked = false;
    m_answer.onNext<QFileDialog>([&](QFileDialog *dialog) {
        // The save dialog asks before it lets an existing file be chosen.
        m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
            replaceAsked = true;
            box->button(QMessageBox::Yes)->click();
        });
        chooseInFileDialog(dialog, localPath);
    });
    button("m_btnDownload")->click();
    QVERIFY(replaceAsked);
    QCOMPARE(logSince(mark),
             QStringList{QStringLiteral("Requesting download %1 to %2...")
                             .arg(kRemoteRoot + QStringLiteral("big.bin"), localPath)});

    QVERIFY2(QTest::qWaitFor(
                 [&] { return bytesWrittenByThisProcess() - writtenBefore > 512 * 1024; }, 20000),
             "the download did not begin");
    QVERIFY(m_sim->linkDown());
    m_linkDown = true;
    QCOMPARE(readFile(localPath), good);

    QTRY_VERIFY_WITH_TIMEOUT(!logSince(mark).filter(kFailedLine).isEmpty(), 90000);
    QCOMPARE(readFile(localPath), good);
}

QTEST_MAIN(tst_FileOperations)
#include "tst_fileoperations.moc"
