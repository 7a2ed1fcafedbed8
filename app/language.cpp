#include "app/language.h"

#include "maintenance/stickconfig.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTextCodec>

QTranslator translator;

namespace {

constexpr const char *stickConfigPath = "/media/ZR605/config.ini";

enum LanguageCode : qint8 { English = 0, Polish = 1 };

// Narrowed to a signed byte like the stored code always was: 256 reads as 0, 257 as 1.
qint8 languageCode()
{
    const QString path = QString::fromLatin1(stickConfigPath);
    if (!StickConfig::isReadable(path))
        return English;
    const QSettings config(path, QSettings::IniFormat);
    return static_cast<qint8>(config.value(QStringLiteral("language"), 0).toInt());
}

} // namespace

void setLanguage(QCoreApplication &application)
{
    switch (languageCode()) {
    case English:
        break;
    case Polish:
        translator.load(QStringLiteral("polish.qm"), QStringLiteral(":/translations"));
        break;
    default:
        return;
    }
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("latin2"));
    application.installTranslator(&translator);
}
