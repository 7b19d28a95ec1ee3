#include "SftpDownloadJob.h"

#include <QFileInfo>

namespace QSsh::Internal {

namespace {

// libssh2 keeps requests for four buffers in flight, 1.5 MiB here, which fills the link. More
// holds the thread up: a libssh2 call reads and decrypts whatever has arrived on the
// connection, for every channel, before it returns, and with 4 MiB in flight for each of two
// downloads one call took up to 38 ms while queued calls waited behind it.
constexpr int kBufferSize = SftpJob::kLongestRead;

} // namespace

SftpDownloadJob::SftpDownloadJob(SftpJobId id, const QString &remotePath, const QString &localPath,
                                 bool overwrite)
    : SftpFetchJob(id, remotePath, Phase::OpenLocal), m_writer(localPath), m_overwrite(overwrite)
{}

SftpJob::Result SftpDownloadJob::stepOwnPhase()
{
    switch (phase()) {
    case Phase::OpenLocal:
        return openLocal();
    case Phase::Reading:
        return repeatWithinBudget([this] { return read(); },
                                  [this] { return phase() == Phase::Reading; });
    case Phase::Verify:
        return verify();
    case Phase::Commit:
        return awaitCommit();
    default:
        return Result::Done;
    }
}

SftpJob::Result SftpDownloadJob::openLocal()
{
    if (!m_overwrite && QFileInfo::exists(m_writer.fileName())) {
        return fail(
            sftpTr("Cannot write local file \"%1\": it already exists.").arg(m_writer.fileName()));
    }
    const QString failure = m_writer.open(wakeFromAnyThread());
    if (!failure.isEmpty())
        return fail(failure);
    setPhase(Phase::StatRemote);
    return Result::Progress;
}

QString SftpDownloadJob::takeRemoteSize(qint64 size)
{
    m_expectedSize = size;
    m_bytesTotal = quint64(size);
    return QString();
}

void SftpDownloadJob::prepareReading()
{
    // libssh2 asks for four times what a call may take, in pieces of 30,000 bytes, before it
    // answers: with a whole buffer, a small file cost over a hundred requests, answered by the
    // end of the file. A call needs no more than the size the controller reported. The size
    // stays the same for the whole file, as libssh2 expects.
    m_readSize =
        m_expectedSize < 0 ? kBufferSize : int(qBound<qint64>(1, m_expectedSize, kBufferSize));
    m_buffer = m_writer.takeBuffer(kBufferSize);
}

void SftpDownloadJob::dropData()
{
    m_writer.discard();
    m_buffer.clear();
    m_buffer.squeeze();
}

SftpJob::Result SftpDownloadJob::complete()
{
    if (m_cancelRequested)
        return fail(sftpCancelledText(m_remotePath));
    if (verifies()) {
        startVerification(m_remotePath);
        setPhase(Phase::Verify);
        return Result::Progress;
    }
    setPhase(Phase::Commit);
    m_writer.commit();
    return Result::Idle;
}

// The local file is committed only once the controller's hash matches what was written.
SftpJob::Result SftpDownloadJob::verify()
{
    if (m_cancelRequested)
        cancelRemoteHash();
    const Result verifying = stepVerification(m_remotePath);
    if (verifying != Result::Done)
        return verifying;
    // A cancel that came while the check's last call was under way still counts.
    if (m_cancelRequested)
        return fail(sftpCancelledText(m_remotePath));
    if (!m_error.isEmpty())
        return fail(m_error);
    setPhase(Phase::Commit);
    m_writer.commit();
    return Result::Idle;
}

SftpJob::Result SftpDownloadJob::awaitCommit()
{
    if (!m_writer.isFinished())
        return Result::Idle;
    if (m_error.isEmpty())
        m_error = m_writer.error();
    setPhase(Phase::Done);
    return Result::Done;
}

SftpJob::Result SftpDownloadJob::read()
{
    // A call that answered EAGAIN is repeated into the same buffer whatever the writer does;
    // a new one starts only while the writer has room for what it brings.
    if (!insideCall()) {
        const QString failure = m_writer.error();
        if (!failure.isEmpty())
            return fail(failure);
        if (!m_writer.hasRoom())
            return Result::Idle;
    }
    if (!acquire())
        return Result::Idle;
    const ssize_t n = settle(int(libssh2_sftp_read(m_handle, m_buffer.data(), size_t(m_readSize))));
    if (n < 0)
        return readFailed(int(n));
    if (n == 0) {
        if (m_expectedSize >= 0 && m_received != m_expectedSize)
            return failEndedEarly(m_received, m_expectedSize);
        m_buffer.clear();
        m_buffer.squeeze();
        m_dataComplete = true;
        setPhase(Phase::Close);
        return Result::Progress;
    }
    // A read ends inside a call most of the time (the next one answers EAGAIN), so a cancel
    // is taken up here, right after one has completed.
    if (m_cancelRequested && !insideCall()) {
        stopForCancel();
        return Result::Progress;
    }
    m_buffer.resize(int(n));
    hashLocalData(m_buffer.constData(), n);
    m_writer.write(std::move(m_buffer));
    m_buffer = m_writer.takeBuffer(kBufferSize);
    m_received += n;
    m_bytesDone = quint64(m_received);
    return Result::Progress;
}

void SftpDownloadJob::abandon(const QString &reason)
{
    // Every byte had arrived: the commit decides, whatever happens to the connection.
    if (phase() == Phase::Commit) {
        m_writer.waitForFinished();
        awaitCommit();
        return;
    }
    m_writer.discard();
    m_writer.waitForFinished();
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Read, m_remotePath, reason);
    setPhase(Phase::Done);
}

} // namespace QSsh::Internal
