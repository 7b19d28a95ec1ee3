#include "ModalAnswerer.h"

#include <QtWidgets>

ModalAnswerer::Seen ModalAnswerer::describe(QWidget *dialog)
{
    Seen seen{dialog->windowTitle(), {}, {}, QMessageBox::NoIcon, dialog->parentWidget()};
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        seen.text = box->text();
        seen.detail = box->informativeText();
        seen.icon = box->icon();
    } else if (auto *files = qobject_cast<QFileDialog *>(dialog)) {
        seen.text = files->directory().absolutePath();
        seen.detail = files->findChild<QLineEdit *>("fileNameEdit")->text();
    }
    return seen;
}

void ModalAnswerer::poll(std::function<bool()> step)
{
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [timer, step] {
        if (step())
            timer->deleteLater();
    });
    timer->start(10);
}

void ModalAnswerer::answerBox(QMessageBox::StandardButton button, Seen *seen)
{
    onNext<QMessageBox>([=](QMessageBox *box) {
        if (seen)
            *seen = describe(box);
        box->button(button)->click();
    });
}

void ModalAnswerer::answerFileDialog(const QString &choice, Seen *seen)
{
    onNext<QFileDialog>([=](QFileDialog *dialog) {
        if (seen)
            *seen = describe(dialog);
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(choice);
        static_cast<QDialog *>(dialog)->accept(); // checks the typed path as Enter would
    });
}

void ModalAnswerer::answerInput(const QString &choice)
{
    onNext<QInputDialog>([=](QInputDialog *dialog) {
        if (!choice.isNull())
            dialog->setTextValue(choice);
        dialog->accept();
    });
}

void ModalAnswerer::answerEveryBox(std::function<bool()> mayClose)
{
    auto current = std::make_shared<QPointer<QMessageBox>>();
    poll([this, current, mayClose] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box != *current)
            boxes << describe(*current = box);
        if (box && (!mayClose || mayClose())) {
            *current = nullptr;
            box->button(QMessageBox::Ok)->click();
        }
        return false;
    });
}

void ModalAnswerer::answerPrompts(QStringList buttons, QList<Seen> *seen)
{
    poll([buttons, seen]() mutable {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("overwritePrompt"))
            return false;
        if (seen)
            seen->append(describe(box));
        box->findChild<QPushButton *>(buttons.takeFirst())->click();
        return buttons.isEmpty();
    });
}
