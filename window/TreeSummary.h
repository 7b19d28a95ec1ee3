#pragma once

#include "SshTypes.h"

#include <QString>

// What a delete of folders will remove, counted from their listings: "3 folders, 27 files,
// 14.2 MB". Folders count themselves; links and other entries count as files, with no size.
struct TreeSummary
{
    int folders = 0;
    int files = 0;
    quint64 bytes = 0;

    void add(const QSsh::SftpTree &tree);
    QString text(bool english) const;
};
