// Upload, download, delete and new folder through the main window, end to end against a
// simulated controller, with the dialogs answered as an operator would.

#include "CConnectionForSshClient.h"
#include "DropEvents.h"
#include "SimController.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>

#include <unistd.h>

using namespace WindowTestSupport;

namespace {

const QString kRoot = QStringLiteral("/home/pi/cnc/");
constexpr int kJobTimeoutMs = 30000;
// Large enough to be still on its way when Cancel is pressed.
constexpr int kBigSize = 32 * 1024 * 1024;
const QStringList kFileButtons{"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"};
const QStringList kDisableOrder{"m_btnUpload-", "m_btnDownload-", "m_btnNewFolder-",
                                "m_btnDelete-"};
// Entries that a path built from the text shown, trimmed or composed, would miss or mistake.
const QString kLead = QStringLiteral(" lead.nc");
const QString kDecomposed = QStringLiteral("cafe\u0301.nc");
const QString kComposed = QStringLiteral("caf\u00e9.nc");
const QString kLinkRow = QStringLiteral("link.nc -> target.nc");

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

// Answers the next modal dialog of type Dialog from inside its event loop; act must close it
// and only record what it saw, which the test checks once the dialog's caller has returned.
class ModalAnswerer : public QObject
{
public:
    template <typename Dialog> void onNext(std::function<void(Dialog *)> act)
    {
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [timer, act] {
            if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
                timer->stop();
                timer->deleteLater();
                act(dialog);
            }
        });
        timer->start(10);
    }
    // Forgets answers that found no dialog, so that they cannot answer a later test's.
    void reset() { qDeleteAll(findChildren<QTimer *>()); }
};

void chooseInFileDialog(QFileDialog *dialog, const QString &path)
{
    dialog->findChild<QLineEdit *>("fileNameEdit")->setText(path);
    static_cast<QDialog *>(dialog)->accept(); // checks the typed path as Enter would
}

// What the operator saw in a dialog.
struct DialogView
{
    QString title;
    QString text;      // box text, input label, or the file dialog's start directory
    QString secondary; // informative text, initial input, or the proposed file name
    QStringList buttons;
    bool flag = false; // Cancel is the default button, or the directory dialog shows dirs only

    void take(QFileDialog *dialog)
    {
        title = dialog->windowTitle();
        text = dialog->directory().absolutePath();
        secondary = dialog->findChild<QLineEdit *>("fileNameEdit")->text();
        flag = dialog->testOption(QFileDialog::ShowDirsOnly);
    }
    void take(QMessageBox *box)
    {
        title = box->windowTitle();
        text = box->text();
        secondary = box->informativeText();
        for (QAbstractButton *button : box->buttons())
            buttons << button->text();
        buttons.sort();
        flag = box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Cancel);
    }
    void take(QInputDialog *dialog)
    {
        title = dialog->windowTitle();
        text = dialog->labelText();
        secondary = dialog->textValue();
    }
};

// Records the order in which the four file operation buttons change their enabled state.
class EnabledChangeRecorder : public QObject
{
public:
    explicit EnabledChangeRecorder(const QWidget &window)
    {
        for (const QString &name : kFileButtons)
            window.findChild<QPushButton *>(name)->installEventFilter(this);
    }
    QStringList changes;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            changes << watched->objectName() +
                           (static_cast<QWidget *>(watched)->isEnabled() ? '+' : '-');
        return false;
    }
};

} // namespace

class tst_FileOperations : public QObject
{
    Q_OBJECT
private slots:
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
    void listedEntryIsTheOneTransferredOrDeleted();
    void newFolder();
    void failedJobsGiveTheWindowBack();
    void progressLineAndCancel();
    void renameRefusesNamesInUse();

private:
    bool connectWindow();
    bool refreshList(const QStringList &expected);
    bool enterFolder(const QString &name, const QStringList &expected);
    bool selectRows(const QStringList &names);
    bool sendDrop(const QList<QUrl> &urls);
    bool throttleController(const char *rate);
    void answerFileDialog(const QString &choice, DialogView *view = nullptr);
    void answerBox(QMessageBox::StandardButton choice, DialogView *view = nullptr);
    QStringList listedNames() const;
    bool listed(const QStringList &expected) const;
    QStringList logSince(int mark) const;
    int logSize() const { return logTexts(*m_window).size(); }
    int completions(int mark) const;
    QPushButton *button(const QString &name) const
    {
        return m_window->findChild<QPushButton *>(name);
    }
    bool fileButtonsEnabled() const;
    QString remote(const QString &name) const { return m_sim->rootDir() + '/' + name; }
    bool mkdir(const QString &path) const { return QDir(m_sim->rootDir()).mkpath(path); }
    void clearController();

    std::unique_ptr<SimController> m_sim;
    QPointer<CConnectionForSshClient> m_worker;
    std::unique_ptr<mainwindow> m_window;
    ModalAnswerer m_answer;
};

// Every test but the first runs in the connected window, on an empty controller folder.
void tst_FileOperations::init()
{
    setSetting("language", "en");
    if (QTest::currentTestFunction() == QLatin1String("notReadyRefusesEveryOperation"))
        return;
    CNC_REQUIRE_SIM();
    QVERIFY(connectWindow());
    clearController();
}

