// The translation language follows the system locale; ctest runs this under several locales and
// names the expected language in ZR_EXPECTED_LANGUAGE.

#include "testdevice.h"

#include <QtTest>

class tst_Language : public QObject {
    Q_OBJECT
private slots:
    void followsSystemLocale()
    {
        QVERIFY2(qEnvironmentVariableIsSet("ZR_EXPECTED_LANGUAGE"),
            "run by ctest under a chosen locale");
        TestDevice device;
        QCOMPARE(device.language, qEnvironmentVariable("ZR_EXPECTED_LANGUAGE"));
    }
};

QTEST_GUILESS_MAIN(tst_Language)
#include "tst_language.moc"
