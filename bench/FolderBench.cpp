// Whole folders on the links where round trips cost: shop Wi-Fi and the VPN of the link
// benchmark (LinkProfile). A job folder of 200 files of 20 KiB in three levels is
//  - uploaded into the controller and downloaded back through the connection worker, as the
//    window's folder transfers request them, against OpenSSH's sftp logged in once and given
//    one put -r or get -r. The download lists the remote tree first, as the window does, and
//    the listing counts in its time. Every transfer of ours is checked byte for byte;
//  - deleted on the controller, by the worker's one remote tree removal against ssh running
//    rm -rf over a connection that is already open (as the worker's is), and against ssh
//    logging in for it, as at an operator's terminal. For information, with each time also in
//    round trips of the link: a delete over a long link is made of them.

#include "BenchSupport.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "ComparisonTable.h"
#include "LinkProfile.h"
#include "MultiplexedSsh.h"
#include "RoundSeries.h"
#include "SftpClientSession.h"
#include "SimController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using Bench::Endpoint;
using Bench::LinkProfile;
using Bench::out;

const int kSimInstance = Bench::simInstance(193);
// The job folder: files at its top, kFolders folders of files, each with kFolders folders of
// files; 8 + 4 * (8 + 4 * 10) = 200 files in 21 folders.
constexpr int kFolders = 4;
constexpr int kFilesAtTop = 8;
constexpr int kFilesInFolder = 8;
constexpr int kFilesInSubfolder = 10;
constexpr int kFiles = kFilesAtTop + kFolders * (kFilesInFolder + kFolders * kFilesInSubfolder);
constexpr qint64 kFileSize = 20 * 1024;
constexpr int kTransferRounds = 3;
constexpr int kDeleteRounds = 3;
// Target: a folder up and down at least this many times as fast as sftp -r.
constexpr double kFolderRatio = 2.0;
const QString kRemote = QStringLiteral("/home/pi/cnc/folders/");

// A path inside root; an empty relative path is root itself.
QString within(const QString &root, const QString &relative)
{
    return relative.isEmpty() ? root : root + QLatin1Char('/') + relative;
}

// The job folder's shape, relative to it: its folders, parents first and the job folder itself
// as "", and its files.
struct JobTree
{
    QStringList folders;
    QStringList files;
};

JobTree jobTree()
{
    JobTree tree;
    const auto addFolder = [&tree](const QString &folder, int files) {
        tree.folders << folder;
        for (int i = 0; i < files; ++i)
            tree.files << within(folder, QStringLiteral("O%1.nc").arg(1000 + tree.files.size()));
    };
    addFolder(QString(), kFilesAtTop);
    for (int i = 1; i <= kFolders; ++i) {
        const QString operation = QStringLiteral("op%1").arg(i);
        addFolder(operation, kFilesInFolder);
        for (int j = 1; j <= kFolders; ++j)
            addFolder(operation + QStringLiteral("/setup%1").arg(j), kFilesInSubfolder);
    }
    return tree;
}

class FolderBench
{
public:
    bool prepare();
    bool runProfile(const LinkProfile &profile);
    void printTable() const;
    bool allMet() const { return m_table.judgeAll(); }
    void finish() { m_sim.setLinkRate(QString()); }

private:
    bool measureTransfers(const LinkProfile &profile, Bench::BenchWorker &worker,
                          Bench::SftpClientSession &sftp);
    bool measureDelete(const LinkProfile &profile, const Endpoint &endpoint,
                       Bench::BenchWorker &worker);
    bool uploadByWorker(Bench::BenchWorker &worker, Bench::RoundSeries *times);
    bool downloadByWorker(Bench::BenchWorker &worker, Bench::RoundSeries *times);
    bool writeTree(const QString &root) const;
    QString local(const QString &name) const { return m_scratch.filePath(name); }
    QString onController(const QString &name) const
    {
        return m_sim.rootDir() + QStringLiteral("/folders/") + name;
    }

    SimController m_sim{kSimInstance};
    // In memory, as the controller's files are (a tmpfs): the link is measured, not this
    // machine's disk.
    QTemporaryDir m_scratch{QStringLiteral("/dev/shm/cnc-folder-bench-XXXXXX")};
    const JobTree m_tree = jobTree();
    // What arrives must equal these, the sources of the upload and of the download.
    QMap<QString, QByteArray> m_localJob;
    QMap<QString, QByteArray> m_remoteJob;
    Bench::ComparisonTable m_table;
};

bool FolderBench::writeTree(const QString &root) const
{
    for (const QString &folder : m_tree.folders) {
        if (!QDir().mkpath(within(root, folder)))
            return false;
    }
    for (const QString &file : m_tree.files) {
        if (!Bench::writeRandomFile(within(root, file), kFileSize))
            return false;
    }
    return true;
}