void tst_FileOperations::cleanup()
{
    m_answer.reset();
    if (!m_window)
        return;
    throttleController(nullptr);
    // A test that failed half way may have left the window in a subfolder.
    for (int depth = 0; depth < 5 && listedNames().contains(".."); ++depth)
        enterFolder("..", {});
    // Let the refreshes that follow the last reports and markers (200 and 500 ms) run out.
    QTest::qWait(600);
    QTRY_VERIFY_WITH_TIMEOUT(button("m_btnRefresh")->isEnabled(), 10000);
}

void tst_FileOperations::cleanupTestCase()
{
    m_window.reset();
    // The window asked the worker's thread to quit; the worker then deletes itself.
    QTRY_VERIFY_WITH_TIMEOUT(m_worker.isNull(), 20000);
    m_sim.reset();
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
    m_worker =
        new CConnectionForSshClient(m_sim->address(), 22, SimController::rootPassword(), "root");
    // The report comes from the worker's thread; the context object queues it to this one.
    QObject context;
    int up = -1;
    connect(m_worker, &CConnectionForSshClient::sigConnectStateChanged, &context,
            [&](bool state) { up = state; });
    m_worker->m_bAutoReconnect = true;
    m_worker->init();
    if (!QTest::qWaitFor([&] { return up != -1; }, 20000) || up != 1)
        return false;

    m_window = std::make_unique<mainwindow>(m_worker);
    m_window->show();
    // The first listing follows the channel's ready report by three seconds.
    return QTest::qWaitFor(
        [&] {
            return logTexts(*m_window).contains("Refreshing remote directory: " + kRoot) &&
                   button("m_btnRefresh")->isEnabled() && fileButtonsEnabled();
        },
        30000);
}

bool tst_FileOperations::fileButtonsEnabled() const
{
    return std::all_of(kFileButtons.cbegin(), kFileButtons.cend(),
                       [this](const QString &name) { return button(name)->isEnabled(); });
}

QStringList tst_FileOperations::logSince(int mark) const
{
    // Listings are left out: delayed refreshes may come at any time.
    static const QRegularExpression listing("^(Refreshing remote directory|正在刷新远程目录): ");
    QStringList lines = logTexts(*m_window).mid(mark);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString &line) { return listing.match(line).hasMatch(); }),
                lines.end());
    return lines;
}

int tst_FileOperations::completions(int mark) const
{
    static const QRegularExpression completed(
        "^(SFTP task \\d+ completed successfully\\.|SFTP任务 \\d+ 已成功完成。)$");
    return logSince(mark).filter(completed).size();
}

QStringList tst_FileOperations::listedNames() const
{
    QStringList names;
    const auto *model = m_window->findChild<QStandardItemModel *>("m_model");
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->item(row, 0)->text();
    return names;
}

bool tst_FileOperations::listed(const QStringList &expected) const
{
    const QStringList names = listedNames();
    return std::all_of(expected.cbegin(), expected.cend(),
                       [&](const QString &name) { return names.contains(name); });
}

// Lists the current folder again and waits until it shows every expected name.
bool tst_FileOperations::refreshList(const QStringList &expected)
{
    QPushButton *refresh = button("m_btnRefresh");
    if (!QTest::qWaitFor([&] { return refresh->isEnabled(); }, 10000))
        return false;
    refresh->click();
    return QTest::qWaitFor([&] { return refresh->isEnabled() && listed(expected); }, 10000);
}

// Double-clicks the row of name and waits for the listing of the folder it leads to.
bool tst_FileOperations::enterFolder(const QString &name, const QStringList &expected)
{
    const auto rows = m_window->findChild<QStandardItemModel *>("m_model")->findItems(name);
    if (rows.isEmpty())
        return false;
    const int mark = logSize();
    QMetaObject::invokeMethod(m_window.get(), "onRemoteDoubleClicked",
                              Q_ARG(QModelIndex, rows.first()->index()));
    return QTest::qWaitFor(
        [&] {
            return logTexts(*m_window).size() > mark && button("m_btnRefresh")->isEnabled() &&
                   listed(expected);
        },
        10000);
}

bool tst_FileOperations::selectRows(const QStringList &names)
{
    auto *selection = m_window->findChild<QTreeView *>("m_treeView")->selectionModel();
    const auto *model = m_window->findChild<QStandardItemModel *>("m_model");
    selection->clearSelection();
    int selected = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (names.contains(model->item(row, 0)->text())) {
            selection->select(model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
            ++selected;
        }
    }
    return selected == names.size();
}

bool tst_FileOperations::sendDrop(const QList<QUrl> &urls)
{
    return dropUrls(m_window.get(), urls);
}

// Slows what the controller sends, the data of a download and the acknowledgements of an
// upload, so that a transfer is still under way when Cancel is pressed.
bool tst_FileOperations::throttleController(const char *rate)
{
    const QStringList command =
        rate ? QStringList{"tc",   "qdisc", "replace", "dev",  "eth0",    "root", "tbf",
                           "rate", rate,    "burst",   "16kb", "latency", "500ms"}
             : QStringList{"tc", "qdisc", "del", "dev", "eth0", "root"};
    return m_sim->exec(command) == 0;
}

