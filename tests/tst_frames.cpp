// The frame envelope in both directions: wrapping, cutting a byte stream into frames, and
// splitting reply items.

#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QtTest>

class tst_Frames : public QObject {
    Q_OBJECT
private slots:
    void pack_data();
    void pack();
    void packLengthAtDigitBoundaries_data();
    void packLengthAtDigitBoundaries();
    void packLengthIsAlwaysExact();

    void decodeBuffer_data();
    void decodeBuffer();
    void decodeBufferByteByByte();
    void decodeBufferSurvivesReentry();
    void decodeBufferAfterASubclassShrankIt_data();
    void decodeBufferAfterASubclassShrankIt();
    void decodeBufferBoundsUnterminatedBytes_data();
    void decodeBufferBoundsUnterminatedBytes();

    void splitItem_data();
    void splitItem();
};

void tst_Frames::pack_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("register read")
        << "CMD"
        << "GET5;" << QByteArray::fromHex("0231343b434d443b474554353b03");
    QTest::newRow("heartbeat read")
        << "CCMD"
        << "1010;" << QByteArray::fromHex("0231353b43434d443b313031303b03");
    QTest::newRow("empty payload") << "CMD"
                                   << ""
                                   << QByteArray("\x02"
                                                 "8;CMD;\x03");
    QTest::newRow("copies") << "CMD"
                            << "NUM:2;"
                            << QByteArray("\x02"
                                          "15;CMD;NUM:2;\x03");
    QTest::newRow("cut file") << "PLT"
                              << "IN;PU0,0;PD100,0;"
                              << QByteArray("\x02"
                                            "26;PLT;IN;PU0,0;PD100,0;\x03");
}

void tst_Frames::pack()
{
    QFETCH(QString, head);
    QFETCH(QString, payload);
    QFETCH(QByteArray, frame);
    QCOMPARE(ZRDeviceProperty().pack(payload, head), frame);
}

void tst_Frames::packLengthAtDigitBoundaries_data()
{
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<int>("length");
    QTest::newRow("5") << 5 << 9;
    QTest::newRow("94") << 94 << 99;
    QTest::newRow("95") << 95 << 101;
    QTest::newRow("993") << 993 << 999;
    QTest::newRow("994") << 994 << 1001;
    QTest::newRow("995") << 995 << 1002;
    QTest::newRow("9992") << 9992 << 9999;
    QTest::newRow("9993") << 9993 << 10001;
}

void tst_Frames::packLengthAtDigitBoundaries()
{
    QFETCH(int, bodyBytes);
    QFETCH(int, length);
    // The body is head + ';' + payload.
    const QByteArray frame = ZRDeviceProperty().pack(QString(bodyBytes - 4, 'x'), "CMD");
    QCOMPARE(frame.size(), length);
    QCOMPARE(frame.mid(1, frame.indexOf(';') - 1).toInt(), length);
}

void tst_Frames::packLengthIsAlwaysExact()
{
    ZRDeviceProperty property;
    for (int payload = 0; payload < 12000; ++payload) {
        const QByteArray frame = property.pack(QString(payload, 'x'), "PLT");
        const int field = frame.mid(1, frame.indexOf(';') - 1).toInt();
        if (field != frame.size())
            QFAIL(qPrintable(QString("payload %1: field %2, frame %3")
                                 .arg(payload)
                                 .arg(field)
                                 .arg(frame.size())));
    }
}

