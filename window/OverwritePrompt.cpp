#include "OverwritePrompt.h"

#include "FileSizeText.h"

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

OverwritePrompt::OverwritePrompt(QWidget *parent, bool english, bool uploading)
    : m_parent(parent), m_english(english), m_uploading(uploading)
{}

QString OverwritePrompt::describe(const TransferItem &item) const
{
    const QString time =
        item.modified.isValid()
            ? item.modified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            : text(QStringLiteral("time unknown"), QStringLiteral("时间未知"));
    return fileSizeText(QString::number(item.size)) + QStringLiteral(", ") + time;
}

OverwritePrompt::Answer OverwritePrompt::askReplace(const QString &path,
                                                    const TransferItem &incoming,
                                                    const TransferItem &existing)
{
    const QString here = text(QStringLiteral("Local"), QStringLiteral("本地"));
    const QString there = text(QStringLiteral("On the controller"), QStringLiteral("控制器上"));
    const QString details = text(QStringLiteral("Existing (%1): %2\nNew (%3): %4"),
                                 QStringLiteral("现有 (%1): %2\n新的 (%3): %4"))
                                .arg(m_uploading ? there : here, describe(existing),
                                     m_uploading ? here : there, describe(incoming));
    return ask(text(QStringLiteral("Replace File"), QStringLiteral("替换文件")),
               text(QStringLiteral("\"%1\" already exists. Replace it?"),
                    QStringLiteral("\"%1\" 已存在。是否替换？"))
                   .arg(path),
               details, text(QStringLiteral("Replace"), QStringLiteral("替换")), &m_replaceAll);
}

OverwritePrompt::Answer OverwritePrompt::askClash(const QString &path, const QString &sameAs)
{
    return ask(text(QStringLiteral("Same Local Name"), QStringLiteral("本地名称相同")),
               text(QStringLiteral("\"%1\" would be saved as the same file as \"%2\"."),
                    QStringLiteral("\"%1\" 会与 \"%2\" 保存为同一个文件。"))
                   .arg(path, sameAs),
               text(QStringLiteral("Keep both saves it under a free name."),
                    QStringLiteral("保留两者会以一个未使用的名称保存它。")),
               text(QStringLiteral("Keep Both"), QStringLiteral("保留两者")), &m_clashAll);
}

OverwritePrompt::Answer OverwritePrompt::ask(const QString &title, const QString &question,
                                             const QString &details, const QString &replaceLabel,
                                             std::optional<Answer> *forAll)
{
    if (*forAll)
        return **forAll;
    QMessageBox box(m_parent);
    box.setObjectName(QStringLiteral("overwritePrompt"));
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(title);
    box.setText(question);
    box.setInformativeText(details);
    // Tests press the buttons by these names.
    const auto add = [&box](const QString &label, QMessageBox::ButtonRole role, const char *name) {
        QPushButton *button = box.addButton(label, role);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    QPushButton *replace = add(replaceLabel, QMessageBox::AcceptRole, "replace");
    QPushButton *skip =
        add(text(QStringLiteral("Skip"), QStringLiteral("跳过")), QMessageBox::RejectRole, "skip");
    QPushButton *replaceAll =
        add(text(QStringLiteral("%1 All"), QStringLiteral("全部%1")).arg(replaceLabel),
            QMessageBox::AcceptRole, "replaceAll");
    QPushButton *skipAll = add(text(QStringLiteral("Skip All"), QStringLiteral("全部跳过")),
                               QMessageBox::RejectRole, "skipAll");
    QPushButton *cancel = add(text(QStringLiteral("Cancel"), QStringLiteral("取消")),
                              QMessageBox::DestructiveRole, "cancel");
    // Enter alone must not write over a file; Escape cancels the batch.
    box.setDefaultButton(skip);
    box.setEscapeButton(cancel);
    box.exec();
    const QAbstractButton *clicked = box.clickedButton();
    if (clicked == replaceAll)
        *forAll = Answer::Replace;
    if (clicked == skipAll)
        *forAll = Answer::Skip;
    if (clicked == replace || clicked == replaceAll)
        return Answer::Replace;
    if (clicked == skip || clicked == skipAll)
        return Answer::Skip;
    return Answer::Cancel;
}
