#pragma once

#include <QString>

// Where the program keeps its own files: the settings file "settings.ini", the language marker
// "en.txt", the controller host keys "known_hosts" and the address book "controllers.json". Every
// reader and writer of these files asks here.
//
// They live beside the executable while that directory is writable and the program is not
// installed: the build tree, or a copy of the program in a folder of its own. An installed
// program (the install step leaves the file "installed" beside it), or one whose directory it
// may not write, keeps them in the operator's configuration folder for the program
// (QStandardPaths::AppConfigLocation), whoever runs it, root included. A file missing there is
// first copied from the installation directory, so that an administrator can preset the
// address, the language or the known hosts for everyone. The marker en.txt counts in either
// place.
//
// Nothing is cached: every call looks at the file system again. GUI thread only.
namespace ProgramFiles {

QString settingsFile();
QString knownHostsFile();
QString addressBookFile();
// True when en.txt exists: the login dialog then speaks English.
bool hasEnglishMarker();

} // namespace ProgramFiles
