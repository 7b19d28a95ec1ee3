#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// A file or folder of one side of a transfer, by its path relative to the folder the transfer
// starts from (source side) or goes into (target side), names joined by '/'.
struct TransferItem
{
    QString path;
    bool folder = false;
    quint64 size = 0;
    QDateTime modified;
};

// What a batch of uploads or downloads will do, worked out before anything is written: the
// folders to make, the files to send, and what needs the operator's word first.
struct TransferPlan
{
    struct File
    {
        TransferItem source;
        QString target;        // relative path the file goes to
        bool replaces = false; // the target side holds a file of that path
        TransferItem existing; // that file, when replaces
    };
    // A file whose target an earlier file of the batch takes already, on a target side that
    // does not tell letter case apart (or cannot keep the names' bytes apart).
    struct Clash
    {
        TransferItem source;
        QString sameAs; // the earlier file's target
    };

    QStringList folders; // to make, parents first
    QVector<File> files;
    QVector<Clash> clashes;
    // Sources that cannot go: a folder of the target side holds their path, or a file holds
    // the path of one of their folders.
    QStringList blocked;

    // sources: folders and files to send, every folder before what it holds. targetSide: what
    // the target side already has at those relative paths. foldCase: the target side may merge
    // names that differ only in letter case.
    static TransferPlan make(const QVector<TransferItem> &sources,
                             const QVector<TransferItem> &targetSide, bool foldCase);

    // The name a target side stores for path: with foldCase, letter case and bytes it cannot
    // keep apart merged, so that two paths with the same stored name are the same file there.
    static QString storedName(const QString &path, bool foldCase);

    // A free name for a clashing file: "part (2).nc", "part (3).nc"... the first one that
    // taken() does not hold.
    static QString freeName(const QString &path, const std::function<bool(const QString &)> &taken);
};
