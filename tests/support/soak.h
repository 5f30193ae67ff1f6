#pragma once

// The length of a soak run, and room for it under QtTest, which ends a test function after five
// minutes unless QTEST_FUNCTION_TIMEOUT says otherwise.

#include <QtGlobal>

// The seconds the variable asks for, at least least.
inline int soakSeconds(const char* variable, int least)
{
    return qMax(least, qEnvironmentVariableIntValue(variable));
}

// Gives a test function the soak's length and two minutes more; call it before QTest::qExec.
inline void allowSoak(int seconds)
{
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((qint64(seconds) + 120) * 1000));
}

// A main() that makes room for the soak before running the tests of class.
#define SOAK_TEST_MAIN(Class, variable, least)                                                     \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        allowSoak(soakSeconds(variable, least));                                                   \
        QCoreApplication app(argc, argv);                                                          \
        Class test;                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
