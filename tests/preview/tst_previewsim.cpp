// The preview of the controller's files, from the main window with a real worker against the
// simulated controller: what is drawn and where, and what is refused.
#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "PreviewLauncher.h"
#include "PreviewWindow.h"
#include "SimController.h"
#include "ToolpathView.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

// A 40 x 20 mm pocket outline closed by a half circle on its right: X 0..50, Y 0..20.
const QByteArray kProgram = "G21 G90\nG0 X0 Y0 Z5\nG1 Z-1 F200\nG1 X40\nG3 X40 Y20 I0 J10\n"
                            "G1 X0\nG1 Y0\nG0 Z5\nM30\n";
constexpr qint64 kLimit = PreviewWindow::kMaxProgramBytes;

bool makeSparseFile(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

bool fileButtonsEnabled(const QWidget &window)
{
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"}) {
        if (!window.findChild<QPushButton *>(QLatin1String(name))->isEnabled())
            return false;
    }
    return true;
}

} // namespace

class TestPreviewSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void remoteProgramIsDrawnInsideItsBox();
    void filesOverTheLimitAreRefusedAndClosingDropsARead();

private:
    PreviewWindow *previewByKey(const QString &name);
    PreviewWindow *newestPreview() const;

    SimController m_sim;
    CConnectionForSshClient *m_worker = nullptr;
    std::unique_ptr<DeathWatch> m_watch;
    std::unique_ptr<mainwindow> m_window;
};

void TestPreviewSim::initTestCase()
{
    QFile::remove(settingsPath());
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    const QDir root(m_sim.rootDir());
    QFile program(root.filePath(QStringLiteral("pocket.nc")));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.write(kProgram);
    program.close();
    QVERIFY(makeSparseFile(root.filePath(QStringLiteral("too_large.nc")), kLimit + 1));
    QVERIFY(makeSparseFile(root.filePath(QStringLiteral("at_limit.nc")), kLimit));

    m_worker = new CConnectionForSshClient(m_sim.address(), 22, SimController::rootPassword(),
                                           QStringLiteral("root"));
    m_watch = std::make_unique<DeathWatch>(m_worker);
    bool ready = false;
    connect(m_worker, &CConnectionForSshClient::sftpChannelInitialized, &m_watch->context,
            [&ready] { ready = true; });
    m_worker->init();
    QTRY_VERIFY_WITH_TIMEOUT(ready, 20000);
    m_window = std::make_unique<mainwindow>(m_worker);
    m_window->show();
    auto *model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    QTRY_VERIFY_WITH_TIMEOUT(!model->findItems(QStringLiteral("pocket.nc")).isEmpty(), 15000);
}

void TestPreviewSim::cleanupTestCase()
{
    m_window.reset();
    if (m_watch)
        QTRY_VERIFY_WITH_TIMEOUT(m_watch->gone, 15000);
    QFile::remove(settingsPath());
}

PreviewWindow *TestPreviewSim::newestPreview() const
{
    const auto previews = m_window->findChildren<PreviewWindow *>();
    return previews.isEmpty() ? nullptr : previews.last();
}

// Selects the row of `name` in the list and presses Space on it.
PreviewWindow *TestPreviewSim::previewByKey(const QString &name)
{
    auto *view = m_window->findChild<QTreeView *>(QStringLiteral("m_treeView"));
    auto *model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    const QModelIndex index = model->findItems(name).value(0)->index();
    view->selectionModel()->select(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const int before = m_window->findChildren<PreviewWindow *>().size();
    QApplication::setActiveWindow(m_window.get());
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Space);
    if (m_window->findChildren<PreviewWindow *>().size() != before + 1)
        return nullptr;
    return newestPreview();
}

void TestPreviewSim::remoteProgramIsDrawnInsideItsBox()
{
    CNC_REQUIRE_SIM();
    const QString logBefore = logText(*m_window);
    QVERIFY(fileButtonsEnabled(*m_window));

    PreviewWindow *preview = previewByKey(QStringLiteral("pocket.nc"));
    QVERIFY(preview);
    QSignalSpy shown(preview, &PreviewWindow::programShown);
    QVERIFY(shown.wait(15000));
    QVERIFY(QTest::qWaitForWindowExposed(preview));

    // The top view of X 0..50, Y 0..20: drawn pixels inside that box (plus the pen and the
    // start mark), none outside it, and the feed colour along the bottom edge.
    ToolpathView *plot = preview->plot();
    plot->fit();
    const QImage image = plot->grab().toImage();
    const QRectF box = QRectF(plot->toScreen({0, 0, 0}), plot->toScreen({50, 20, 0})).normalized();
    QVERIFY(box.width() > 100);
    const QRectF allowed = box.adjusted(-9, -9, 9, 9);
    const QRgb background = image.pixel(1, 1);
    int inside = 0;
    int outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == background)
                continue;
            (allowed.contains(x, y) ? inside : outside)++;
        }
    }
    QCOMPARE(outside, 0);
    QVERIFY(inside > int(box.width()));
    const QPoint bottomMiddle = plot->toScreen({20, 0, 0}).toPoint();
    QVERIFY(qBlue(image.pixel(bottomMiddle)) > qRed(image.pixel(bottomMiddle)) + 60);

    // Selecting a line of text highlights its move; a click on a move selects its line.
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->toScreen({40, 10, 0}).toPoint());
    QCOMPARE(plot->selectedLine(), -1); // the middle of the pocket is no move
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->toScreen({50, 10, -1}).toPoint());
    QCOMPARE(plot->selectedLine(), 4);

    // A look is no file operation: nothing in the log, the buttons as they were.
    QCOMPARE(logText(*m_window), logBefore);
    QVERIFY(fileButtonsEnabled(*m_window));
    preview->close();
}

void TestPreviewSim::filesOverTheLimitAreRefusedAndClosingDropsARead()
{
    CNC_REQUIRE_SIM();
    PreviewWindow *refused = previewByKey(QStringLiteral("too_large.nc"));
    QVERIFY(refused);
    const QString message =
        PreviewWindow::tooLargeText(QStringLiteral("too_large.nc"), kLimit + 1, false);
    QTRY_COMPARE_WITH_TIMEOUT(refused->statusText(), message, 15000);
    QTRY_VERIFY(logText(*m_window).contains(message));
    refused->close();

    QTemporaryDir local;
    const QString localPath = local.filePath(QStringLiteral("too_large.nc"));
    QVERIFY(makeSparseFile(localPath, kLimit + 1));
    auto *launcher = m_window->findChild<PreviewLauncher *>();
    PreviewWindow *localPreview = launcher->previewLocalFile(localPath);
    QTRY_COMPARE_WITH_TIMEOUT(localPreview->statusText(), message, 15000);
    localPreview->close();

    // A read of 64 MiB dropped by closing its window leaves the channel in order: the next
    // preview comes through, and no answer reaches the closed window.
    QPointer<PreviewWindow> dropped = previewByKey(QStringLiteral("at_limit.nc"));
    QVERIFY(dropped);
    dropped->close();
    QTRY_VERIFY(!dropped);
    PreviewWindow *next = previewByKey(QStringLiteral("pocket.nc"));
    QVERIFY(next);
    QSignalSpy shown(next, &PreviewWindow::programShown);
    QVERIFY(shown.wait(30000));
    QVERIFY(!logText(*m_window).contains(QStringLiteral("at_limit.nc")));
    next->close();
}

QTEST_MAIN(TestPreviewSim)
#include "tst_previewsim.moc"