bool FolderBench::prepare()
{
    if (!Bench::startInMemory(m_sim) || !m_scratch.isValid())
        return false;
    if (!writeTree(local("job")) || !writeTree(onController("job"))) {
        out() << "cannot create the folders" << Qt::endl;
        return false;
    }
    m_localJob = Bench::treeHashes(local("job"));
    m_remoteJob = Bench::treeHashes(onController("job"));
    return true;
}

bool FolderBench::runProfile(const LinkProfile &profile)
{
    Bench::ShapedLink link;
    if (!link.open(m_sim, profile))
        return false;
    const Endpoint endpoint = link.endpoint();
    Bench::BenchWorker worker(endpoint.host, endpoint.port);
    Bench::SftpClientSession sftp(endpoint.host, endpoint.port);
    if (!worker.waitReady() || !sftp.start()) {
        out() << "the worker or sftp did not get ready" << Qt::endl;
        return false;
    }
    return measureTransfers(profile, worker, sftp) && measureDelete(profile, endpoint, worker);
}

bool FolderBench::uploadByWorker(Bench::BenchWorker &worker, Bench::RoundSeries *times)
{
    // The lists the window makes from the dropped folder; walking it here takes well under a
    // millisecond, so they are made before the clock starts.
    const QString target = kRemote + QStringLiteral("up-ours");
    QStringList remoteFolders, localFiles, remoteFiles;
    for (const QString &folder : m_tree.folders)
        remoteFolders << within(target, folder);
    for (const QString &file : m_tree.files) {
        localFiles << within(local("job"), file);
        remoteFiles << within(target, file);
    }
    QDir(onController("up-ours")).removeRecursively();
    QString error;
    const qint64 ms = worker.run(
        [&](CConnectionForSshClient *w) {
            w->slotUploadTree(remoteFolders, localFiles, remoteFiles);
        },
        kFiles, &error);
    if (ms < 0 || Bench::treeHashes(onController("up-ours")) != m_localJob) {
        out() << "the folder upload did not arrive intact: " << error << Qt::endl;
        return false;
    }
    times->add(ms);
    return true;
}

bool FolderBench::downloadByWorker(Bench::BenchWorker &worker, Bench::RoundSeries *times)
{
    const QString source = kRemote + QStringLiteral("job");
    const QString target = local("down-ours");
    QDir(target).removeRecursively();
    QElapsedTimer clock;
    clock.start();
    QSsh::SftpTree entries;
    QString error;
    qint64 ms = worker.listTree(source, &entries, &error);
    QStringList localFolders, remoteFiles, localFiles;
    for (const QSsh::SftpTreeEntry &entry : qAsConst(entries)) {
        if (entry.kind == QSsh::SftpTreeEntry::Kind::Folder) {
            localFolders << within(target, entry.path);
        } else if (entry.kind == QSsh::SftpTreeEntry::Kind::File) {
            remoteFiles << within(source, entry.path);
            localFiles << within(target, entry.path);
        }
    }
    if (ms >= 0 && remoteFiles.size() == kFiles) {
        ms = worker.run(
            [&](CConnectionForSshClient *w) {
                w->slotDownloadTree(localFolders, remoteFiles, localFiles);
            },
            kFiles, &error);
    }
    const qint64 total = clock.elapsed();
    if (ms < 0 || Bench::treeHashes(target) != m_remoteJob) {
        out() << "the folder download did not arrive intact (" << remoteFiles.size()
              << " files listed): " << error << Qt::endl;
        return false;
    }
    times->add(total);
    return true;
}

bool FolderBench::measureTransfers(const LinkProfile &profile, Bench::BenchWorker &worker,
                                   Bench::SftpClientSession &sftp)
{
    Bench::RoundSeries oursUp, oursDown, peerUp, peerDown;
    const auto ours = [&] {
        return uploadByWorker(worker, &oursUp) && downloadByWorker(worker, &oursDown);
    };
    const auto bySftp = [&] {
        // Into folders that are not there yet: sftp -r would put into an existing one a copy
        // of the source folder by its own name.
        QDir(onController("up-sftp")).removeRecursively();
        QDir(local("down-sftp")).removeRecursively();
        const qint64 put =
            sftp.run(QStringLiteral("put -r \"%1\" \"%2up-sftp\"\n").arg(local("job"), kRemote));
        const qint64 get =
            sftp.run(QStringLiteral("get -r \"%1job\" \"%2\"\n").arg(kRemote, local("down-sftp")));
        // Whole folders on both sides, or the comparison would not hold.
        if (put < 0 || get < 0 || Bench::treeHashes(onController("up-sftp")) != m_localJob ||
            Bench::treeHashes(local("down-sftp")) != m_remoteJob) {
            out() << "OpenSSH sftp -r failed" << Qt::endl;
            return false;
        }
        peerUp.add(put);
        peerDown.add(get);
        return true;
    };
    for (int round = 0; round < kTransferRounds; ++round) {
        if (!Bench::interleaved(round, ours, bySftp))
            return false;
    }
    const QString what = QStringLiteral("folder, %1 x 20 KiB %2").arg(kFiles);
    m_table.addRate(profile, what.arg(QStringLiteral("up")), kFiles * kFileSize, oursUp, peerUp,
                    kFolderRatio, 0.0);
    m_table.addRate(profile, what.arg(QStringLiteral("down")), kFiles * kFileSize, oursDown,
                    peerDown, kFolderRatio, 0.0);
    return true;
}

