// Editing a controller's file in place through the main window against a simulated
// controller: scripted editors that save in the ways real ones do, a file changed on the
// controller meanwhile, and a save made while the link is down.
#include "EditInPlace.h"
#include "EditorChoice.h"
#include "PreviewLauncher.h"
#include "PreviewWindow.h"
#include "WindowTestSupport.h"

#include <QtTest>

class TestEdit : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase() { QFile::remove(settingsPath()); }
    void editorCommandLine_data();
    void editorCommandLine();
    void savesGoBack_data();
    void savesGoBack();
    void conflictChoices_data();
    void conflictChoices();
    void saveWaitsForTheLink();

private:
    // A session whose window lists `names`; the editor is the script `body` (sh, "$1" the file).
    bool open(const QStringList &names, const QByteArray &body);
    // Triggers Edit on name; the path the editor was given.
    QString edit(const QString &name);
    // Waits for a log line starting with text; the lines before it in *before.
    bool waitForLine(const QString &text, QStringList *before = nullptr, int timeoutMs = 30000);

    SimController m_sim;
    std::unique_ptr<ControllerSession> m_session;
    std::unique_ptr<QTemporaryDir> m_editor;
    ModalAnswerer m_answer;
};

void TestEdit::editorCommandLine_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("command");
    const QString path = "/c/a b/x'$(id);`y`.nc";
    QTest::newRow("placeholder") << "gedit --new %f" << QStringList{"gedit", "--new", path};
    QTest::newRow("none: the file last") << "kate" << QStringList{"kate", path};
    QTest::newRow("quoted, inside an argument")
        << "\"/opt/my editor/ed\" --file=%f -n"
        << QStringList{"/opt/my editor/ed", "--file=" + path, "-n"};
    QTest::newRow("never the program") << "%f" << QStringList{"%f", path};
}

// The file's path is one argument whatever it holds; it never becomes the program.
void TestEdit::editorCommandLine()
{
    QFETCH(QString, commandLine);
    QTEST(EditorChoice::commandFor(commandLine, "/c/a b/x'$(id);`y`.nc"), "command");
}

bool TestEdit::open(const QStringList &names, const QByteArray &body)
{
    m_editor = std::make_unique<QTemporaryDir>();
    const QString script = m_editor->filePath("editor");
    if (!writeFile(script, "printf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened\"\n" + body) ||
        !QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    // Asked the first time.
    setSetting("editor", QString());
    m_session = std::make_unique<ControllerSession>(m_sim.address());
    m_session->open();
    m_answer.reset();
    m_answer.answerInput("/bin/sh " + script + " %f");
    return m_session->waitListed(names);
}

QString TestEdit::edit(const QString &name)
{
    if (!selectRows(*m_session->window, {name}))
        return {};
    m_session->window->findChild<QAction *>("editAction")->trigger();
    const QString opened = m_editor->filePath("opened");
    if (!QTest::qWaitFor([&] { return readFile(opened).endsWith('\n'); }, 30000))
        return {};
    return QString::fromUtf8(readFile(opened)).section('\n', 0, 0);
}

bool TestEdit::waitForLine(const QString &text, QStringList *before, int timeoutMs)
{
    const QRegularExpression line(QRegularExpression::escape(text) + ".*");
    QStringList lines;
    const bool found = QTest::qWaitFor(
        [&] { return (lines = logLines(*m_session->window)).indexOf(line) >= 0; }, timeoutMs);
    if (before)
        *before = lines.mid(0, lines.indexOf(line));
    return found;
}

void TestEdit::savesGoBack_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("editor");
    QTest::newRow("in place, blanks")
        << "part one.nc" << QByteArray("printf 'G1 X1 F400\\n' > \"$1\"\n");
    QTest::newRow("temporary renamed over, Chinese")
        << "零件 二.nc"
        << QByteArray("printf 'G1 X1 F400\\n' > \"$1.new\" && mv -f \"$1.new\" \"$1\"\n");
    QTest::newRow("two steps, shell characters")
        << "a'b $(touch pwned);`touch pwned`.nc"
        << QByteArray("printf 'G1 X1' > \"$1\"; sleep 0.1; printf ' F400\\n' >> \"$1\"\n");
}

// Each way an editor saves gives one save, byte-exact and verified; writing the same content
// again sends nothing, a further change goes too and reloads the file's preview.
void TestEdit::savesGoBack()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, editor);
    setSetting("language", "en");
    CNC_START_SIM(m_sim, {});
    emptyFolder(m_sim.rootDir());
    const QString target = QDir(m_sim.rootDir()).filePath(name);
    QVERIFY(writeFile(target, "G1 X1 F300\n"));
    QVERIFY(open({name}, editor));
    const QString workingCopy = edit(name);
    QVERIFY(QFileInfo(workingCopy).fileName() == name);

    QStringList before;
    QVERIFY(waitForLine("Saved " + name + " back to the controller", &before));
    QCOMPARE(readFile(target), "G1 X1 F400\n");
    QCOMPARE(before.constLast(), "Verified " + name + ": SHA-256 " + fileHash(target).left(12));
    QCOMPARE(m_session->transferSpy.size(), 2); // the download and one save

    auto *file = m_session->window->findChild<EditedFile *>();
    QSignalSpy unchanged(file, &EditedFile::unchanged);
    QVERIFY(writeFile(workingCopy, "G1 X1 F400\n"));
    QVERIFY(unchanged.wait(10000));
    // An open preview of the file reads it again after the save.
    auto *preview =
        m_session->window->findChild<PreviewLauncher *>()->previewRemoteFile(kRootDir + name);
    QSignalSpy shown(preview, &PreviewWindow::programShown);
    QVERIFY(shown.wait(15000));
    QVERIFY(writeFile(workingCopy, "G1 X2 F400\n"));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(target), "G1 X2 F400\n", 30000);
    QTRY_COMPARE_WITH_TIMEOUT(file->state(), EditedFile::State::InSync, 10000);
    QCOMPARE(m_session->transferSpy.size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 15000);
    QCOMPARE(logLines(*m_session->window)
                 .filter(QRegularExpression("^Saved .* back to the controller$"))
                 .size(),
             2);
    QVERIFY(!QFile::exists(QDir(m_sim.rootDir()).filePath("pwned")) && !QFile::exists("pwned"));

    // The panel lists it in sync; stopping the watch removes the working copy.
    m_session->window->findChild<QAction *>("editsPanelAction")->trigger();
    auto *listed = m_session->window->findChild<QTreeWidget *>("editedFiles");
    QCOMPARE(listed->topLevelItem(0)->text(2), "in sync");
    m_session->window->findChild<QPushButton *>("stopWatching")->click();
    QCOMPARE(listed->topLevelItemCount(), 0);
    QVERIFY(!QFile::exists(workingCopy));
    QCOMPARE(strayTemporaries(m_sim.rootDir()), QStringList());
    m_session.reset();
}

