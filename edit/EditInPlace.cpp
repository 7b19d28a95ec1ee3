#include "EditInPlace.h"

#include "CConnectionForSshClient.h"
#include "EditSync.h"
#include "EditorChoice.h"
#include "EditsPanel.h"
#include "PreviewLauncher.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

EditInPlace::EditInPlace(CConnectionForSshClient *worker,
                         std::function<QString()> selectedRemoteFile,
                         std::function<bool()> isEnglish, PreviewLauncher *previews,
                         QWidget *window)
    : QObject(window), m_address(worker ? worker->m_strIp : QString()), m_window(window),
      m_selectedRemoteFile(std::move(selectedRemoteFile)), m_isEnglish(std::move(isEnglish)),
      m_previews(previews), m_sync(new EditSync(worker, this)), m_editAction(new QAction(this)),
      m_panelAction(new QAction(this))
{
    m_editAction->setObjectName(QStringLiteral("editAction"));
    m_editAction->setShortcut(Qt::Key_F4);
    m_editAction->setShortcutContext(Qt::WidgetShortcut);
    m_panelAction->setObjectName(QStringLiteral("editsPanelAction"));
    retranslate();
    connect(m_editAction, &QAction::triggered, this, [this] {
        if (m_selectedRemoteFile)
            edit(m_selectedRemoteFile());
    });
    connect(m_panelAction, &QAction::triggered, this, [this] {
        if (!m_panel) {
            m_panel = new EditsPanel(m_isEnglish(), m_window);
            connect(m_panel, &EditsPanel::stopWatching, this, &EditInPlace::stopWatching);
        }
        m_panel->showFiles(m_files);
    });
    connect(m_sync, &EditSync::ready, this, &EditInPlace::sendWaiting);
    window->installEventFilter(this);
}

void EditInPlace::retranslate()
{
    m_editAction->setText(text(QStringLiteral("Edit"), QStringLiteral("编辑")));
    m_panelAction->setText(
        text(QStringLiteral("Files open for editing"), QStringLiteral("正在编辑的文件")));
    if (m_panel)
        m_panel->setEnglish(m_isEnglish());
}

QString EditInPlace::workingFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/edit/") + QString::fromLatin1(QUrl::toPercentEncoding(m_address));
}

void EditInPlace::edit(const QString &remotePath)
{
    if (remotePath.isEmpty())
        return;
    for (EditedFile *file : qAsConst(m_files)) {
        if (file->remotePath() == remotePath) {
            if (file->state() != EditedFile::State::Opening)
                openEditor(file);
            return;
        }
    }
    const QString name = remotePath.mid(remotePath.lastIndexOf(QLatin1Char('/')) + 1);
    if (!m_sync->isReady()) {
        log(QStringLiteral("Cannot open %1 for editing: not connected to the controller."),
            QStringLiteral("无法打开 %1 进行编辑：未连接到控制器。"), name, true);
        return;
    }
    if (!EditorChoice::isChosen() && !EditorChoice::ask(m_window, m_isEnglish()))
        return;
    // A folder of its own per file: two files of one name from different folders never meet,
    // and a working copy left with an unsent save is never taken over.
    QDir base(workingFolder());
    int number = 1;
    while (base.exists(QString::number(number)))
        ++number;
    if (!base.mkpath(QString::number(number))) {
        emit logged(text(QStringLiteral("Cannot open %1 for editing: the folder %2 cannot be "
                                        "made."),
                         QStringLiteral("无法打开 %1 进行编辑：无法创建文件夹 %2。"))
                        .arg(name, base.filePath(QString::number(number))),
                    true);
        return;
    }
    auto *file = new EditedFile(remotePath, base.filePath(QString::number(number)), this);
    m_files << file;
    connect(file, &EditedFile::saved, this, [this, file] { onSaved(file); });
    connect(file, &EditedFile::stateChanged, this, [this] {
        if (m_panel)
            m_panel->showFiles(m_files, false);
    });
    log(QStringLiteral("Opening %1 for editing"), QStringLiteral("正在打开 %1 以便编辑"), name);
    const QPointer<EditedFile> guard = file;
    m_sync->fetch(file, [this, guard, name](const QString &error) {
        if (!guard)
            return;
        if (!error.isEmpty()) {
            emit logged(text(QStringLiteral("Cannot open %1 for editing: %2"),
                             QStringLiteral("无法打开 %1 进行编辑：%2"))
                            .arg(name, error),
                        true);
            forget(guard);
            return;
        }
        guard->watch();
        guard->setState(EditedFile::State::InSync);
        openEditor(guard);
    });
}

void EditInPlace::openEditor(EditedFile *file)
{
    QString error;
    if (EditorChoice::open(file->workingCopy(), &error)) {
        emit logged(text(QStringLiteral("Editing %1: every save goes back to the controller "
                                        "(working copy %2)"),
                         QStringLiteral("正在编辑 %1：每次保存都会送回控制器（工作副本 %2）"))
                        .arg(file->name(), file->workingCopy()),
                    false);
        return;
    }
    emit logged(text(QStringLiteral("Cannot start the editor for %1: %2"),
                     QStringLiteral("无法为 %1 启动编辑器：%2"))
                    .arg(file->name(), error),
                true);
}

