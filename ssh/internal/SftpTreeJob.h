#pragma once

#include "SftpJob.h"

#include <QByteArray>
#include <QVector>

#include <vector>

namespace QSsh::Internal {

// Walks a remote tree without following links, one request at a time: lists it (folders
// before what they hold), or removes it depth first. A folder is read to its end and its handle
// closed before anything inside it is touched, so a removal never changes a folder while it is
// being read. The walk keeps its own stack, however deep the tree. Names stay the controller's
// bytes throughout; they become text only for the entries and the error.
class SftpTreeJob : public SftpJob
{
    Q_GADGET
public:
    enum class Mode { List, Remove };
    // Public so that the meta-object system can name the phases in traces.
    enum class Phase {
        StatRoot,
        OpenFolder,
        ReadFolder,
        CloseFolder,
        RemoveEntry,
        RemoveFolder,
        Done
    };
    Q_ENUM(Phase)

    SftpTreeJob(SftpJobId id, Mode mode, const QString &path);
    Result step() override;
    void abandon(const QString &reason) override;
    bool cancel() override;

    Mode mode() const { return m_mode; }
    // What a successful listing found, else empty.
    SftpTree entries() const { return m_error.isEmpty() ? m_entries : SftpTree(); }

private:
    struct Child
    {
        QByteArray name;
        LIBSSH2_SFTP_ATTRIBUTES attributes{};
    };
    // A folder on the walk: its children once read, taken from the back as the walk goes on.
    struct Folder
    {
        QByteArray relative; // to the root, empty for the root itself
        bool read = false;
        std::vector<Child> pending;
    };

    void setPhase(Phase next) { changePhase(m_phase, next); }

    Result stepPhase();
    Result statRoot();
    Result openFolder();
    Result readFolder();
    Result closeFolder();
    // Unlinks or rmdirs m_target.
    Result remove(SftpOperation operation);
    // Takes the walk on to its next request, recording entries on the way.
    void advance();
    void record(const QByteArray &relative, const LIBSSH2_SFTP_ATTRIBUTES &attributes);
    // Ends the job with text as its error, unless it has one: closes the folder's handle first.
    Result fail(const QString &text);
    Result failWithRc(SftpOperation operation, const QByteArray &path, int rc);
    QByteArray remotePath(const QByteArray &relative) const;
    static QString text(const QByteArray &path);

    const Mode m_mode;
    const QString m_path;
    QByteArray m_root; // m_path's bytes, without a trailing '/'
    Phase m_phase = Phase::StatRoot;
    std::vector<Folder> m_stack;
    QByteArray m_target; // what RemoveEntry or RemoveFolder removes
    SftpTree m_entries;
};

} // namespace QSsh::Internal
