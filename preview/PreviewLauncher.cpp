#include "PreviewLauncher.h"

#include "AddressBook.h"
#include "CConnectionForSshClient.h"
#include "PreviewWindow.h"
#include "RemoteReads.h"

#include <QAction>
#include <QFileDialog>
#include <QWidget>

namespace {
// The controller's file a preview window shows, kept on the window for a reload.
const char kRemotePath[] = "remotePath";
} // namespace

PreviewLauncher::PreviewLauncher(CConnectionForSshClient *worker,
                                 std::function<QString()> selectedRemoteFile,
                                 std::function<bool()> isEnglish, QWidget *window)
    : QObject(window), m_window(window), m_selectedRemoteFile(std::move(selectedRemoteFile)),
      m_isEnglish(std::move(isEnglish)), m_previewAction(new QAction(this)),
      m_previewLocalAction(new QAction(this)), m_address(worker ? worker->m_strIp : QString())
{
    m_previewAction->setObjectName(QStringLiteral("previewAction"));
    // Space previews the selected file where the list offers the action.
    m_previewAction->setShortcut(Qt::Key_Space);
    m_previewAction->setShortcutContext(Qt::WidgetShortcut);
    m_previewLocalAction->setObjectName(QStringLiteral("previewLocalAction"));
    retranslate();
    connect(m_previewAction, &QAction::triggered, this, &PreviewLauncher::onPreviewTriggered);
    connect(m_previewLocalAction, &QAction::triggered, this,
            &PreviewLauncher::onPreviewLocalTriggered);
    if (worker) {
        connect(this, &PreviewLauncher::sigReadRemoteFile, worker,
                &CConnectionForSshClient::slotReadRemoteFile);
        connect(this, &PreviewLauncher::sigCancelRemoteRead, worker,
                &CConnectionForSshClient::slotCancelRemoteRead);
        connect(worker, &CConnectionForSshClient::sigRemoteFileRead, this,
                &PreviewLauncher::onRemoteFileRead);
    }
}

void PreviewLauncher::retranslate()
{
    const bool english = m_isEnglish();
    m_previewAction->setText(english ? QStringLiteral("Preview") : QStringLiteral("预览"));
    m_previewLocalAction->setText(english ? QStringLiteral("Preview local file…")
                                          : QStringLiteral("预览本地文件…"));
}

void PreviewLauncher::onPreviewTriggered()
{
    const QString path = m_selectedRemoteFile ? m_selectedRemoteFile() : QString();
    if (!path.isEmpty())
        previewRemoteFile(path);
}

void PreviewLauncher::onPreviewLocalTriggered()
{
    const QString path =
        QFileDialog::getOpenFileName(m_window, m_isEnglish() ? QStringLiteral("Preview local file")
                                                             : QStringLiteral("预览本地文件"));
    if (!path.isEmpty())
        previewLocalFile(path);
}

PreviewWindow *PreviewLauncher::previewLocalFile(const QString &localPath)
{
    auto *window = new PreviewWindow(m_isEnglish(), m_window);
    window->setMachineProfile(machineProfile());
    window->openLocalFile(localPath);
    window->show();
    return window;
}

MachineProfile PreviewLauncher::machineProfile() const
{
    return m_machine ? *m_machine : AddressBook::profileOf(m_address);
}

PreviewWindow *PreviewLauncher::previewRemoteFile(const QString &remotePath)
{
    auto *window = new PreviewWindow(m_isEnglish(), m_window);
    window->setProperty(kRemotePath, remotePath);
    readInto(window, remotePath);
    window->show();
    return window;
}

void PreviewLauncher::reloadRemoteFile(const QString &remotePath)
{
    const auto windows =
        m_window ? m_window->findChildren<PreviewWindow *>() : QList<PreviewWindow *>();
    for (PreviewWindow *window : windows) {
        if (window->property(kRemotePath).toString() == remotePath)
            readInto(window, remotePath);
    }
}

void PreviewLauncher::readInto(PreviewWindow *window, const QString &remotePath)
{
    window->setMachineProfile(machineProfile());
    const QString name = remotePath.mid(remotePath.lastIndexOf(QLatin1Char('/')) + 1);
    window->showReading(name);
    const quint64 request = RemoteReads::nextRequest();
    m_pending.insert(request, Pending{window, name});
    // Closing the window drops the read still under way.
    connect(window, &QObject::destroyed, this, [this, request] {
        if (m_pending.remove(request))
            emit sigCancelRemoteRead(request);
    });
    emit sigReadRemoteFile(request, remotePath, PreviewWindow::kMaxProgramBytes);
}

void PreviewLauncher::onRemoteFileRead(quint64 request, QByteArray data, qint64 fileSize,
                                       QString error)
{
    const Pending pending = m_pending.take(request);
    if (!pending.window)
        return;
    const bool english = m_isEnglish();
    if (fileSize > PreviewWindow::kMaxProgramBytes) {
        const QString text = PreviewWindow::tooLargeText(pending.name, fileSize, english);
        pending.window->showFailure(pending.name, text);
        emit failureLogged(
            (english ? QStringLiteral("Preview: %1") : QStringLiteral("预览：%1")).arg(text));
        return;
    }
    if (!error.isEmpty()) {
        pending.window->showFailure(
            pending.name, (english ? QStringLiteral("Cannot read “%1” from the controller: %2")
                                   : QStringLiteral("无法从控制器读取“%1”：%2"))
                              .arg(pending.name, error));
        emit failureLogged((english ? QStringLiteral("Preview of %1 failed: %2")
                                    : QStringLiteral("预览 %1 失败: %2"))
                               .arg(pending.name, error));
        return;
    }
    pending.window->showProgram(pending.name, data);
}
