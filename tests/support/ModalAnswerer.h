#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

// Answers the modal dialogs that the code under test runs, from a timer that fires inside
// their own event loops.
class ModalAnswerer : public QObject
{
public:
    // What a dialog showed: a message box's title, text, informative text and icon; a file
    // dialog's start folder
    // and proposed name; an input dialog's label and value.
    struct Seen
    {
        QString title, text, detail;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *parent = nullptr;
    };
    static Seen describe(QWidget *dialog);

    // Calls step every 10 ms, also inside modal loops, until it returns true.
    void poll(std::function<bool()> step);
    // Hands the next modal dialog of type Dialog to act, which must close it.
    template <typename Dialog> void onNext(std::function<void(Dialog *)> act)
    {
        poll([act] {
            auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
            if (dialog)
                act(dialog);
            return dialog != nullptr;
        });
    }
    // Records the next dialog of its kind in *seen and closes it: a message box with `button`,
    // a file dialog with `choice` typed in, an input dialog with `choice` (its proposal when
    // null).
    void answerBox(QMessageBox::StandardButton button, Seen *seen = nullptr);
    void answerFileDialog(const QString &choice, Seen *seen = nullptr);
    void answerInput(const QString &choice);
    // Answers the next overwrite prompts with the buttons of these names, in order ("replace",
    // "skip", "replaceAll", "skipAll", "cancel"), recording each in *seen.
    void answerPrompts(QStringList buttons, QList<Seen> *seen = nullptr);
    // From now on every message box is recorded in `boxes` and closed with Ok once mayClose
    // allows.
    void answerEveryBox(std::function<bool()> mayClose = {});
    QList<Seen> boxes;
    // Forgets the answers that found no dialog, and the boxes seen.
    void reset()
    {
        qDeleteAll(findChildren<QTimer *>());
        boxes.clear();
    }
};
