// The language chosen at start-up from the stick configuration.

#include <QtTest>

#include "app/language.h"
#include "tests/support/box.h"

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QCoreApplication::removeTranslator(&translator);
        translator.load(nullptr, 0); // drops whatever an earlier row loaded
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    }

    void languageCodeSelectsCodecAndCatalogue_data()
    {
        QTest::addColumn<QVariant>("language"); // invalid: no key
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("version"); // "Version" as the player would show it
        QTest::newRow("1 Polish") << QVariant(1) << QByteArray("ISO-8859-2") << true << "Wersja";
        QTest::newRow("0 English") << QVariant(0) << QByteArray("ISO-8859-2") << true << "Version";
        QTest::newRow("256 narrows to 0") << QVariant(256) << QByteArray("ISO-8859-2") << true << "Version";
        QTest::newRow("257 narrows to 1") << QVariant(257) << QByteArray("ISO-8859-2") << true << "Wersja";
        QTest::newRow("word Polish reads 0") << QVariant("Polish") << QByteArray("ISO-8859-2") << true << "Version";
        QTest::newRow("no key") << QVariant() << QByteArray("ISO-8859-2") << true << "Version";
        QTest::newRow("2 changes nothing") << QVariant(2) << QByteArray("UTF-8") << false << "Version";
        QTest::newRow("-1 changes nothing") << QVariant(-1) << QByteArray("UTF-8") << false << "Version";
    }

    void languageCodeSelectsCodecAndCatalogue()
    {
        QFETCH(QVariant, language);
        // Written through the settings view this process shares with setLanguage.
        QSettings config(Box::stickPath() + "/config.ini", QSettings::IniFormat);
        config.remove("language");
        if (language.isValid())
            config.setValue("language", language);

        setLanguage(*QCoreApplication::instance());

        QTEST(QCoreApplication::translate("PlayerManager", "Version"), "version");
        QTEST(QTextCodec::codecForLocale()->name(), "codec");
        QTEST(QCoreApplication::removeTranslator(&translator), "installed");
    }
};

QUORVANT_TEST_MAIN(TestLanguage)
#include "tst_language.moc"