void tst_Frames::decodeBuffer_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QByteArray>("left");

    const QString getFive = QStringLiteral("\x02"
                                           "14;CMD;GET5;\x03");
    QTest::newRow("one frame") << QByteArray("\x02"
                                             "14;CMD;GET5;\x03")
                               << QStringList { getFive } << QByteArray();
    QTest::newRow("junk, frame, start of the next") << QByteArray("junk\x02"
                                                                  "14;CMD;GET5;\x03\x02"
                                                                  "1")
                                                    << QStringList { getFive }
                                                    << QByteArray("\x02"
                                                                  "1");
    QTest::newRow("two frames in one read") << QByteArray("\x02"
                                                          "14;CMD;GET5;\x03\x02"
                                                          "16;CCMD;1010,5;\x03")
                                            << QStringList { getFive,
                                                   QStringLiteral("\x02"
                                                                  "16;CCMD;1010,5;\x03") }
                                            << QByteArray();
    QTest::newRow("two STX: the second starts the frame") << QByteArray(
        "\x02"
        "99;CMD;GE\x02"
        "14;CMD;GET5;\x03") << QStringList { getFive } << QByteArray();
    QTest::newRow("only ETX bytes") << QByteArray("\x03\x03\x03") << QStringList() << QByteArray();
    QTest::newRow("no STX before ETX")
        << QByteArray("CMD;GET5;\x03") << QStringList() << QByteArray();
    QTest::newRow("nothing complete yet") << QByteArray("\x02"
                                                        "14;CMD;GE")
                                          << QStringList()
                                          << QByteArray("\x02"
                                                        "14;CMD;GE");
    QTest::newRow("utf-8 text") << QByteArray("\x02"
                                              "18;CCMD;55,\xe4\xb8\xad;\x03")
                                << QStringList { QString::fromUtf8("\x02"
                                                                   "18;CCMD;55,\xe4\xb8\xad;\x03") }
                                << QByteArray();
}

void tst_Frames::decodeBuffer()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, frames);
    QFETCH(QByteArray, left);

    TestDevice device;
    device.recordFrames = true;
    device.receive(bytes);
    QCOMPARE(device.dispatched, frames);
    QCOMPARE(device.recv_buffer, left);
}

void tst_Frames::decodeBufferByteByByte()
{
    const QByteArray stream = QByteArray("\x02"
                                         "14;CMD;GET5;\x03"
                                         "noise\x02"
                                         "16;CCMD;1010,5;\x03\x02"
                                         "2");
    TestDevice device;
    device.recordFrames = true;
    for (char byte : stream)
        device.receive(QByteArray(1, byte));
    QCOMPARE(device.dispatched,
        QStringList({ "\x02"
                      "14;CMD;GET5;\x03",
            "\x02"
            "16;CCMD;1010,5;\x03" }));
    QCOMPARE(device.recv_buffer,
        QByteArray("\x02"
                   "2"));
}

// A handler may spin an event loop that delivers more bytes while a frame is being dispatched.
void tst_Frames::decodeBufferSurvivesReentry()
{
    TestDevice device;
    device.recordFrames = true;
    int depth = 0;
    device.onFrame = [&](const QString&) {
        if (depth++ < 3)
            device.receive(QByteArray(4096, 'z')
                + "\x02"
                  "14;CMD;GET5;\x03\x02"
                  "1");
    };
    device.receive("\x02"
                   "14;CMD;GET5;\x03\x02"
                   "14;CMD;GET6;\x03");
    const QString five = QStringLiteral("\x02"
                                        "14;CMD;GET5;\x03");
    QCOMPARE(device.dispatched,
        QStringList({ five,
            QStringLiteral("\x02"
                           "14;CMD;GET6;\x03"),
            five, five, five }));
    device.receive("4;CMD;GET7;\x03");
    QCOMPARE(device.dispatched.last(),
        QStringLiteral("\x02"
                       "14;CMD;GET7;\x03"));
}

// recv_buffer is open to subclasses, which may clear or shrink it at any time.
void tst_Frames::decodeBufferAfterASubclassShrankIt_data()
{
    QTest::addColumn<int>("keptByHandler"); // bytes a handler leaves; -1: no handler
    QTest::addColumn<QStringList>("frames");

    const QString a("\x02"
                    "14;CMD;GET5;\x03");
    const QString b("\x02"
                    "14;CMD;GET6;\x03");
    const QString c("\x02"
                    "14;CMD;GET7;\x03");
    QTest::newRow("cleared between reads") << -1 << QStringList { a, b, c };
    QTest::newRow("cleared by a handler") << 0 << QStringList { a, c };
    QTest::newRow("shrunk by a handler") << 3 << QStringList { a, c };
}

