#pragma once

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

// Helpers shared by the window tests.
namespace WindowTestSupport {

// The settings file the window reads: beside the executable.
inline QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

inline QString setting(const QString &key)
{
    return QSettings(settingsPath(), QSettings::IniFormat).value(key).toString();
}

inline void setSetting(const QString &key, const QString &value)
{
    QSettings(settingsPath(), QSettings::IniFormat).setValue(key, value);
}

// The operation log as shown.
inline QString logText(const QWidget &window)
{
    return window.findChild<QTextEdit *>(QStringLiteral("m_logEdit"))->toPlainText();
}

// The log lines without their "hh:mm:ss - " prefix; none for an empty log.
inline QStringList logTexts(const QWidget &window)
{
    const QString plain = logText(window);
    QStringList texts;
    if (!plain.isEmpty()) {
        for (const QString &line : plain.split(QLatin1Char('\n')))
            texts << line.mid(11);
    }
    return texts;
}

} // namespace WindowTestSupport
