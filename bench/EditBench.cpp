// How soon a save in the operator's editor is on the controller: a 100 KB program opened for
// editing through the window's EditInPlace on the shop Wi-Fi link (LinkProfile), saved 20
// times; each save timed from the moment the editor's write is complete to the log line that
// says it was saved back, after its verification. Beside it, a plain verified upload of the
// same file through the worker, in interleaved rounds: the price of the quiet time, the look
// at the controller's file and the record after it. Target: the save's median under 1 s.

#include "BenchSupport.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "ComparisonTable.h"
#include "EditInPlace.h"
#include "LinkProfile.h"
#include "ProgramFiles.h"
#include "RoundSeries.h"
#include "SimController.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

namespace {

using Bench::LinkProfile;
using Bench::out;

const int kSimInstance = Bench::simInstance(198);
constexpr int kProgramSize = 100 * 1000;
constexpr int kRounds = 20;
constexpr double kMaxMedianMs = 1000;
const QString kRemote = QStringLiteral("/home/pi/cnc/edit/program.nc");

QString milliseconds(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', 0);
}

// A G-code program of kProgramSize bytes; round makes each one differ.
QByteArray program(int round)
{
    QByteArray text = QStringLiteral("(round %1)\n").arg(round).toLatin1();
    for (int line = 0; text.size() < kProgramSize; ++line)
        text += QStringLiteral("G1 X%1 Y%2 F%3\n")
                    .arg(line % 500)
                    .arg(line % 77)
                    .arg(300 + round)
                    .toLatin1();
    text.truncate(kProgramSize);
    return text;
}

class EditBench
{
public:
    bool prepare();
    bool runProfile(const LinkProfile &profile);
    void printTable() const;
    bool allMet() const { return m_table.judgeAll(); }
    void finish();

private:
    bool save(EditInPlace &edits, EditedFile *file, int round, Bench::RoundSeries *times);
    bool upload(Bench::BenchWorker &worker, int round, Bench::RoundSeries *times);

    SimController m_sim{kSimInstance};
    QTemporaryDir m_scratch{QStringLiteral("/dev/shm/cnc-edit-bench-XXXXXX")};
    QString m_savedLine;
    QVariant m_editorBefore;
    Bench::ComparisonTable m_table{QStringLiteral("save in the editor"), QStringLiteral("cost"),
                                   QStringLiteral("verified upload")};
};

bool EditBench::prepare()
{
    if (!Bench::startInMemory(m_sim) || !m_scratch.isValid())
        return false;
    // The editor is a program that returns at once: the bench writes the saves itself.
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    m_editorBefore = settings.value(QStringLiteral("editor"));
    settings.setValue(QStringLiteral("editor"), QStringLiteral("true %f"));
    const bool ok = QDir().mkpath(m_sim.rootDir() + QStringLiteral("/edit")) &&
                    writeFile(m_sim.rootDir() + QStringLiteral("/edit/program.nc"), program(0));
    if (!ok)
        out() << "cannot create the program" << Qt::endl;
    return ok;
}

void EditBench::finish()
{
    m_sim.setLinkRate(QString());
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    if (m_editorBefore.isValid())
        settings.setValue(QStringLiteral("editor"), m_editorBefore);
    else
        settings.remove(QStringLiteral("editor"));
}

bool EditBench::runProfile(const LinkProfile &profile)
{
    Bench::ShapedLink link;
    if (!link.open(m_sim, profile))
        return false;
    Bench::BenchWorker worker(link.endpoint().host, link.endpoint().port);
    if (!worker.waitReady()) {
        out() << "the worker did not get ready" << Qt::endl;
        return false;
    }
    QWidget window;
    EditInPlace edits(
        worker.worker(), {}, [] { return true; }, nullptr, &window);
    QObject::connect(&edits, &EditInPlace::logged, &edits, [this](const QString &text) {
        if (text.startsWith(QLatin1String("Saved ")))
            m_savedLine = text;
    });
    edits.edit(kRemote);
    EditedFile *file = edits.files().value(0);
    if (!file ||
        !Bench::runUntil([&] { return file->state() == EditedFile::State::InSync; }, 30000)) {
        out() << "the program could not be opened for editing" << Qt::endl;
        return false;
    }
    Bench::RoundSeries saves, uploads;
    for (int round = 1; round <= kRounds; ++round) {
        if (!Bench::interleaved(
                round, [&] { return save(edits, file, round, &saves); },
                [&] { return upload(worker, round, &uploads); }))
            return false;
    }
    if (Bench::fileHash(m_sim.rootDir() + QStringLiteral("/edit/program.nc")) !=
        Bench::fileHash(file->workingCopy())) {
        out() << "the last save did not arrive intact" << Qt::endl;
        return false;
    }
    edits.stopWatching(file);
    Bench::ComparisonRow row;
    row.profile = QLatin1String(profile.name);
    row.what = QStringLiteral("100 KB program saved back");
    row.ours = milliseconds(saves.median());
    row.share = QStringLiteral("+%1").arg(milliseconds(saves.median() - uploads.median()));
    row.peer = milliseconds(uploads.median());
    row.ratio = QString::number(saves.median() / qMax(1.0, uploads.median()), 'f', 2);
    row.target = QStringLiteral("median < %1").arg(milliseconds(kMaxMedianMs));
    row.spread = QStringLiteral("worst save %1, saves %2 ms, uploads %3 ms")
                     .arg(milliseconds(saves.worst()), saves.range(0), uploads.range(0));
    row.met = saves.median() < kMaxMedianMs;
    m_table.add(row);
    return true;
}

bool EditBench::save(EditInPlace &edits, EditedFile *file, int round, Bench::RoundSeries *times)
{
    Q_UNUSED(edits)
    m_savedLine.clear();
    if (!writeFile(file->workingCopy(), program(round))) {
        out() << "cannot write the working copy" << Qt::endl;
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    if (!Bench::runUntil([&] { return !m_savedLine.isEmpty(); }, 30000)) {
        out() << "save " << round << " did not go back" << Qt::endl;
        return false;
    }
    times->add(clock.elapsed());
    // The record after it is taken before the next round.
    return Bench::runUntil([&] { return file->state() == EditedFile::State::InSync; }, 30000);
}

bool EditBench::upload(Bench::BenchWorker &worker, int round, Bench::RoundSeries *times)
{
    const QString local = m_scratch.filePath(QStringLiteral("upload.nc"));
    QString error;
    if (!writeFile(local, program(-round)))
        return false;
    const qint64 ms = worker.run(
        [&](CConnectionForSshClient *w) {
            w->slotSetVerifyTransfers(true);
            w->slotUploadFile(local, QStringLiteral("/home/pi/cnc/edit/upload.nc"));
        },
        1, &error);
    if (ms < 0) {
        out() << "a plain upload failed: " << error << Qt::endl;
        return false;
    }
    times->add(ms);
    return true;
}

void EditBench::printTable() const
{
    m_table.print();
    out() << kRounds
          << " saves of a 100 KB program edited in place, interleaved with as many verified "
             "uploads of it through the worker; a save is timed from the end of the editor's "
             "write (which the "
          << EditedFile::kQuietMs
          << " ms of quiet that tell a finished save follow) to its \"Saved ... back to the "
             "controller\" line. Cost: the save's median less the upload's."
          << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    out() << "== editing in place" << Qt::endl;
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return 1;
    }
    EditBench bench;
    return Bench::runOnProfiles(bench, {Bench::kShopWifi}, QStringLiteral("editing in place"),
                                QStringLiteral("cnc_edit_bench"));
}