void TestEdit::conflictChoices_data()
{
    QTest::addColumn<QString>("choice");
    QTest::newRow("overwrite") << "overwrite";
    QTest::newRow("keep the controller's") << "keepController";
    QTest::newRow("save as new") << "saveAsNew";
}

// A change on the controller between opening and saving is never overwritten unasked; each
// answer leaves both versions where the operator said.
void TestEdit::conflictChoices()
{
    QFETCH(QString, choice);
    setSetting("language", "en");
    CNC_START_SIM(m_sim, {});
    emptyFolder(m_sim.rootDir());
    const QDir root(m_sim.rootDir());
    QVERIFY(writeFile(root.filePath("part.nc"), "G1 X1 F300\n"));
    QVERIFY(open({"part.nc"}, {}));
    const QString workingCopy = edit("part.nc");
    QVERIFY(!workingCopy.isEmpty());
    QVERIFY(waitForLine("Editing part.nc"));

    const QByteArray theirs = "G1 X1 F300 (changed at the machine)\n", mine = "G1 X1 F500\n";
    QVERIFY(writeFile(root.filePath("part.nc"), theirs));
    ModalAnswerer answer;
    QString asked;
    answer.onNext<QMessageBox>([&](QMessageBox *box) {
        asked = box->objectName() + ": " + box->text();
        box->findChild<QPushButton *>(choice)->click();
    });
    if (choice == "saveAsNew")
        answer.answerInput(QString());
    QVERIFY(writeFile(workingCopy, mine));
    QTRY_VERIFY_WITH_TIMEOUT(!asked.isEmpty(), 30000);
    QCOMPARE(asked, "editConflict: part.nc was changed on the controller since you opened it for "
                    "editing.");

    if (choice == "overwrite") {
        QVERIFY(waitForLine("Saved part.nc back to the controller"));
        QCOMPARE(readFile(root.filePath("part.nc")), mine);
    } else if (choice == "keepController") {
        QVERIFY(waitForLine("Kept the controller's version of part.nc"));
        QCOMPARE(readFile(root.filePath("part.nc")), theirs);
        QCOMPARE(readFile(workingCopy), theirs);
        const QStringList aside = QFileInfo(workingCopy).dir().entryList({"part.mine-*.nc"});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(QFileInfo(workingCopy).dir().filePath(aside.first())), mine);
    } else {
        QVERIFY(waitForLine("Saved part (edited).nc back to the controller"));
        QCOMPARE(readFile(root.filePath("part.nc")), theirs);
        QCOMPARE(readFile(root.filePath("part (edited).nc")), mine);
    }
    auto *file = m_session->window->findChild<EditedFile *>();
    QTRY_COMPARE_WITH_TIMEOUT(file->state(), EditedFile::State::InSync, 10000);
    m_session.reset();
}

// A save while the link is pulled waits, closing the window meanwhile asks first, and the save
// goes once the link is back.
void TestEdit::saveWaitsForTheLink()
{
    setSetting("language", "en");
    CNC_START_SIM(m_sim, {});
    emptyFolder(m_sim.rootDir());
    const QString target = QDir(m_sim.rootDir()).filePath("prog.nc");
    QVERIFY(writeFile(target, "G0 X0\n"));
    QVERIFY(open({"prog.nc"}, {}));
    const QString workingCopy = edit("prog.nc");
    QVERIFY(waitForLine("Editing prog.nc"));

    QVERIFY2(m_sim.linkDown(), qPrintable(m_sim.lastError()));
    QVERIFY(writeFile(workingCopy, "G0 X5\n"));
    QVERIFY(waitForLine("prog.nc was saved while the connection is down; waiting", nullptr, 40000));
    ModalAnswerer answer;
    ModalAnswerer::Seen seen;
    answer.answerBox(QMessageBox::No, &seen);
    QVERIFY(!m_session->window->close());
    QVERIFY2(seen.text.contains("prog.nc"), qPrintable(seen.text));
    QVERIFY(QFile::exists(workingCopy));

    QVERIFY2(m_sim.linkUp(), qPrintable(m_sim.lastError()));
    QStringList before;
    QVERIFY(waitForLine("Saved prog.nc back to the controller", &before, 40000));
    QVERIFY(before.constLast().startsWith("Verified prog.nc: SHA-256 "));
    QCOMPARE(readFile(target), "G0 X5\n");
    m_session.reset();
}

QTEST_MAIN(TestEdit)
#include "tst_edit.moc"
