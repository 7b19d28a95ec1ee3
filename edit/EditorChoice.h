#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The editor files are opened with for editing in place, kept in the settings file as
// "editor": "system" for the desktop's default application (QDesktopServices), or a command
// line in which %f stands for the file. The editor is started without a shell, so a file's
// name reaches it as one argument, whatever it holds.
namespace EditorChoice {

// Whether the operator has chosen an editor yet.
bool isChosen();
// Asks the operator which editor to use and keeps the answer; false when cancelled.
bool ask(QWidget *parent, bool english);
// Opens path in the chosen editor; false, with the reason in *error, when it cannot start.
bool open(const QString &path, QString *error);

// The program and its arguments for a command line and a file: every %f of an argument
// becomes the path; without any %f the path is the last argument. Empty for an empty line.
QStringList commandFor(const QString &commandLine, const QString &path);

} // namespace EditorChoice
