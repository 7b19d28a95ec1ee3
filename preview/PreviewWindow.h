#pragma once

#include "MachineProfile.h"
#include "Toolpath.h"

#include <QByteArray>
#include <QFutureWatcher>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class ProgramTextModel;
class ProgramTextView;
class QButtonGroup;
class QLabel;
class QListWidget;
class QPushButton;
class ToolpathView;

// A non-modal window that shows one program: its text beside the plot of its toolpath, the
// summary and the notes. Interpreting runs in a worker thread; the window stays usable, and
// closing it stops the work. It deletes itself when closed.
class PreviewWindow : public QWidget
{
    Q_OBJECT
public:
    // Larger programs are refused, local and remote alike.
    static constexpr qint64 kMaxProgramBytes = 64 * 1024 * 1024;

    explicit PreviewWindow(bool english, QWidget *parent = nullptr);
    ~PreviewWindow() override;

    // The machine the programs are checked and timed for; set before a program is shown.
    void setMachineProfile(const MachineProfile &machine);

    // While the program is fetched from the controller.
    void showReading(const QString &name);
    void showProgram(const QString &name, const QByteArray &text);
    void openLocalFile(const QString &path);
    void showFailure(const QString &name, const QString &message);
    // The refusal of a file larger than kMaxProgramBytes.
    static QString tooLargeText(const QString &name, qint64 size, bool english);

    ToolpathView *plot() const { return m_plot; }
    QString statusText() const;

signals:
    // The program has been interpreted and is shown.
    void programShown();

private:
    struct Loaded
    {
        QByteArray text;
        std::shared_ptr<const Toolpath> toolpath;
        qint64 size = -1;
        QString error;
    };

    void interpretInBackground(const QString &name, std::function<Loaded()> load);
    void onInterpreted();
    void onOpenClicked();
    void selectLine(int line);
    void setStatus(const QString &text, bool problem);
    QString tr2(const char *english, const char *chinese) const;

    const bool m_english;
    MachineProfile m_machine;
    QString m_name;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    ProgramTextView *m_textView = nullptr;
    ProgramTextModel *m_textModel = nullptr;
    ToolpathView *m_plot = nullptr;
    QLabel *m_summaryLabel = nullptr;
    QListWidget *m_notesList = nullptr;
    QButtonGroup *m_projectionButtons = nullptr;
    QFutureWatcher<Loaded> *m_watcher = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel;
};
