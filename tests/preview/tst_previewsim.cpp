// The preview of the controller's files, from the main window with a real worker against the
// simulated controller: what is drawn and where, what a click selects, what is refused, and a
// program heavy to draw previewed while the window goes on with its work.
#include "PreviewLauncher.h"
#include "PreviewWindow.h"
#include "ToolpathView.h"
#include "WindowTestSupport.h"

#include <QtTest>

namespace {

// Selects the row of `name` and presses Space on it: the new preview window, or null.
PreviewWindow *previewByKey(mainwindow &window, const QString &name)
{
    auto *view = window.findChild<QTreeView *>("m_treeView");
    if (!selectRows(window, {name}))
        return nullptr;
    const int before = window.findChildren<PreviewWindow *>().size();
    QApplication::setActiveWindow(&window);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Space);
    const auto previews = window.findChildren<PreviewWindow *>();
    return previews.size() == before + 1 ? previews.last() : nullptr;
}

} // namespace

class TestPreviewSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { CNC_START_SIM(m_sim, {}); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }
    void previewOfAControllerProgram();

private:
    SimController m_sim;
};

void TestPreviewSim::previewOfAControllerProgram()
{
    // A 40 x 20 mm pocket outline closed by a half circle on its right: X 0..50, Y 0..20.
    constexpr qint64 kLimit = PreviewWindow::kMaxProgramBytes;
    const QDir root(m_sim.rootDir());
    QVERIFY(writeFile(root.filePath("pocket.nc"), "G21 G90\nG0 X0 Y0 Z5\nG1 Z-1 F200\nG1 X40\n"
                                                  "G3 X40 Y20 I0 J10\nG1 X0\nG1 Y0\nG0 Z5\nM30\n"));
    // 1,000 circles of 1,000 turns each, on the circle of radius 5 about X5 Y0.
    QVERIFY(
        writeFile(root.filePath("arcs.nc"), QByteArray("G2 X0 Y0 I5 J0 P1000\n").repeated(1000)));
    for (const auto &[name, size] :
         {std::make_pair("too_large.nc", kLimit + 1), std::make_pair("at_limit.nc", kLimit)}) {
        QFile file(root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
    }
    ControllerSession session(m_sim.address());
    // The channel is ready before the window exists: the window lists all the same.
    session.start();
    QVERIFY(session.waitReady());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    const QStringList logBefore = logLines(window);

    PreviewWindow *preview = previewByKey(window, "pocket.nc");
    QVERIFY(preview);
    QSignalSpy shown(preview, &PreviewWindow::programShown);
    QVERIFY(shown.wait(15000));
    QVERIFY(QTest::qWaitForWindowExposed(preview));
    // The top view of X 0..50, Y 0..20: drawn pixels inside that box (plus the pen and the
    // start mark), none outside it, and the feed colour along the bottom edge.
    ToolpathView *plot = preview->plot();
    plot->setLegend({}); // the legend's corner aside, the drawing is the path alone
    plot->fit();
    plot->grab(); // drawn at once, or in a worker thread when that takes longer
    QTRY_VERIFY(!plot->isBusy());
    const QImage image = plot->grab().toImage();
    const QRectF box = QRectF(plot->toScreen({0, 0, 0}), plot->toScreen({50, 20, 0})).normalized();
    QVERIFY(box.width() > 100);
    int inside = 0, outside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(1, 1))
                (box.adjusted(-9, -9, 9, 9).contains(x, y) ? inside : outside)++;
        }
    }
    QCOMPARE(outside, 0);
    QVERIFY(inside > int(box.width()));
    const QRgb bottom = image.pixel(plot->toScreen({20, 0, 0}).toPoint());
    QVERIFY(qBlue(bottom) > qRed(bottom) + 60);
    // A click on a move selects its line; the middle of the pocket is no move.
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->toScreen({40, 10, 0}).toPoint());
    QCOMPARE(plot->selectedLine(), -1);
    QTest::mouseClick(plot, Qt::LeftButton, {}, plot->toScreen({50, 10, -1}).toPoint());
    QCOMPARE(plot->selectedLine(), 4);
    // A look is no file operation: nothing in the log, the buttons as they were.
    QCOMPARE(logLines(window), logBefore);
    QVERIFY(fileButtonsEnabled(window));
    preview->close();

    // Files over the limit are refused, remote and local alike, and the refusal is logged.
    const QString refusal = PreviewWindow::tooLargeText("too_large.nc", kLimit + 1, false);
    PreviewWindow *refused = previewByKey(window, "too_large.nc");
    QVERIFY(refused);
    QTRY_COMPARE_WITH_TIMEOUT(refused->statusText(), refusal, 15000);
    QTRY_VERIFY(logLines(window).join('\n').contains(refusal));
    refused->close();
    QTemporaryDir local;
    QFile large(local.filePath("too_large.nc"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(kLimit + 1));
    PreviewWindow *localPreview =
        window.findChild<PreviewLauncher *>()->previewLocalFile(large.fileName());
    QTRY_COMPARE_WITH_TIMEOUT(localPreview->statusText(), refusal, 15000);
    localPreview->close();

    // A read of 64 MiB dropped by closing its window leaves the channel in order: the next
    // preview comes through, and no answer reaches the closed window.
    QPointer<PreviewWindow> dropped = previewByKey(window, "at_limit.nc");
    QVERIFY(dropped);
    dropped->close();
    QTRY_VERIFY(!dropped);
    PreviewWindow *next = previewByKey(window, "pocket.nc");
    QVERIFY(next);
    QSignalSpy nextShown(next, &PreviewWindow::programShown);
    QVERIFY(nextShown.wait(30000));
    QVERIFY(!logLines(window).join('\n').contains("at_limit.nc"));

    // The window goes on listing while the arcs are opened, drawn in another view and clicked;
    // the click finds the last circle drawn. On a machine of X 0..8 they are drawn in red.
    MachineProfile narrow;
    narrow.travel[0] = AxisTravel{0, 8};
    window.findChild<PreviewLauncher *>()->setMachineProfile(narrow);
    PreviewWindow *arcs = previewByKey(window, "arcs.nc");
    QVERIFY(arcs);
    QSignalSpy arcsShown(arcs, &PreviewWindow::programShown);
    QVERIFY(arcsShown.wait(15000));
    arcs->plot()->grab();
    QTRY_VERIFY(!arcs->plot()->isBusy());
    const QImage drawn = arcs->plot()->grab().toImage();
    const QRgb arc =
        drawn.pixel(arcs->plot()->toScreen({5 + 5 * M_SQRT1_2, 5 * M_SQRT1_2, 0}).toPoint());
    QVERIFY2(qRed(arc) > qBlue(arc) + 60, qPrintable(QString::number(arc, 16)));
    arcs->plot()->setProjection(ToolpathView::Projection::Isometric);
    arcs->plot()->repaint();
    QTest::mouseClick(arcs->plot(), Qt::LeftButton, {},
                      arcs->plot()->toScreen({10, 0, 0}).toPoint());
    QVERIFY(writeFile(root.filePath("later.nc"), "G0 X1\n"));
    window.findChild<QPushButton *>("m_btnRefresh")->click();
    QVERIFY(session.waitListed(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    QTRY_COMPARE(arcs->plot()->selectedLine(), 999);
}

QTEST_MAIN(TestPreviewSim)
#include "tst_previewsim.moc"