// Records the next file dialog and chooses the path typed in, or cancels for an empty one.
void tst_FileOperations::answerFileDialog(const QString &choice, DialogView *view)
{
    m_answer.onNext<QFileDialog>([choice, view](QFileDialog *dialog) {
        if (view)
            view->take(dialog);
        if (choice.isEmpty())
            dialog->reject();
        else
            chooseInFileDialog(dialog, choice);
    });
}

void tst_FileOperations::answerBox(QMessageBox::StandardButton choice, DialogView *view)
{
    m_answer.onNext<QMessageBox>([choice, view](QMessageBox *box) {
        if (view)
            view->take(box);
        box->button(choice)->click();
    });
}

void tst_FileOperations::clearController()
{
    const QFileInfoList entries =
        QDir(m_sim->rootDir())
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

void tst_FileOperations::notReadyRefusesEveryOperation_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("en") << "en"
                        << QStringList{"Error: SFTP not ready, unable to upload.",
                                       "Error: SFTP not ready, unable to download.",
                                       "Error: SFTP not ready, unable to delete.",
                                       "Error: SFTP not ready, unable to create folder.",
                                       "Error: SFTP not ready, unable to upload."};
    QTest::newRow("zh") << "zh"
                        << QStringList{"错误: SFTP尚未准备就绪，无法上传。",
                                       "错误: SFTP尚未准备就绪，无法下载。",
                                       "错误: SFTP尚未准备就绪，无法删除。",
                                       "错误: SFTP尚未准备就绪，无法创建文件夹。",
                                       "错误: SFTP尚未准备就绪，无法上传。"};
}

