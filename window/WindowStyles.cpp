#include "WindowStyles.h"

namespace WindowStyles {

QString indicator(bool connected)
{
    return connected ? QStringLiteral("QLabel{background-color:#00ff00;border-radius:6px;}")
                     : QStringLiteral("QLabel{background-color:#ff0000;border-radius:6px;}");
}

QString languageButton()
{
    return QStringLiteral(
        "QPushButton { background-color: #f0f0f0; color: #333; border: 1px solid #ccc;"
        " padding: 4px 12px; border-radius: 6px; font-size: 13px; font-weight: 500;"
        " min-width: 60px; }"
        "QPushButton:hover { background-color: #e0e0e0; border-color: #999; }"
        "QPushButton:pressed { background-color: #d0d0d0; }");
}

QString treeView()
{
    return QStringLiteral(
        "QTreeView { border: 1px solid #d1d5db; border-radius: 10px; background-color: #ffffff;"
        " selection-background-color: #007aff; selection-color: white; outline: none;"
        " gridline-color: #f3f4f6; }"
        "QTreeView::item { padding: 12px 8px; border-bottom: 1px solid #f3f4f6; font-size: 14px; }"
        "QTreeView::item:hover { background-color: #f8f9fa; }"
        "QTreeView::item:selected { background-color: #007aff; color: white; border-radius: 6px; }"
        "QTreeView::item:selected:hover { background-color: #0056b3; }"
        "QHeaderView::section { background-color: #f8f9fa; padding: 12px 8px; border: none;"
        " border-bottom: 2px solid #e9ecef; font-weight: 600; font-size: 14px; color: #374151; }"
        "QHeaderView::section:first { border-top-left-radius: 10px; }"
        "QHeaderView::section:last { border-top-right-radius: 10px; }");
}

QString actionButton(ButtonColour colour)
{
    // Qt's style sheets know no "transform", so the hover lift of the original design is left
    // out: Qt would only warn about an unknown property.
    QString style = QStringLiteral(
        "QPushButton { background-color: #007aff; color: white; border: none; padding: 12px 24px;"
        " border-radius: 8px; font-size: 14px; font-weight: 600; min-width: 120px; }"
        "QPushButton:hover { background-color: #0056b3; }"
        "QPushButton:pressed { background-color: #004085; }"
        "QPushButton:disabled { background-color: #e9ecef; color: #6c757d; }");
    // Base, hover and pressed colours of each variant.
    static const char *const variants[][3] = {{"#007aff", "#0056b3", "#004085"},
                                              {"#34c759", "#28a745", "#1e7e34"},
                                              {"#ff3b30", "#dc3545", "#c82333"},
                                              {"#ff9500", "#fd7e14", "#e66100"}};
    if (colour != Blue) {
        style.replace(QLatin1String(variants[Blue][0]), QLatin1String(variants[colour][0]));
        style.replace(QLatin1String(variants[Blue][1]), QLatin1String(variants[colour][1]));
        style.replace(QLatin1String(variants[Blue][2]), QLatin1String(variants[colour][2]));
    }
    return style;
}

QString logEdit()
{
    return QStringLiteral(
        "QPlainTextEdit { border: 1px solid #d1d5db; border-radius: 10px;"
        " background-color: #f8f9fa;"
        " font-family: 'SF Mono', 'Monaco', 'Consolas', 'Courier New', monospace;"
        " font-size: 13px; color: #374151; padding: 12px; selection-background-color: #007aff;"
        " selection-color: white; }"
        "QPlainTextEdit:focus { border-color: #007aff; }");
}

QString deleteBox()
{
    return QStringLiteral(R"(
QMessageBox { background-color: #f8f9fa; border-radius: 8px; }
QMessageBox QLabel { color: #2c3e50; font-size: 14px; }
QMessageBox QPushButton {
    background-color: #007aff; color: white; border: none; padding: 8px 16px;
    border-radius: 6px; font-weight: bold; min-width: 80px;
}
QMessageBox QPushButton:hover { background-color: #0056b3; }
QMessageBox QPushButton:pressed { background-color: #004085; }
QMessageBox QPushButton[text='删除'] { background-color: #dc3545; }
QMessageBox QPushButton[text='删除']:hover { background-color: #c82333; }
QMessageBox QPushButton[text='删除']:pressed { background-color: #bd2130; }
)");
}

} // namespace WindowStyles
