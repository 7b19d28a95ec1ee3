#include "WindowTestSupport.h"

#include "ControllerShell.h"
#include "SimController.h"

const QString kRootDir = QStringLiteral("/home/pi/cnc/");

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

QString setting(const QString &key)
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(key).toString();
}

void setSetting(const QString &key, const QString &value)
{
    QSettings(settingsPath(), QSettings::IniFormat).setValue(key, value);
}

QStringList logLines(const QWidget &window)
{
    const QString text =
        window.findChild<QPlainTextEdit *>(QStringLiteral("m_logEdit"))->toPlainText();
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.mid(11); // after "hh:mm:ss - "
    return lines;
}

QStandardItemModel *listModel(const QWidget &window)
{
    return window.findChild<QStandardItemModel *>(QStringLiteral("m_model"));
}

QStringList column(const QWidget &window, int column)
{
    const QStandardItemModel *model = listModel(window);
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->item(row, column)->text();
    return texts;
}

QPushButton *button(const QWidget &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

bool fileButtonsEnabled(const QWidget &window)
{
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"}) {
        if (!button(window, name)->isEnabled())
            return false;
    }
    return true;
}

bool selectRows(QWidget &window, const QStringList &names)
{
    auto *selection = window.findChild<QTreeView *>(QStringLiteral("m_treeView"))->selectionModel();
    selection->clearSelection();
    const QStringList shown = column(window);
    for (const QString &name : names) {
        if (!shown.contains(name))
            return false;
        selection->select(listModel(window)->index(shown.indexOf(name), 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    return true;
}

void doubleClick(QWidget &window, const QString &name)
{
    const QModelIndex index = listModel(window)->index(column(window).indexOf(name), 0);
    QVERIFY(QMetaObject::invokeMethod(&window, "onRemoteDoubleClicked", Q_ARG(QModelIndex, index)));
}

QString fixture(const char *name)
{
    QFile file(QStringLiteral(CNC_LISTING_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QString::fromUtf8(file.readAll());
}