// Without a channel nothing is asked or requested, and a drag is refused.
void tst_FileOperations::notReadyRefusesEveryOperation()
{
    QFETCH(QString, language);
    QFETCH(QStringList, lines);
    setSetting("language", language);
    setSetting("lastUploadDir", "/nonexistent/up");
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
    // Qt delivers no drop after a refused drag enter, but the state may change in between.
    QDropEvent drop(QPoint(5, 5), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    window.dropEvent(&drop);
    QVERIFY(!drop.isAccepted());

    QVERIFY(!dialogShown);
    QCOMPARE(logTexts(window).mid(1), lines); // after the complaint about the missing worker
    QCOMPARE(uploads.size() + downloads.size() + deletes.size() + creates.size(), 0);
    QCOMPARE(setting("lastUploadDir"), QStringLiteral("/nonexistent/up"));
}

void tst_FileOperations::uploadByDialog()
{
    QTemporaryDir startDir;
    QTemporaryDir sourceDir;
    setSetting("lastUploadDir", startDir.path());
    const QString localPath = sourceDir.filePath("part one.nc");
    const QByteArray bytes = payload(300 * 1024 + 7, 1);
    QVERIFY(writeFile(localPath, bytes));
    QSignalSpy uploads(m_window.get(), &mainwindow::sigUploadFile);

    // Cancelled: the line, and nothing else changes.
    int mark = logSize();
    DialogView view;
    answerFileDialog(QString(), &view);
    button("m_btnUpload")->click();
    QCOMPARE(view.title, QStringLiteral("Select file to upload"));
    QCOMPARE(view.text, startDir.path());
    QCOMPARE(logSince(mark), QStringList{"Upload cancelled."});
    QCOMPARE(setting("lastUploadDir"), startDir.path());
    QVERIFY(uploads.isEmpty() && fileButtonsEnabled());

    mark = logSize();
    EnabledChangeRecorder recorder(*m_window);
    answerFileDialog(localPath);
    button("m_btnUpload")->click();
    const QString remotePath = kRoot + "part one.nc";
    QCOMPARE(uploads, (QList<QVariantList>{{localPath, remotePath}}));
    QCOMPARE(logSince(mark),
             QStringList{"Requesting upload " + localPath + " to " + remotePath + "..."});
    QCOMPARE(setting("lastUploadDir"), sourceDir.path());
    QCOMPARE(recorder.changes, kDisableOrder);
    QVERIFY(button("m_btnRefresh")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 1, kJobTimeoutMs);
    QCOMPARE(readFile(remote("part one.nc")), bytes);
    QCOMPARE(recorder.changes.mid(4),
             QStringList({"m_btnUpload+", "m_btnDownload+", "m_btnNewFolder+", "m_btnDelete+"}));
    QTRY_VERIFY_WITH_TIMEOUT(listed({"part one.nc"}), 10000);
}

void tst_FileOperations::uploadByDrop()
{
    // The first dropped item is a folder, in another place than the files.
    QTemporaryDir firstDir;
    QTemporaryDir filesDir;
    QVERIFY(QDir(firstDir.path()).mkdir("drawings"));
    const QString folder = firstDir.filePath("drawings");
    const QString fileA = filesDir.filePath("a.nc");
    const QString fileB = filesDir.filePath("零件 b.nc");
    const QByteArray bytesA = payload(64 * 1024, 2);
    QVERIFY(writeFile(fileA, bytesA));
    QVERIFY(writeFile(fileB, "\r\n"));
    setSetting("lastUploadDir", "/nonexistent/before");
    QSignalSpy uploads(m_window.get(), &mainwindow::sigUploadFile);
    EnabledChangeRecorder recorder(*m_window);

    int mark = logSize();
    QVERIFY(sendDrop({QUrl::fromLocalFile(folder), QUrl::fromLocalFile(fileA),
                      QUrl("https://example.invalid/c.nc"), QUrl::fromLocalFile(fileB)}));
    const QString remoteA = kRoot + "a.nc";
    const QString remoteB = kRoot + "零件 b.nc";
    QCOMPARE(logSince(mark),
             QStringList({"Skip folder: " + folder + " (only file upload is supported)",
                          "Drag and drop upload " + fileA + " to " + remoteA + "...",
                          "Drag and drop upload " + fileB + " to " + remoteB + "..."}));
    QCOMPARE(uploads, QList<QVariantList>({{fileA, remoteA}, {fileB, remoteB}}));
    QCOMPARE(recorder.changes, kDisableOrder);
    QCOMPARE(setting("lastUploadDir"), firstDir.path());

    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 2, kJobTimeoutMs);
    QCOMPARE(readFile(remote("a.nc")), bytesA);
    QCOMPARE(readFile(remote("零件 b.nc")), QByteArray("\r\n"));
    QVERIFY(fileButtonsEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(listed({"a.nc", "零件 b.nc"}), 10000);

    // Nothing to upload: skip lines for the folder and the missing file, none for the link;
    // the drop is still taken, and the buttons and the start folder stay as they are.
    mark = logSize();
    uploads.clear();
    QVERIFY(sendDrop({QUrl::fromLocalFile(folder), QUrl("https://example.invalid/x"),
                      QUrl::fromLocalFile(filesDir.filePath("gone.nc"))}));
    QCOMPARE(logSince(mark).size(), 2);
    QVERIFY(uploads.isEmpty() && fileButtonsEnabled());
    QCOMPARE(setting("lastUploadDir"), firstDir.path());
}

void tst_FileOperations::downloadOneFileWithSaveDialog()
{
    const QByteArray bytes = payload(200 * 1024 + 3, 4);
    QVERIFY(mkdir("jobs") && writeFile(remote("jobs/part.nc"), bytes));
    QVERIFY(refreshList({"jobs"}));
    QVERIFY(enterFolder("jobs", {"..", "part.nc"}));
    QTemporaryDir startDir;
    QTemporaryDir targetDir;
    setSetting("lastDownloadDir", startDir.path());
    QSignalSpy downloads(m_window.get(), &mainwindow::sigDownloadFile);
    EnabledChangeRecorder recorder(*m_window);

    // ".." is not counted: one file means the save dialog.
    const int mark = logSize();
    const QString localPath = targetDir.filePath("y.nc");
    QVERIFY(selectRows({"..", "part.nc"}));
    DialogView view;
    answerFileDialog(localPath, &view);
    button("m_btnDownload")->click();
    QCOMPARE(view.title, QStringLiteral("Save file"));
    QCOMPARE(view.text, startDir.path());
    QCOMPARE(view.secondary, QStringLiteral("part.nc"));
    const QString remotePath = kRoot + "jobs/part.nc";
    QCOMPARE(logSince(mark),
             QStringList{"Requesting download " + remotePath + " to " + localPath + "..."});
    QCOMPARE(downloads, (QList<QVariantList>{{remotePath, localPath}}));
    QCOMPARE(setting("lastDownloadDir"), targetDir.path());
    QCOMPARE(recorder.changes, kDisableOrder);

    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 1, kJobTimeoutMs);
    QCOMPARE(readFile(localPath), bytes);
    QVERIFY(enterFolder("..", {"jobs"}));
}

