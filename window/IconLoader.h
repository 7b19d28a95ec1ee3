#pragma once

#include <QIcon>
#include <QString>

// Loads an icon file given by its bare name: from the working directory when it holds the
// file, else from the executable's directory (a program started from a desktop menu runs
// elsewhere). A file found in neither place gives a null icon.
QIcon loadIcon(const QString &fileName);
