#include "EditorChoice.h"

#include "ProgramFiles.h"

#include <QDesktopServices>
#include <QInputDialog>
#include <QProcess>
#include <QSettings>
#include <QUrl>

namespace {

const QString kEditorKey = QStringLiteral("editor");
const QString kSystemDefault = QStringLiteral("system");

QString chosenEditor()
{
    return QSettings(ProgramFiles::settingsFile(), QSettings::IniFormat)
        .value(kEditorKey)
        .toString();
}

} // namespace

namespace EditorChoice {

bool isChosen()
{
    return !chosenEditor().isEmpty();
}

bool ask(QWidget *parent, bool english)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("editorChoice"));
    dialog.setWindowTitle(english ? QStringLiteral("Editor") : QStringLiteral("编辑器"));
    dialog.setLabelText(
        english ? QStringLiteral("Command line of the editor to edit files with, %f for the "
                                 "file (for instance: gedit %f).\nLeave it empty for the "
                                 "system's default application.")
                : QStringLiteral("用于编辑文件的编辑器命令行，%f 代表文件（例如：gedit %f）。\n"
                                 "留空则使用系统默认应用程序。"));
    const QString current = chosenEditor();
    dialog.setTextValue(current == kSystemDefault ? QString() : current);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString command = dialog.textValue().trimmed();
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    settings.setValue(kEditorKey, command.isEmpty() ? kSystemDefault : command);
    return true;
}

QStringList commandFor(const QString &commandLine, const QString &path)
{
    QStringList command = QProcess::splitCommand(commandLine);
    bool placed = false;
    // The program itself is never taken from the file's name.
    for (int i = 1; i < command.size(); ++i) {
        if (command.at(i).contains(QLatin1String("%f"))) {
            command[i].replace(QLatin1String("%f"), path);
            placed = true;
        }
    }
    if (!command.isEmpty() && !placed)
        command << path;
    return command;
}

bool open(const QString &path, QString *error)
{
    const QString editor = chosenEditor();
    if (editor.isEmpty() || editor == kSystemDefault) {
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            return true;
        *error = QStringLiteral("no application opens this kind of file");
        return false;
    }
    QStringList command = commandFor(editor, path);
    const QString program = command.takeFirst();
    if (QProcess::startDetached(program, command))
        return true;
    *error = QStringLiteral("%1 did not start").arg(program);
    return false;
}

} // namespace EditorChoice