void tst_FileOperations::downloadSeveralIntoDirectory()
{
    const QByteArray bytesA = payload(150 * 1024, 5);
    QVERIFY(writeFile(remote("a.nc"), bytesA) && writeFile(remote("b c.nc"), "G0\n"));
    // One local file on a FAT stick, which ignores letter case. Older, so listed after a.nc.
    QVERIFY(writeFile(remote("A.NC"), "the other program\n"));
    QFile older(remote("A.NC"));
    QVERIFY(older.open(QIODevice::ReadWrite) &&
            older.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(8, 0)),
                              QFileDevice::FileModificationTime));
    QVERIFY(mkdir("sub"));
    QVERIFY(refreshList({"a.nc", "A.NC", "b c.nc", "sub"}));
    QTemporaryDir startDir;
    QTemporaryDir targetDir;
    setSetting("lastDownloadDir", startDir.path());
    // A file of the same name is already there, with a second name for its contents.
    const QString existing = targetDir.filePath("a.nc");
    QVERIFY(writeFile(existing, "the operator's own version\n"));
    QCOMPARE(::link(QFile::encodeName(existing).constData(),
                    QFile::encodeName(targetDir.filePath("a.keep")).constData()),
             0);
    QSignalSpy downloads(m_window.get(), &mainwindow::sigDownloadFile);
    const QString skipLine = "Skipping folder: sub (only files can be downloaded)";

    int mark = logSize();
    QVERIFY(selectRows({"sub", "a.nc", "b c.nc"}));
    DialogView view;
    answerFileDialog(QString(), &view);
    button("m_btnDownload")->click();
    QCOMPARE(view.title, QStringLiteral("Select download directory"));
    QCOMPARE(view.text, startDir.path());
    QVERIFY(view.flag); // directories only
    QCOMPARE(logSince(mark), QStringList({skipLine, "Download cancelled."}));
    QCOMPARE(setting("lastDownloadDir"), startDir.path());
    QVERIFY(downloads.isEmpty());

    mark = logSize();
    QVERIFY(selectRows({"sub", "a.nc", "A.NC", "b c.nc"}));
    answerFileDialog(targetDir.path());
    button("m_btnDownload")->click();
    QCOMPARE(
        logSince(mark),
        QStringList({skipLine, "Skipping A.NC: it would be saved as the same local file as a.nc.",
                     "Requesting download 2 files to " + targetDir.path() + "..."}));
    QCOMPARE(setting("lastDownloadDir"), targetDir.path());
    QCOMPARE(downloads.size(), 2);
    QVERIFY(downloads.contains({kRoot + "a.nc", existing}));
    QVERIFY(downloads.contains({kRoot + "b c.nc", targetDir.filePath("b c.nc")}));

    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 2, kJobTimeoutMs);
    QCOMPARE(readFile(existing), bytesA);
    QCOMPARE(readFile(targetDir.filePath("b c.nc")), QByteArray("G0\n"));
    // The old file was replaced, not written over: its second name still holds it whole.
    QCOMPARE(readFile(targetDir.filePath("a.keep")), QByteArray("the operator's own version\n"));
}

void tst_FileOperations::deleteAsksFirst()
{
    const QString folder = "加工程序";
    QVERIFY(writeFile(remote("x.nc"), "G0 X0\n") && mkdir("empty"));
    QVERIFY(mkdir(folder + "/子目录") && writeFile(remote(folder + "/零件.nc"), "G1 X1\n"));
    QVERIFY(refreshList({"x.nc", "empty", folder}));
    QSignalSpy deletes(m_window.get(), &mainwindow::sigDeleteRemotePath);

    // Enter alone picks Cancel: nothing is logged, requested or deleted.
    int mark = logSize();
    QVERIFY(selectRows({"x.nc"}));
    DialogView view;
    QString styleSheet;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    m_answer.onNext<QMessageBox>([&](QMessageBox *box) {
        view.take(box);
        styleSheet = box->styleSheet();
        icon = box->icon();
        QTest::keyClick(box, Qt::Key_Return);
    });
    button("m_btnDelete")->click();
    QCOMPARE(view.title, QStringLiteral("Confirm Delete"));
    QCOMPARE(view.text, QStringLiteral("Are you sure you want to delete \"x.nc\"?"));
    QCOMPARE(view.secondary, QStringLiteral("This operation cannot be undone."));
    QCOMPARE(view.buttons, QStringList({"Cancel", "Delete"}));
    QVERIFY(view.flag); // Cancel is the default
    QCOMPARE(icon, QMessageBox::Warning);
    QVERIFY(
        styleSheet.contains("QMessageBox QPushButton[text='删除'] { background-color: #dc3545; }"));
    QVERIFY(logSince(mark).isEmpty() && deletes.isEmpty() && fileButtonsEnabled());
    QVERIFY(QFile::exists(remote("x.nc")));

    // A file and an empty folder, both by SFTP, folders listed before files.
    mark = logSize();
    QVERIFY(selectRows({"x.nc", "empty"}));
    EnabledChangeRecorder recorder(*m_window);
    answerBox(QMessageBox::Yes, &view);
    button("m_btnDelete")->click();
    QCOMPARE(view.text, QStringLiteral("Are you sure you want to delete 2 selected items?"));
    QCOMPARE(logSince(mark), QStringList{"Requesting delete 2 items..."});
    QCOMPARE(deletes, QList<QVariantList>({{kRoot + "empty", "dir"}, {kRoot + "x.nc", "file"}}));
    QCOMPARE(recorder.changes,
             QStringList({"m_btnDelete-", "m_btnUpload-", "m_btnDownload-", "m_btnNewFolder-"}));
    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 2, kJobTimeoutMs);
    QVERIFY(!QFileInfo::exists(remote("x.nc")) && !QFileInfo::exists(remote("empty")));
    QTRY_VERIFY_WITH_TIMEOUT(!listedNames().contains("x.nc") && fileButtonsEnabled(), 10000);

    // A folder named in Chinese, not empty, goes the shell route.
    setSetting("language", "zh");
    QVERIFY(refreshList({folder}));
    mark = logSize();
    deletes.clear();
    QVERIFY(selectRows({folder}));
    view = DialogView();
    answerBox(QMessageBox::Yes, &view);
    button("m_btnDelete")->click();
    QCOMPARE(view.title, QStringLiteral("确认删除"));
    QCOMPARE(view.text, QStringLiteral("您确定要删除 \"加工程序\" 吗？"));
    QCOMPARE(view.secondary, QStringLiteral("此操作无法撤销。"));
    QCOMPARE(view.buttons, QStringList({"删除", "取消"}));
    QCOMPARE(logSince(mark).value(0), QStringLiteral("请求删除 1 个项目..."));
    QCOMPARE(deletes, (QList<QVariantList>{{kRoot + folder, "dir"}}));
    // The shell route reports task 1 at once; the marker tells the real outcome.
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains("SFTP任务 1 已成功完成。"), kJobTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains("删除操作成功完成"), kJobTimeoutMs);
    QVERIFY(!QFileInfo::exists(remote(folder)));
    QTRY_VERIFY_WITH_TIMEOUT(!listedNames().contains(folder) && fileButtonsEnabled(), 10000);
}