void tst_Frames::decodeBufferAfterASubclassShrankIt()
{
    QFETCH(int, keptByHandler);
    TestDevice device;
    device.recordFrames = true;
    if (keptByHandler >= 0)
        device.onFrame = [&](const QString&) { device.recv_buffer.truncate(keptByHandler); };
    device.receive("\x02"
                   "14;CMD;GET5;\x03"
                   "\x02"
                   "14;CMD;GET6;\x03"
                   "\x02"
                   "pending bytes");
    if (keptByHandler < 0)
        device.recv_buffer.clear();
    device.onFrame = nullptr;
    device.receive("\x02"
                   "14;CMD;GET7;\x03");
    QTEST(device.dispatched, "frames");
    QVERIFY(device.recv_buffer.isEmpty());
}

void tst_Frames::decodeBufferBoundsUnterminatedBytes_data()
{
    QTest::addColumn<QByteArray>("flood");
    QTest::addColumn<QByteArray>("afterwards");
    QTest::addColumn<QString>("frame");

    QTest::newRow("junk without STX") << QByteArray(200 * 1024, 'x')
                                      << QByteArray("\x02"
                                                    "14;CMD;GET5;\x03")
                                      << QStringLiteral("\x02"
                                                        "14;CMD;GET5;\x03");
    QTest::newRow("a frame that never ends") << (QByteArray("\x02") + QByteArray(200 * 1024, 'y'))
                                             << QByteArray("\x03\x02"
                                                           "14;CMD;GET5;\x03")
                                             << QStringLiteral("\x02"
                                                               "14;CMD;GET5;\x03");
    QTest::newRow("flood, then a frame begins") << (QByteArray(200 * 1024, 'x')
        + "\x02"
          "14;CMD;") << QByteArray("GET5;\x03")
                                                << QStringLiteral("\x02"
                                                                  "14;CMD;GET5;\x03");
}

void tst_Frames::decodeBufferBoundsUnterminatedBytes()
{
    QFETCH(QByteArray, flood);
    QFETCH(QByteArray, afterwards);
    QFETCH(QString, frame);

    TestDevice device;
    device.recordFrames = true;
    for (int at = 0; at < flood.size(); at += 1000)
        device.receive(flood.mid(at, 1000));
    QVERIFY2(device.recv_buffer.size() <= 64 * 1024, QByteArray::number(device.recv_buffer.size()));
    device.receive(afterwards);
    QVERIFY(!device.dispatched.isEmpty());
    QCOMPARE(device.dispatched.last(), frame);
}

void tst_Frames::splitItem_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("value");

    QTest::newRow("SET7:15") << "SET7:15"
                             << "SET" << 7 << "15";
    QTest::newRow("GET82:32868") << "GET82:32868"
                                 << "GET" << 82 << "32868";
    QTest::newRow("no colon") << "GET12"
                              << "GET" << 12 << "GET12";
    QTest::newRow("two colons") << "A:B:C"
                                << "A" << 0 << "C";
    QTest::newRow("colon first") << ":5"
                                 << "" << 0 << "5";
    QTest::newRow("empty") << ""
                           << "" << 0 << "";
    QTest::newRow("no number") << "SET:5"
                               << "SET" << 0 << "5";
    QTest::newRow("empty value") << "SET7:"
                                 << "SET" << 7 << "";
    QTest::newRow("lower-case name") << "set7:15"
                                     << "" << 0 << "15";
    QTest::newRow("negative number") << "SET-7:1"
                                     << "SET" << -7 << "1";
    QTest::newRow("number too large") << "SET99999999999:1"
                                      << "SET" << 0 << "1";
    QTest::newRow("outside latin-1") << QString::fromUtf8("SET7:\xe4\xb8\xad") << "SET" << 7 << "?";
    QTest::newRow("ETX attached") << "GET82:5\x03"
                                  << "GET" << 82 << "5\x03";
}

void tst_Frames::splitItem()
{
    QFETCH(QString, item);
    TestDevice device;
    QString name = "stale";
    int number = -1;
    QString value = "stale";
    device.decode_cmd(item, name, number, value);
    QTEST(name, "name");
    QTEST(number, "number");
    QTEST(value, "value");
}

QTEST_GUILESS_MAIN(tst_Frames)
#include "tst_frames.moc"
