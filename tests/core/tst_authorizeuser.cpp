// The password store: login comparison, default record from the serial number, and a record that
// survives a failed write.

#include <QtTest>

#include "link/authorizeuser.h"
#include "tests/support/box.h"
#include "tests/core/smallcfg.h"
#include "tests/support/devicefiles.h"

namespace {

const QString passwordPath = QStringLiteral("/cfg/.zr605_password.txt");
const QString settingsPath = QStringLiteral("/cfg/settings.cfg");
const QByteArray digest = "25d55ad283aa400af464c76d713c07ad"; // MD5 of "12345678"

bool loginSucceeds(AuthorizeUser &store, const QByteArray &field)
{
    QSignalSpy answered(&store, &AuthorizeUser::authorized);
    store.checkPassword(field);
    return answered.count() == 1 && answered.first().first().toBool();
}

} // namespace

class TestAuthorizeUser : public QObject
{
    Q_OBJECT

private slots:
    void login_data()
    {
        QTest::addColumn<QByteArray>("record"); // null: no password file
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exact") << digest << digest << true;
        QTest::newRow("upper case") << digest << digest.toUpper() << false;
        QTest::newRow("record with line break") << digest + '\n' << digest << false;
        QTest::newRow("field with line break") << digest << digest + '\n' << false;
        QTest::newRow("short record, zero-padded field") << QByteArray("abc") << QByteArray("abc") + QByteArray(29, '\0') << true;
        QTest::newRow("record cut at zero byte") << digest + QByteArray("\0junk", 5) << digest << true;
        QTest::newRow("no file, empty field") << QByteArray() << QByteArray(32, '\0') << true;
        QTest::newRow("no file, digest") << QByteArray() << digest << false;
    }

    void login()
    {
        QFETCH(QByteArray, record);
        if (record.isNull())
            DeviceFiles::removeFile(passwordPath);
        else
            DeviceFiles::writeFile(passwordPath, record);
        QFETCH(QByteArray, field);
        AuthorizeUser store;
        QTEST(loginSucceeds(store, field), "accepted");
    }

    void restoreDefaultPassword_data()
    {
        QTest::addColumn<QVariant>("serial");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("serial") << QVariant("12345678") << true << digest;
        QTest::newRow("no serial") << QVariant() << false << QByteArray("old");
    }

    void restoreDefaultPassword()
    {
        QFETCH(QVariant, serial);
        QFETCH(QByteArray, file);
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.remove("SN");
        if (serial.isValid())
            settings.setValue("SN", serial);
        DeviceFiles::writeFile(passwordPath, "old");
        AuthorizeUser store;
        QTEST(store.restoreDefaultPassword(), "restored");
        QCOMPARE(DeviceFiles::readFile(passwordPath), file);
        QVERIFY(store.comparePasswordHash(file));
    }

    void updatePasswordReplacesTheWholeRecord()
    {
        DeviceFiles::writeFile(passwordPath, digest);
        AuthorizeUser store;
        QVERIFY(store.updatePassword("0123456789"));
        QCOMPARE(DeviceFiles::readFile(passwordPath), QByteArray("0123456789"));
        QVERIFY(loginSucceeds(store, "0123456789"));
        QVERIFY(!loginSucceeds(store, digest));
    }

    // A write that cannot complete keeps the complete old record, on disk and in force.
    void failedWriteKeepsTheOldRecord_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("read-only") << true;
        QTest::newRow("full") << false;
    }

    void failedWriteKeepsTheOldRecord()
    {
        QFETCH(bool, readOnly);
        SmallCfg cfg;
        QVERIFY(cfg.mounted());
        DeviceFiles::writeFile(passwordPath, digest);
        AuthorizeUser store;
        QVERIFY(readOnly ? cfg.makeReadOnly() : cfg.fill());

        // Longer than the page that truncating the old record would free.
        const QByteArray longRecord(6000, 'a');
        const bool updated = store.updatePassword(longRecord);
        const QByteArray after = DeviceFiles::readFile(passwordPath);

        QVERIFY(!updated);
        QCOMPARE(after, digest);
        QVERIFY(loginSucceeds(store, digest));
        QVERIFY(!loginSucceeds(store, longRecord));
    }

private:
    static void fillFileSystem(const QString &path)
    {
        QFile filler(path);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'x');
        while (filler.write(block) == block.size()) {
        }
    }
};

QUORVANT_TEST_MAIN(TestAuthorizeUser)
#include "tst_authorizeuser.moc"
