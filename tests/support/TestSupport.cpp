#include "TestSupport.h"

#include <QtCore>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    // Whole words at a time: tens of megabytes a byte at a time cost seconds in the sanitizer
    // build.
    QVector<quint32> words((size + 3) / 4);
    generator.fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

bool writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray piece(1024 * 1024, Qt::Uninitialized);
    for (; size > 0; size -= piece.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(piece.data()),
                                              piece.size() / 4);
        const int n = int(qMin<qint64>(size, piece.size()));
        if (file.write(piece.constData(), n) != n)
            return false;
    }
    return file.flush();
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex()
                                                                 : QByteArray("<missing>");
}

QStringList sshFingerprints(const QByteArray &knownHostsLines)
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"), {"-l", "-f", "-"});
    keygen.write(knownHostsLines);
    keygen.closeWriteChannel();
    keygen.waitForFinished(30000);
    // "256 SHA256:... <host> (ED25519)"
    static const QRegularExpression line(QStringLiteral("^\\d+ (SHA256:\\S+) .*\\((\\w+)\\)$"),
                                         QRegularExpression::MultilineOption);
    QStringList keys;
    auto matches = line.globalMatch(QString::fromUtf8(keygen.readAllStandardOutput()));
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        keys << match.captured(2) + QLatin1Char(' ') + match.captured(1);
    }
    return keys;
}

QStringList strayTemporaries(const QString &directory)
{
    static const QRegularExpression temporary("\\.part-|\\.old-|\\.[A-Za-z0-9]{6}$");
    return QDir(directory).entryList(QDir::Files | QDir::Hidden).filter(temporary);
}

static void addTree(const QByteArray &root, const QByteArray &relative,
                    QMap<QByteArray, QByteArray> *tree)
{
    DIR *dir = ::opendir((root + '/' + relative).constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + '/' + path;
        struct stat info;
        if (::lstat(full.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            tree->insert(path, "dir");
            addTree(root, path, tree);
        } else if (S_ISLNK(info.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(full.constData(), target, sizeof target);
            tree->insert(path, "-> " + QByteArray(target, int(qMax<ssize_t>(0, length))));
        } else {
            // Opened by its bytes: the name need not be text.
            QFile file;
            QCryptographicHash hash(QCryptographicHash::Sha256);
            const int fd = ::open(full.constData(), O_RDONLY);
            const bool read = fd >= 0 &&
                              file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) &&
                              hash.addData(&file);
            tree->insert(path, read ? hash.result().toHex() : QByteArray("<unreadable>"));
        }
    }
    ::closedir(dir);
}

QMap<QByteArray, QByteArray> treeOf(const QString &root)
{
    QMap<QByteArray, QByteArray> tree;
    addTree(QFile::encodeName(root), QByteArray(), &tree);
    return tree;
}

void emptyFolder(const QString &folder)
{
    for (const QFileInfo &entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}