void EditInPlace::onSaved(EditedFile *file)
{
    switch (file->state()) {
    case EditedFile::State::Waiting:
        // Said once; the newest save goes when the connection is back.
        if (m_sync->isReady())
            startSave(file);
        return;
    case EditedFile::State::Conflict:
        // The question is open; its answer takes the newest save.
        return;
    default:
        startSave(file);
    }
}

void EditInPlace::startSave(EditedFile *file)
{
    if (!m_sync->isReady()) {
        failed(file, QString());
        return;
    }
    file->setState(EditedFile::State::Sending);
    const QPointer<EditedFile> guard = file;
    const QByteArray sha256 = file->pendingSha256();
    m_sync->look(file->remotePath(), [this, guard, sha256](const EditSync::Look &look) {
        if (!guard)
            return;
        if (!look.error.isEmpty()) {
            failed(guard, look.error);
            return;
        }
        const EditedFile::Remote recorded = guard->recorded();
        if (look.exists && look.remote.sha256 == sha256) {
            // Already there: a save whose upload ended with the link.
            guard->record(look.remote);
            guard->setState(EditedFile::State::InSync);
            savedBack(guard->remotePath());
        } else if (look.exists && look.remote.size == recorded.size &&
                   look.remote.sha256 == recorded.sha256 &&
                   (!recorded.modified.isValid() || look.remote.modified == recorded.modified)) {
            send(guard, guard->remotePath());
        } else {
            guard->setState(EditedFile::State::Conflict);
            log(QStringLiteral("%1 was changed on the controller since it was opened for "
                               "editing; the save was not sent."),
                QStringLiteral("%1 在打开编辑之后已在控制器上被修改；此次保存未发送。"),
                guard->name(), true);
            askAboutConflict(guard);
        }
    });
}

void EditInPlace::send(EditedFile *file, const QString &target)
{
    file->setState(EditedFile::State::Sending);
    m_sync->send(
        file, target, [this, target] { savedBack(target); },
        succeeded(file, [target](EditedFile *sent) {
            sent->setRemotePath(target);
            sent->setState(EditedFile::State::InSync);
        }));
}

std::function<void(const QString &)> EditInPlace::succeeded(EditedFile *file,
                                                            std::function<void(EditedFile *)> then)
{
    return [this, guard = QPointer<EditedFile>(file), then](const QString &error) {
        if (guard && error.isEmpty())
            then(guard);
        else if (guard)
            failed(guard, error);
    };
}

void EditInPlace::savedBack(const QString &remotePath)
{
    log(QStringLiteral("Saved %1 back to the controller"), QStringLiteral("已将 %1 保存回控制器"),
        remotePath.mid(remotePath.lastIndexOf(QLatin1Char('/')) + 1));
    if (m_previews)
        m_previews->reloadRemoteFile(remotePath);
}

void EditInPlace::failed(EditedFile *file, const QString &error)
{
    if (!m_sync->isReady()) {
        if (file->state() != EditedFile::State::Waiting)
            log(QStringLiteral("%1 was saved while the connection is down; waiting for the "
                               "connection to send it back."),
                QStringLiteral("%1 在连接断开时被保存；等待连接恢复后送回控制器。"), file->name());
        file->setState(EditedFile::State::Waiting);
        return;
    }
    file->setState(EditedFile::State::Failed);
    emit logged(text(QStringLiteral("Could not save %1 back to the controller: %2. The next save "
                                    "tries again."),
                     QStringLiteral("无法将 %1 保存回控制器：%2。下次保存时将重试。"))
                    .arg(file->name(), error),
                true);
}

void EditInPlace::sendWaiting()
{
    for (EditedFile *file : qAsConst(m_files)) {
        if (file->state() == EditedFile::State::Waiting)
            startSave(file);
    }
}

