#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

struct evp_md_ctx_st;

namespace QSsh::Internal {

// SHA-256 of data that arrives in pieces. OpenSSL's implementation (libssh2's crypto backend
// here) hashes several times faster than QCryptographicHash on the controllers' PCs, which
// matters when every transferred byte is hashed on the thread that drives the connection.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qint64 size);
    // The 32 bytes of the digest; the hash starts over afterwards.
    QByteArray result();

    // The first digits of a digest, as the operator sees it in messages.
    static QString shortHex(const QByteArray &digest);

private:
    struct Free
    {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};

} // namespace QSsh::Internal
