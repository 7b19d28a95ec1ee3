#include "RenamePrompt.h"

#include "FolderName.h"
#include "RemoteListRoles.h"

#include <QAbstractItemModel>
#include <QInputDialog>
#include <QMessageBox>

RenamePrompt RenamePrompt::ask(QWidget *parent, bool english, const QString &oldName,
                               const QAbstractItemModel *list)
{
    RenamePrompt answer;
    bool accepted = false;
    const QString name = QInputDialog::getText(
        parent, english ? QStringLiteral("Rename") : QStringLiteral("重命名"),
        english ? QStringLiteral("Please enter the new name:") : QStringLiteral("请输入新名称:"),
        QLineEdit::Normal, oldName, &accepted);
    if (!accepted || name.isEmpty() || name == oldName)
        return answer;

    answer.outcome = Outcome::Refused;
    if (!FolderName::isAllowed(name)) {
        QMessageBox::warning(
            parent, english ? QStringLiteral("Invalid name") : QStringLiteral("无效的名称"),
            english ? QStringLiteral(
                          "Name cannot contain the following characters: / \\ * ? < > | \" :")
                    : QStringLiteral("名称不能包含以下字符: / \\ * ? < > | \" :"),
            QMessageBox::Ok);
        return answer;
    }
    // The controller refuses such a rename too; the operator learns it before anything is
    // asked of it.
    for (int row = 0; row < list->rowCount(); ++row) {
        if (list->index(row, 0).data(RemoteNameRole).toString() == name) {
            QMessageBox::warning(
                parent, english ? QStringLiteral("Name in use") : QStringLiteral("名称已被使用"),
                (english ? QStringLiteral("\"%1\" already exists in this folder.")
                         : QStringLiteral("此文件夹中已有 \"%1\"。"))
                    .arg(name),
                QMessageBox::Ok);
            return answer;
        }
    }
    answer.outcome = Outcome::Accepted;
    answer.newName = name;
    return answer;
}