// Beside each entry of a lookalike name lies the entry that name could be mistaken for.
void tst_FileOperations::listedEntryIsTheOneTransferredOrDeleted()
{
    for (const QString &name : {kLead, QStringLiteral("lead.nc"), kDecomposed, kComposed})
        QVERIFY(writeFile(remote(name), name.toUtf8()));
    QVERIFY(writeFile(remote("target.nc"), "G0 target\n"));
    QCOMPARE(::symlink("target.nc", QFile::encodeName(remote("link.nc")).constData()), 0);
    QVERIFY(refreshList({kLead, "lead.nc", kDecomposed, kComposed, kLinkRow}));
    QTemporaryDir targetDir;

    int mark = logSize();
    QVERIFY(selectRows({kLead, kLinkRow}));
    answerFileDialog(targetDir.path());
    button("m_btnDownload")->click();
    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 2, kJobTimeoutMs);
    QCOMPARE(readFile(targetDir.filePath(kLead)), kLead.toUtf8());
    // A link gives what it points to, under its own name.
    QCOMPARE(readFile(targetDir.filePath("link.nc")), QByteArray("G0 target\n"));

    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(), 10000);
    QSignalSpy deletes(m_window.get(), &mainwindow::sigDeleteRemotePath);
    mark = logSize();
    QVERIFY(selectRows({kLead, kLinkRow, kDecomposed}));
    answerBox(QMessageBox::Yes);
    button("m_btnDelete")->click();
    QCOMPARE(deletes.size(), 3);
    for (const QString &name : {kLead, QStringLiteral("link.nc"), kDecomposed})
        QVERIFY2(deletes.contains({kRoot + name, "file"}), qPrintable(name));
    // Two SFTP jobs, and the shell route for the accent with its marker.
    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 3, kJobTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains("Delete operation completed successfully"),
                             kJobTimeoutMs);
    // The link went, not what it points to; the lookalikes stayed.
    const QStringList left =
        QDir(m_sim->rootDir()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QCOMPARE(QSet<QString>(left.cbegin(), left.cend()),
             (QSet<QString>{"lead.nc", kComposed, "target.nc"}));
}

void tst_FileOperations::newFolder()
{
    QVERIFY(refreshList({}));
    QSignalSpy creates(m_window.get(), &mainwindow::sigCreateRemoteFolder);
    DialogView view;
    const auto create = [&](const QString &name) {
        m_answer.onNext<QInputDialog>([&view, name](QInputDialog *dialog) {
            view.take(dialog);
            if (!name.isNull())
                dialog->setTextValue(name);
            dialog->accept();
        });
        button("m_btnNewFolder")->click();
    };

    // Accepted unchanged: the default name.
    int mark = logSize();
    EnabledChangeRecorder recorder(*m_window);
    create(QString());
    QCOMPARE(view.title, QStringLiteral("New Folder"));
    QCOMPARE(view.text, QStringLiteral("Please enter folder name:"));
    QCOMPARE(view.secondary, QStringLiteral("New Folder"));
    QCOMPARE(logSince(mark), QStringList{"Creating folder: " + kRoot + "New Folder"});
    QCOMPARE(creates, (QList<QVariantList>{{kRoot + "New Folder"}}));
    QCOMPARE(recorder.changes, kDisableOrder);
    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 1, kJobTimeoutMs);
    QVERIFY(QFileInfo(remote("New Folder")).isDir());
    QTRY_VERIFY_WITH_TIMEOUT(listed({"New Folder"}) && button("m_btnRefresh")->isEnabled(), 10000);

    // A name with ":" is refused with the warning box, once, and nothing is logged.
    mark = logSize();
    creates.clear();
    int asked = 0;
    DialogView warning;
    m_answer.onNext<QInputDialog>([&](QInputDialog *dialog) {
        ++asked;
        answerBox(QMessageBox::Ok, &warning);
        dialog->setTextValue("D:job");
        dialog->accept();
    });
    button("m_btnNewFolder")->click();
    QCOMPARE(asked, 1);
    QCOMPARE(warning.title, QStringLiteral("Invalid folder name"));
    QCOMPARE(warning.text, QStringLiteral("Folder name cannot contain the following characters: "
                                          "/ \\ * ? < > | \" :"));
    QCOMPARE(warning.buttons, QStringList{"OK"});
    QVERIFY(logSince(mark).isEmpty() && creates.isEmpty() && fileButtonsEnabled());

    // Cancelled, and accepted empty.
    m_answer.onNext<QInputDialog>([](QInputDialog *dialog) { dialog->reject(); });
    button("m_btnNewFolder")->click();
    create("");
    QCOMPARE(logSince(mark), QStringList({"New folder cancelled.", "New folder cancelled."}));
    QVERIFY(creates.isEmpty());

    // Chinese goes the shell route, and its marker follows.
    setSetting("language", "zh");
    mark = logSize();
    create("零件 程序");
    QCOMPARE(view.title, QStringLiteral("新建文件夹"));
    QCOMPARE(view.text, QStringLiteral("请输入文件夹名称:"));
    QCOMPARE(view.secondary, QStringLiteral("新建文件夹"));
    QCOMPARE(logSince(mark), QStringList{"正在创建文件夹: " + kRoot + "零件 程序"});
    QTRY_VERIFY_WITH_TIMEOUT(logSince(mark).contains("新建文件夹操作成功完成"), kJobTimeoutMs);
    QVERIFY(QFileInfo(remote("零件 程序")).isDir());

    // Blanks around a name, and a name of blanks only, are kept.
    for (const QString &name : {QStringLiteral("  edge  "), QStringLiteral("   ")}) {
        QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(), 10000);
        mark = logSize();
        create(name);
        QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 1, kJobTimeoutMs);
        QVERIFY2(QFileInfo(remote(name)).isDir(), qPrintable(name));
    }
    // Decomposed accents leave the window as typed.
    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(), 10000);
    create("Re\u0301sume\u0301");
    QCOMPARE(creates.last(), QVariantList{kRoot + "Re\u0301sume\u0301"});
}

