#pragma once

// The window's language: English exactly when the settings file's key "language" holds "en",
// Chinese otherwise. Read at each use, so that every part of the window follows a toggle at
// once.
namespace UiLanguage {

bool isEnglish();
// Writes the other language; anything but "zh" counts as Chinese and gives "zh".
void toggle();

} // namespace UiLanguage
