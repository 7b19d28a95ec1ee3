#pragma once

#include <QString>

// The main window's style sheets. The action buttons come in colour variants of one blue
// style, made by replacing its base, hover and pressed colours.
namespace WindowStyles {

enum ButtonColour { Blue, Green, Red, Orange };

// The operation log's lines of failures that must not be missed.
constexpr const char *kFailureColor = "#c0392b";

QString indicator(bool connected);
QString languageButton();
QString treeView();
QString actionButton(ButtonColour colour);
QString logEdit();
QString deleteBox();

} // namespace WindowStyles
