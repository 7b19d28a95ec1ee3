#include "SoakFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

namespace SoakFiles {

QByteArray writeRandomFile(const QString &path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QByteArray();
    QRandomGenerator generator(seed);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray piece;
    for (qint64 left = size; left > 0; left -= piece.size()) {
        piece.resize(int(qMin<qint64>(left, 64 * 1024)));
        for (char &byte : piece)
            byte = char(generator.bounded(256));
        if (file.write(piece) != piece.size())
            return QByteArray();
        hash.addData(piece);
    }
    return hash.result();
}

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result();
}

bool sameContent(const QByteArray &digest, const QByteArray &expected)
{
    return !digest.isNull() && digest == expected;
}

qint64 bytesUnder(const QString &dir)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

QStringList entryNames(const QString &dir)
{
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace SoakFiles
