#pragma once

#include "SftpJob.h"

namespace QSsh::Internal {

// Sets right a replacement that a lost connection cut off halfway (SftpUploadJob's fallback
// that renames the target aside): looks at what is there and puts the old content back under
// the target's name if that name is free, or else removes what the finished replacement no
// longer needs. Nothing that may be the only copy of a content is ever removed.
class SftpRecoveryJob : public SftpJob
{
    Q_GADGET
public:
    // Public so that the meta-object system can name the phases in traces.
    enum class Phase {
        StatTarget,
        StatBackup,
        StatTemporary,
        PutBackOld,
        PutNewInPlace,
        RemoveBackup,
        RemoveTemporary,
        Done
    };
    Q_ENUM(Phase)

    SftpRecoveryJob(SftpJobId id, const SftpInterruptedReplacement &replacement);
    Result step() override;
    void abandon(const QString &reason) override;
    bool cancel() override;

    // Once the job has succeeded: what it found and did.
    SftpRecovery outcome() const { return m_outcome; }

private:
    void setPhase(Phase next) { changePhase(m_phase, next); }

    Result stepPhase();
    // Looks path up without following a link; *exists tells the answer once it has come.
    Result stat(const QString &path, bool *exists);
    Result rename(const QString &from, const QString &to);
    Result remove(const QString &path);
    // Decides from what exists what is to be done.
    void decide();
    // The phase after the old or the new content holds the target's name.
    Phase cleanUpPhase() const;

    const SftpInterruptedReplacement m_names;
    Phase m_phase = Phase::StatTarget;
    bool m_targetExists = false;
    bool m_backupExists = false;
    bool m_temporaryExists = false;
    SftpRecovery m_outcome = SftpRecovery::Untouched;
};

} // namespace QSsh::Internal
