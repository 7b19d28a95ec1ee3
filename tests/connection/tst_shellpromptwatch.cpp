// When the controller's shell waits at its prompt, on output captured from the simulated
// controller (tests/window/fixtures) and split into two pieces at every position.
#include "ControllerShell.h"
#include "ShellPromptWatch.h"
#include "WindowTestSupport.h"

#include <QtTest>

class TestShellPromptWatch : public QObject
{
    Q_OBJECT
private slots:
    void waitsOnlyAtTheEnd_data();
    void waitsOnlyAtTheEnd();
};

void TestShellPromptWatch::waitsOnlyAtTheEnd_data()
{
    QTest::addColumn<bool>("typed"); // the output answers a line typed at the prompt
    QTest::addColumn<QString>("output");
    QTest::newRow("new shell, banner") << false << fixture("banner.raw");
    QTest::newRow("another host name") << false << "Last login\r\n\x1B[?2004hroot@mill-2.lan:~# ";
    for (const char *name : {"shell_ready.raw", "delete_success.raw", "delete_failed.raw",
                             "create_success.raw", "create_failed.raw", "listing_root.raw",
                             "listing_missing.raw", "listing_quote_folder.raw", "resize_error.raw"})
        QTest::newRow(name) << true << fixture(name);
    // Names that hold the prompt, as ls quotes them, and an error message that names one.
    const QString prompt = ControllerShell::prompt();
    QTest::newRow("prompt in names")
        << true
        << ControllerShell::listingCommand(kRootDir).replace("\n", "\r\n") +
               "\x1B[?2004l\rtotal 0\r\n"
               "-rw-r--r-- 1 root root 0 2026-01-01 10:00:00 '" +
               prompt + "'\r\n-rw-r--r-- 1 root root 0 2026-01-01 10:00:00 '" + prompt +
               "x'\r\nls: cannot access '/x/" + prompt + "': No such file or directory\r\n" +
               "\x1B[?2004h" + prompt;
}

// Waiting exactly once the whole output is in, never at the prompt the line was typed behind,
// nor at the prompt text inside a line.
void TestShellPromptWatch::waitsOnlyAtTheEnd()
{
    QFETCH(bool, typed);
    QFETCH(QString, output);
    ShellPromptWatch watch;
    for (int split = 0; split <= output.size(); ++split) {
        watch.reset();
        if (typed) {
            watch.feed("\r\n\x1B[?2004h" + ControllerShell::prompt());
            QVERIFY(watch.atPrompt());
            watch.lineTyped();
        }
        QVERIFY(!watch.atPrompt());
        watch.feed(output.left(split));
        QVERIFY2(watch.atPrompt() == (split == output.size()), qPrintable(QString::number(split)));
        watch.feed(output.mid(split));
        QVERIFY(watch.atPrompt());
    }
}

QTEST_APPLESS_MAIN(TestShellPromptWatch)
#include "tst_shellpromptwatch.moc"
