#include "UiLanguage.h"

#include "ProgramFiles.h"

#include <QSettings>

namespace {

const QString kLanguageKey = QStringLiteral("language");

QString storedLanguage(const QSettings &settings)
{
    return settings.value(kLanguageKey, QStringLiteral("zh")).toString();
}

} // namespace

bool UiLanguage::isEnglish()
{
    const QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    return storedLanguage(settings) == QLatin1String("en");
}

void UiLanguage::toggle()
{
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    settings.setValue(kLanguageKey, storedLanguage(settings) == QLatin1String("zh")
                                        ? QStringLiteral("en")
                                        : QStringLiteral("zh"));
}