// Failed jobs give the window back: the error text as it came, the buttons and their base
// labels, and a refresh 200 ms after the report.
void tst_FileOperations::failedJobsGiveTheWindowBack()
{
    QVERIFY(mkdir("full1/inner") && mkdir("full2/inner"));
    QVERIFY(refreshList({"full1", "full2"}));

    QObject receiver;
    QList<QPair<QSsh::SftpJobId, QString>> reports;
    QElapsedTimer sinceReport;
    qint64 refreshDelay = -1;
    connect(m_worker.data(), &CConnectionForSshClient::sftpJobFinished, &receiver,
            [&](QSsh::SftpJobId job, const QString &error) {
                reports.append({job, error});
                if (!sinceReport.isValid())
                    sinceReport.start();
            });
    connect(m_window.get(), &mainwindow::sigSend, &receiver, [&](const QString &command) {
        if (command.startsWith("ls -la") && sinceReport.isValid() && refreshDelay < 0)
            refreshDelay = sinceReport.elapsed();
    });

    const int mark = logSize();
    QVERIFY(selectRows({"full1", "full2"}));
    QCOMPARE(button("m_btnDelete")->text(), QStringLiteral("Delete 2 Items"));
    answerBox(QMessageBox::Yes);
    button("m_btnDelete")->click();

    // Removing a folder that is not empty fails on the controller.
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 2, kJobTimeoutMs);
    for (const auto &report : qAsConst(reports)) {
        QVERIFY(!report.second.isEmpty());
        QVERIFY(logSince(mark).contains(
            QStringLiteral("SFTP task %1 failed: %2").arg(report.first).arg(report.second)));
    }
    QVERIFY(fileButtonsEnabled());
    QCOMPARE(button("m_btnDelete")->text(), QStringLiteral("Delete File"));
    QCOMPARE(button("m_btnDownload")->text(), QStringLiteral("Download File"));
    QTRY_VERIFY_WITH_TIMEOUT(refreshDelay >= 0, 5000);
    QVERIFY2(refreshDelay >= 180, qPrintable(QString::number(refreshDelay)));
    QVERIFY(QFileInfo(remote("full1/inner")).isDir());
}

