#include "Sha256.h"

#include <QString>

#include <openssl/evp.h>

namespace QSsh::Internal {

void Sha256::Free::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    // Only a failed allocation makes these fail: nothing to recover from.
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
        qFatal("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::addData(const char *data, qint64 size)
{
    if (size > 0)
        EVP_DigestUpdate(m_context.get(), data, size_t(size));
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()), &size);
    digest.resize(int(size));
    EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr);
    return digest;
}

QString Sha256::shortHex(const QByteArray &digest)
{
    return QString::fromLatin1(digest.left(6).toHex());
}

} // namespace QSsh::Internal