void EditInPlace::askAboutConflict(EditedFile *file)
{
    auto *box = new QMessageBox(
        QMessageBox::Warning,
        text(QStringLiteral("Changed on the controller"), QStringLiteral("控制器上的文件已被修改")),
        text(QStringLiteral("%1 was changed on the controller since you opened it for editing."),
             QStringLiteral("您打开编辑 %1 之后，它已在控制器上被修改。"))
            .arg(file->name()),
        QMessageBox::NoButton, m_window);
    box->setObjectName(QStringLiteral("editConflict"));
    box->setInformativeText(
        text(QStringLiteral("Overwrite it with your version, keep the controller's version (yours "
                            "is renamed aside), or save yours as a new file beside it?"),
             QStringLiteral("用您的版本覆盖它、保留控制器上的版本（您的版本改名保留），"
                            "还是将您的版本另存为旁边的新文件？")));
    // Every button decides: no answer is taken for the operator.
    const auto addButton = [box](const char *name, const QString &label) {
        QPushButton *button = box->addButton(label, QMessageBox::AcceptRole);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    QPushButton *overwrite =
        addButton("overwrite", text(QStringLiteral("Overwrite"), QStringLiteral("覆盖")));
    QPushButton *keep = addButton("keepController", text(QStringLiteral("Keep the controller's"),
                                                         QStringLiteral("保留控制器的版本")));
    addButton("saveAsNew",
              text(QStringLiteral("Save as new file…"), QStringLiteral("另存为新文件…")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<EditedFile> guard = file;
    connect(box, &QMessageBox::buttonClicked, this,
            [this, guard, overwrite, keep](QAbstractButton *clicked) {
                if (!guard)
                    return;
                if (clicked == overwrite)
                    send(guard, guard->remotePath());
                else if (clicked == keep)
                    keepControllers(guard);
                else
                    saveAsNew(guard);
            });
    box->open();
}

void EditInPlace::keepControllers(EditedFile *file)
{
    const QFileInfo info(file->workingCopy());
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString aside = info.dir().filePath(
        info.completeBaseName() + QStringLiteral(".mine-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + suffix);
    if (!QFile::rename(file->workingCopy(), aside)) {
        failed(file, text(QStringLiteral("the working copy cannot be renamed"),
                          QStringLiteral("无法重命名工作副本")));
        return;
    }
    file->setState(EditedFile::State::Opening);
    m_sync->fetch(file, succeeded(file, [this, aside](EditedFile *fetched) {
                      fetched->setState(EditedFile::State::InSync);
                      emit logged(text(QStringLiteral("Kept the controller's version of %1; your "
                                                      "version is now %2"),
                                       QStringLiteral("已保留控制器上的 %1；您的版本现为 %2"))
                                      .arg(fetched->name(), aside),
                                  false);
                  }));
}

void EditInPlace::saveAsNew(EditedFile *file)
{
    const QFileInfo info(file->name());
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    bool accepted = false;
    const QString name = QInputDialog::getText(
        m_window, text(QStringLiteral("Save as new file"), QStringLiteral("另存为新文件")),
        text(QStringLiteral("Name of the new file beside %1:"),
             QStringLiteral("在 %1 旁边的新文件名："))
            .arg(file->name()),
        QLineEdit::Normal, info.completeBaseName() + QStringLiteral(" (edited)") + suffix,
        &accepted);
    const QString folder =
        file->remotePath().left(file->remotePath().lastIndexOf(QLatin1Char('/')) + 1);
    if (!accepted || name.isEmpty() || name.contains(QLatin1Char('/')) || name == file->name()) {
        askAboutConflict(file);
        return;
    }
    const QString target = folder + name;
    file->setState(EditedFile::State::Sending);
    const QPointer<EditedFile> guard = file;
    m_sync->look(target, [this, guard, target, name](const EditSync::Look &look) {
        if (!guard)
            return;
        if (!look.error.isEmpty() || !look.exists) {
            if (look.error.isEmpty())
                send(guard, target);
            else
                failed(guard, look.error);
            return;
        }
        guard->setState(EditedFile::State::Conflict);
        log(QStringLiteral("%1 exists on the controller already; it was not overwritten."),
            QStringLiteral("%1 在控制器上已存在；未覆盖。"), name, true);
        askAboutConflict(guard);
    });
}

void EditInPlace::stopWatching(EditedFile *file)
{
    if (!m_files.contains(file))
        return;
    if (file->hasPendingSave())
        emit logged(text(QStringLiteral("Stopped watching %1; its unsent working copy stays at %2"),
                         QStringLiteral("已停止监视 %1；未发送的工作副本保留在 %2"))
                        .arg(file->name(), file->workingCopy()),
                    false);
    else
        log(QStringLiteral("Stopped watching %1"), QStringLiteral("已停止监视 %1"), file->name());
    forget(file);
}

void EditInPlace::forget(EditedFile *file)
{
    m_files.removeOne(file);
    // A working copy with a save not yet on the controller is the only copy of that save.
    if (!file->hasPendingSave()) {
        QDir(file->folder()).removeRecursively();
        QFile::remove(file->snapshot());
    }
    file->deleteLater();
    if (m_panel)
        m_panel->showFiles(m_files, false);
}

bool EditInPlace::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close && !closeAllowed()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

bool EditInPlace::closeAllowed()
{
    QStringList unsent;
    for (const EditedFile *file : qAsConst(m_files)) {
        if (file->hasPendingSave())
            unsent << file->name();
    }
    if (unsent.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning,
                    text(QStringLiteral("Saves not sent"), QStringLiteral("保存尚未送回")),
                    text(QStringLiteral("These files have saves that have not reached the "
                                        "controller yet: %1. Close anyway?"),
                         QStringLiteral("以下文件的保存尚未送回控制器：%1。仍要关闭吗？"))
                        .arg(unsent.join(QStringLiteral(", "))),
                    QMessageBox::Yes | QMessageBox::No, m_window);
    box.setObjectName(QStringLiteral("pendingSaves"));
    box.setInformativeText(text(QStringLiteral("Their working copies stay in %1."),
                                QStringLiteral("它们的工作副本保留在 %1 中。"))
                               .arg(QDir::toNativeSeparators(workingFolder())));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