// Two downloads over a slow link: the progress line shows them, in the language of the
// window; Cancel stops both, each logged by its name, and the local files stay as they were.
// Then a transfer that runs to its end: the line is gone when the work is done.
void tst_FileOperations::progressLineAndCancel()
{
    QVERIFY(writeFile(remote("a.bin"), payload(kBigSize / 2, 11)));
    QVERIFY(writeFile(remote("b.bin"), payload(kBigSize / 2, 12)));
    QVERIFY(refreshList({"a.bin", "b.bin"}));
    QTemporaryDir targetDir;
    const QByteArray kept = "the operator's own copy\n";
    QVERIFY(writeFile(targetDir.filePath("a.bin"), kept));
    // Slow, yet not so slow that the answers to the reads still in flight take long.
    QVERIFY(throttleController("20mbit"));
    const auto *line = m_window->findChild<QWidget *>("m_progressLine");
    const auto part = [line](const char *name) {
        return line->findChild<QWidget *>(name);
    };
    const auto text = [&](const char *name) {
        return qobject_cast<QLabel *>(part(name))->text();
    };
    QVERIFY(!line->isVisible());

    int mark = logSize();
    QVERIFY(selectRows({"a.bin", "b.bin"}));
    answerFileDialog(targetDir.path());
    button("m_btnDownload")->click();
    // The rate needs half a second of figures.
    const QRegularExpression rate("^[0-9.]+ [KM]B/s, [0-9:]+ left$");
    QTRY_VERIFY_WITH_TIMEOUT(
        line->isVisible() && qobject_cast<QProgressBar *>(part("progressBar"))->value() > 0 &&
            text("progressBytes").endsWith(" / 32.0 MB") && text("progressRate").contains(rate),
        30000);
    QCOMPARE(text("progressName"), QStringLiteral("1 of 2 files"));
    button("m_btnLanguage")->click();
    QCOMPARE(text("progressName"), QStringLiteral("第 1 个，共 2 个文件"));
    auto *cancel = qobject_cast<QPushButton *>(part("progressCancel"));
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    cancel->click();

    QTRY_VERIFY_WITH_TIMEOUT(!line->isVisible(), kJobTimeoutMs);
    QStringList cancelled = logSince(mark).filter("传输已取消");
    cancelled.sort();
    QCOMPARE(cancelled, QStringList({"传输已取消: a.bin", "传输已取消: b.bin"}));
    QVERIFY(logSince(mark).filter("SFTP任务").isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(), 10000);
    QCOMPARE(QDir(targetDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.bin"});
    QCOMPARE(readFile(targetDir.filePath("a.bin")), kept);

    QVERIFY(throttleController(nullptr));
    mark = logSize();
    QVERIFY(sendDrop({QUrl::fromLocalFile(targetDir.filePath("a.bin"))}));
    QTRY_COMPARE_WITH_TIMEOUT(completions(mark), 1, kJobTimeoutMs);
    QVERIFY(!line->isVisible());
}

// Renamed with F2, by an SFTP rename whatever the name; a name in use is refused.
void tst_FileOperations::renameRefusesNamesInUse()
{
    QVERIFY(writeFile(remote("part.nc"), "G0\n") && writeFile(remote("taken.nc"), "G1\n"));
    QVERIFY(mkdir("jobs/inner"));
    QVERIFY(refreshList({"part.nc", "taken.nc", "jobs"}));
    auto *view = m_window->findChild<QTreeView *>("m_treeView");
    DialogView view1;
    const auto rename = [&](const QString &row, const QString &name) {
        QVERIFY(selectRows({row}));
        m_answer.onNext<QInputDialog>([&view1, name](QInputDialog *dialog) {
            view1.take(dialog);
            dialog->setTextValue(name);
            dialog->accept();
        });
        QApplication::setActiveWindow(m_window.get());
        view->setFocus();
        QTest::keyClick(view, Qt::Key_F2);
    };
    const auto renamed = [&](int mark, const QString &line) {
        return QTest::qWaitFor([&] { return logSince(mark).contains(line); }, kJobTimeoutMs);
    };

    int mark = logSize();
    rename("part.nc", "part 2.nc");
    QCOMPARE(view1.title, QStringLiteral("Rename"));
    QCOMPARE(view1.text, QStringLiteral("Please enter the new name:"));
    QCOMPARE(view1.secondary, QStringLiteral("part.nc"));
    QCOMPARE(logSince(mark),
             QStringList{"Renaming " + kRoot + "part.nc to " + kRoot + "part 2.nc..."});
    QVERIFY(renamed(mark, "Renamed " + kRoot + "part.nc to " + kRoot + "part 2.nc."));
    QCOMPARE(readFile(remote("part 2.nc")), QByteArray("G0\n"));
    QTRY_VERIFY_WITH_TIMEOUT(listed({"part 2.nc"}) && !listedNames().contains("part.nc"), 10000);

    // A folder, to a Chinese name with a tab, in Chinese.
    setSetting("language", "zh");
    const QString chinese = QStringLiteral("加工\t程序");
    mark = logSize();
    rename("jobs", chinese);
    QCOMPARE(view1.title, QStringLiteral("重命名"));
    QVERIFY(renamed(mark, "已将 " + kRoot + "jobs 重命名为 " + kRoot + chinese + "。"));
    QVERIFY(QFileInfo(remote(chinese + "/inner")).isDir());

    // A name the list shows: the warning box, and nothing asked of the controller.
    setSetting("language", "en");
    QTRY_VERIFY_WITH_TIMEOUT(button("m_btnRefresh")->isEnabled(), 10000);
    mark = logSize();
    DialogView warning;
    answerBox(QMessageBox::Ok, &warning);
    rename("taken.nc", "part 2.nc");
    QCOMPARE(warning.title, QStringLiteral("Name in use"));
    QCOMPARE(warning.text, QStringLiteral("\"part 2.nc\" already exists in this folder."));
    QVERIFY(logSince(mark).isEmpty());

    // A name taken since the listing: the controller refuses it.
    QVERIFY(writeFile(remote("late.nc"), "G2\n"));
    rename("taken.nc", "late.nc");
    QVERIFY(QTest::qWaitFor(
        [&] {
            return !logSince(mark).filter("Rename of " + kRoot + "taken.nc failed: ").isEmpty();
        },
        kJobTimeoutMs));
    QCOMPARE(readFile(remote("taken.nc")), QByteArray("G1\n"));
    QCOMPARE(readFile(remote("late.nc")), QByteArray("G2\n"));
    QCOMPARE(readFile(remote("part 2.nc")), QByteArray("G0\n"));
}

QTEST_MAIN(tst_FileOperations)
#include "tst_fileoperations.moc"
