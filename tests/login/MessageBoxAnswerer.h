#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>

// Answers the message boxes that the code under test runs modally, from a timer inside their
// own event loop: records what each box shows and presses its Ok button as soon as mayClose()
// allows (at once when no condition is given).
class MessageBoxAnswerer
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent = nullptr;
    };

    explicit MessageBoxAnswerer(std::function<bool()> mayClose = {})
        : m_mayClose(std::move(mayClose))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    const QList<Box> &boxes() const { return m_boxes; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != m_current) {
            m_current = box;
            m_boxes.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                            box->parentWidget()});
        }
        if (m_mayClose && !m_mayClose())
            return;
        m_current = nullptr;
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    std::function<bool()> m_mayClose;
    QTimer m_timer;
    QPointer<QMessageBox> m_current;
    QList<Box> m_boxes;
};