bool FolderBench::measureDelete(const LinkProfile &profile, const Endpoint &endpoint,
                                Bench::BenchWorker &worker)
{
    Bench::MultiplexedSsh ssh(endpoint, local("mux"));
    if (!ssh.start()) {
        out() << "ssh's master did not start" << Qt::endl;
        return false;
    }
    // Each side deletes a fresh copy of the job folder, written on the controller untimed.
    const auto deleted = [this](const QString &name, qint64 ms, Bench::RoundSeries *times) {
        if (ms < 0 || QFileInfo::exists(onController(name))) {
            out() << "the delete of " << name << " failed" << Qt::endl;
            return false;
        }
        times->add(ms);
        return true;
    };
    const QString rm = QStringLiteral("rm -rf ") + kRemote;
    Bench::RoundSeries ours, peer, peerWithLogin;
    const auto byWorker = [&] {
        QString error;
        const qint64 ms =
            writeTree(onController("del-ours"))
                ? worker.run(
                      [](CConnectionForSshClient *w) {
                          w->slotDeleteRemotePath(kRemote + QStringLiteral("del-ours"),
                                                  QStringLiteral("dir"));
                      },
                      1, &error)
                : -1;
        if (!error.isEmpty())
            out() << "our delete: " << error << Qt::endl;
        return deleted(QStringLiteral("del-ours"), ms, &ours);
    };
    const auto bySsh = [&] {
        return deleted(QStringLiteral("del-ssh"),
                       writeTree(onController("del-ssh")) ? ssh.run(rm + "del-ssh", 0) : -1,
                       &peer) &&
               deleted(QStringLiteral("del-login"),
                       writeTree(onController("del-login"))
                           ? Bench::sshWithLoginMs(endpoint.host, endpoint.port, rm + "del-login")
                           : -1,
                       &peerWithLogin);
    };
    for (int round = 0; round < kDeleteRounds; ++round) {
        if (!Bench::interleaved(round, byWorker, bySsh))
            return false;
    }
    // Median against median, as the listing rows: the rounds swing both ways. The delay relay
    // adds twice its one-way delay to every round trip; a time over that is the number of
    // round trips it holds.
    const double rtt = 2.0 * profile.delayMs;
    const auto inRoundTrips = [rtt](double ms) {
        return QStringLiteral("%1 ms = %2 RTT").arg(ms, 0, 'f', 0).arg(ms / rtt, 0, 'f', 1);
    };
    const auto addRow = [&](const QString &what, const Bench::RoundSeries &theirs) {
        m_table.add({QLatin1String(profile.name), what, inRoundTrips(ours.median()),
                     QStringLiteral("-"), inRoundTrips(theirs.median()),
                     QString::number(ours.median() / qMax(1.0, theirs.median()), 'f', 1),
                     QStringLiteral("-"),
                     QStringLiteral("ours %1, ssh %2 ms").arg(ours.range(0), theirs.range(0))});
    };
    addRow(QStringLiteral("delete folder vs open ssh"), peer);
    addRow(QStringLiteral("delete folder vs ssh login"), peerWithLogin);
    return true;
}

void FolderBench::printTable() const
{
    m_table.print();
    out() << "Rounds interleaved, the order turned round on odd rounds. Folders: best of "
          << kTransferRounds << "; OpenSSH: sftp logged in once, one put -r or get -r a batch. "
          << "Deletes: median of " << kDeleteRounds
          << ", for information; the ratio is our time over ssh's; ssh ran rm -rf over a "
             "multiplexed connection (open ssh) or logging in for it (ssh login). RTT: the link's "
             "round "
             "trip, twice its one-way delay."
          << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    out() << "== folders" << Qt::endl;
    if (!Bench::canRunAgainstOpenSsh())
        return 1;
    // The slow links alone: on a LAN a folder's round trips cost next to nothing.
    FolderBench bench;
    return Bench::runOverProfiles(bench, QStringLiteral("folders"),
                                  QStringLiteral("cnc_folder_bench"), app.arguments().mid(1), true);
}
