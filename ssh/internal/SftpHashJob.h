#pragma once

#include "SftpJob.h"

#include <QByteArray>

namespace QSsh::Internal {

// The SHA-256 of a remote regular file (RemoteHash), with the size the controller reports
// for it. Nothing is written anywhere.
class SftpHashJob : public SftpJob
{
    Q_GADGET
public:
    enum class Phase { Stat, Hash, Done };
    Q_ENUM(Phase)

    SftpHashJob(SftpJobId id, const QString &remotePath);
    Result step() override;
    void abandon(const QString &reason) override;
    bool cancel() override;

    // Once the job has succeeded: 32 bytes, and the size (-1 when the controller gave none).
    QByteArray digest() const { return m_digest; }
    qint64 fileSize() const { return m_fileSize; }

private:
    void setPhase(Phase next) { changePhase(m_phase, next); }
    Result stat();
    Result hash();

    const QString m_remotePath;
    Phase m_phase = Phase::Stat;
    QByteArray m_digest;
    qint64 m_fileSize = -1;
};

} // namespace QSsh::Internal
