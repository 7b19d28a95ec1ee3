#pragma once

#include <Qt>

// Data roles of the remote file list's items beyond icon and text.

// On the name item (column 0) of a folder or file row: the entry's own name in its folder,
// from which its remote path is built. The text shown may differ: a symbolic link shows
// " -> " and its target as well.
constexpr int RemoteNameRole = Qt::UserRole + 1;

// On the name item of every row: its RemoteRowKind, whatever language the type column shows.
constexpr int RemoteKindRole = Qt::UserRole + 2;

enum class RemoteRowKind { Navigation = 1, Folder, File };
