#pragma once

// True when the marker file "en.txt" exists (where, ProgramFiles says): the login dialog then
// speaks English, otherwise Chinese. Only the file's existence counts, and nothing is cached, so
// every text the dialog chooses follows the marker as it is at that moment.
bool isEnglish();
