// The commands a parameter builds for itself and the replies it applies to its value.

#include "hanging.h"
#include "zrdeviceproperty.h"

#include <QtTest>

#include <memory>

using Kind = ZRDeviceInterface::ZRDeviceCMDType;
Q_DECLARE_METATYPE(Kind)

namespace {

struct Parameter {
    std::unique_ptr<ZRDeviceProperty> property = std::make_unique<ZRDeviceProperty>();
    std::vector<std::unique_ptr<ZRDeviceProperty>> members;

    Parameter(Kind kind, int get, int set, int length, const QVariant& value,
        const QStringList& param = {})
    {
        property->init(value, "p", QString(), get, set, length, kind, param);
    }
    ZRDeviceProperty* addMember(const char* name, const QVariant& value)
    {
        members.push_back(std::make_unique<ZRDeviceProperty>());
        members.back()->init(value, name, QString(), 0, 0, 0, ZRDeviceInterface::UnCMD, {});
        hangParameter(property.get(), name, members.back().get());
        return members.back().get();
    }
};

QByteArray frame(const QString& head, const QString& payload)
{
    return payload.isNull() ? QByteArray() : ZRDeviceProperty().pack(payload, head);
}

const QStringList workArea { "WORKAREA_X", "WORKAREA_Y" };

} // namespace

class tst_Payloads : public QObject {
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void groupWrite();
    void decode_data();
    void decode();
    void decodeGroup_data();
    void decodeGroup();
    void decodeIsSilent();
};

void tst_Payloads::commands_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("get");
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("length");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QStringList>("param");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("read"); // null: no read command
    QTest::addColumn<QString>("write"); // null: no write command

    const QString none;
    QTest::newRow("register") << Kind::CMD << 26 << 26 << 1 << QVariant(300u) << QStringList()
                              << "CMD"
                              << "GET26;"
                              << "SET26:300;";
    QTest::newRow("three registers, negative int")
        << Kind::CMD << 40 << 40 << 3 << QVariant(-2500) << QStringList() << "CMD"
        << "GET40;41;42;"
        << "SET40:63036;41:65535;42:0;";
    QTest::newRow("three registers, negative real")
        << Kind::CMD << 40 << 40 << 3 << QVariant(-2500.0) << QStringList() << "CMD"
        << "GET40;41;42;"
        << "SET40:63036;41:65535;42:0;";
    QTest::newRow("two registers, high word")
        << Kind::CMD << 40 << 40 << 2 << QVariant(65536) << QStringList() << "CMD"
        << "GET40;41;"
        << "SET40:0;41:1;";
    QTest::newRow("two registers, text value")
        << Kind::CMD << 28 << 28 << 2 << QVariant("3000") << QStringList() << "CMD"
        << "GET28;29;"
        << "SET28:3000;29:0;";
    QTest::newRow("two registers, unparsable text")
        << Kind::CMD << 28 << 28 << 2 << QVariant("abc") << QStringList() << "CMD"
        << "GET28;29;"
        << "SET28:0;29:0;";
    QTest::newRow("two registers, real rounds")
        << Kind::CMD << 28 << 28 << 2 << QVariant(2.6) << QStringList() << "CMD"
        << "GET28;29;"
        << "SET28:3;29:0;";
    QTest::newRow("eight registers stop at six")
        << Kind::CMD << 5 << 5 << 8 << QVariant(7) << QStringList() << "CMD"
        << "GET5;6;7;8;9;10;11;12;"
        << "SET5:7;6:0;7:0;8:0;9:0;10:0;";
    QTest::newRow("one register, real value")
        << Kind::CMD << 40 << 40 << 1 << QVariant(12.5) << QStringList() << "CMD"
        << "GET40;"
        << "SET40:12.5;";
    QTest::newRow("real in shortest form")
        << Kind::CMD << 40 << 40 << 1 << QVariant(1200.5) << QStringList() << "CMD"
        << "GET40;"
        << "SET40:1200.5;";
    QTest::newRow("length 0: bare SET")
        << Kind::CMD << 5 << 5 << 0 << QVariant(7) << QStringList() << "CMD" << none << "SET";
    QTest::newRow("register 125 stop")
        << Kind::CMD << 125 << 125 << 1 << QVariant(2) << QStringList() << "CMD"
        << "GET125;"
        << "SET125:2;";
    QTest::newRow("ccmd with parameter")
        << Kind::CCMD << 70 << 70 << 1 << QVariant(15) << QStringList { "2" } << "CCMD"
        << "70,2;"
        << "70,2,15;";
    QTest::newRow("heartbeat") << Kind::CCMD << 1010 << 1010 << 1 << QVariant(2) << QStringList()
                               << "CCMD"
                               << "1010;"
                               << "1010,2;";
    QTest::newRow("ccmd write only")
        << Kind::CCMD << 0 << 67 << 1 << QVariant(0) << QStringList() << "CCMD" << none << "67,0;";
    QTest::newRow("ccmd read only")
        << Kind::CCMD << 57 << 0 << 1 << QVariant(QString()) << QStringList() << "CCMD"
        << "57;" << none;
    QTest::newRow("ccmd length 0")
        << Kind::CCMD << 57 << 57 << 0 << QVariant(1) << QStringList() << "CCMD" << none << "57,1;";
    QTest::newRow("ccmd text") << Kind::CCMD << 55 << 55 << 1 << QVariant("a.plt") << QStringList()
                               << "CCMD"
                               << "55;"
                               << "55,a.plt;";
    QTest::newRow("copies") << Kind::NUM << 1 << 1 << 1 << QVariant(2) << QStringList() << "CMD"
                            << none << "NUM:2;";
    QTest::newRow("cut file") << Kind::PLT << 1 << 1 << 1 << QVariant("IN;PU0,0;PD10,10;")
                              << QStringList() << "PLT" << none << "IN;PU0,0;PD10,10;";
    QTest::newRow("cut file, second form")
        << Kind::PPLT << 0 << 1 << 1 << QVariant("IN;") << QStringList() << "PPLT" << none << "IN;";
    QTest::newRow("qr-code cut data") << Kind::QRPLT << 1 << 1 << 1 << QVariant("IN;")
                                      << QStringList() << "QR_PLT" << none << "IN;";
    QTest::newRow("no command") << Kind::UnCMD << 5 << 5 << 1 << QVariant(1) << QStringList() << ""
                                << none << none;
    QTest::newRow("unknown kind") << Kind(7) << 5 << 5 << 1 << QVariant(1) << QStringList() << ""
                                  << none << none;
}

void tst_Payloads::commands()
{
    QFETCH(Kind, kind);
    QFETCH(int, get);
    QFETCH(int, set);
    QFETCH(int, length);
    QFETCH(QVariant, value);
    QFETCH(QStringList, param);
    QFETCH(QString, head);
    QFETCH(QString, read);
    QFETCH(QString, write);

    Parameter p(kind, get, set, length, value, param);
    QCOMPARE(p.property->get_cmd_bytes(), frame(head, read));
    QCOMPARE(p.property->set_cmd_bytes(), frame(head, write));
    QCOMPARE(p.property->value(), value);
}

void tst_Payloads::groupWrite()
{
    Parameter group(Kind::CCMD, 63, 22, 1, workArea);
    group.addMember("WORKAREA_X", 1200.5);
    group.addMember("WORKAREA_Y", 900.0);
    QCOMPARE(group.property->get_cmd_bytes(), frame("CCMD", "63;"));
    QCOMPARE(group.property->set_cmd_bytes(), frame("CCMD", "22,1200.5,900;"));

    // A name without a member adds nothing; the group's own parameter list is not sent.
    Parameter gaps(Kind::CCMD, 16, 15, 1, QStringList { "A", "MISSING", "B" }, { "9" });
    gaps.addMember("A", -12.5);
    gaps.addMember("B", 3);
    QCOMPARE(gaps.property->set_cmd_bytes(), frame("CCMD", "15,-12.5,3;"));
}

void tst_Payloads::decode_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("param");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("unsigned") << Kind::CMD << QStringList() << QVariant(300u)
                              << QStringList { "450" } << QVariant(450u);
    QTest::newRow("unsigned, not a number")
        << Kind::CMD << QStringList() << QVariant(300u) << QStringList { "x" } << QVariant(0u);
    QTest::newRow("unsigned, negative")
        << Kind::CMD << QStringList() << QVariant(300u) << QStringList { "-1" } << QVariant(0u);
    QTest::newRow("int, not a number")
        << Kind::CMD << QStringList() << QVariant(7) << QStringList { "abc" } << QVariant(0);
    QTest::newRow("string") << Kind::CCMD << QStringList() << QVariant("") << QStringList { "abc" }
                            << QVariant("abc");
    QTest::newRow("double") << Kind::CMD << QStringList() << QVariant(1.0) << QStringList { "1.5" }
                            << QVariant(1.5);
    QTest::newRow("invalid stays invalid")
        << Kind::CCMD << QStringList() << QVariant() << QStringList { "5" } << QVariant();
    QTest::newRow("bool unchanged")
        << Kind::CMD << QStringList() << QVariant(true) << QStringList { "0" } << QVariant(true);
    QTest::newRow("json unchanged")
        << Kind::UnCMD << QStringList() << QVariant(QJsonObject { { "a", 1 } })
        << QStringList { "0" } << QVariant(QJsonObject { { "a", 1 } });

    QTest::newRow("two words to negative int")
        << Kind::CMD << QStringList() << QVariant(0u) << QStringList { "63036", "65535", "0" }
        << QVariant(-2500);
    QTest::newRow("two words replace a double") << Kind::CMD << QStringList() << QVariant(0.0)
                                                << QStringList { "5", "1" } << QVariant(65541);
    QTest::newRow("word above 16 bits reads 0") << Kind::CMD << QStringList() << QVariant(0)
                                                << QStringList { "70000", "1" } << QVariant(65536);
    QTest::newRow("words not numbers")
        << Kind::CMD << QStringList() << QVariant(9) << QStringList { "x", "y" } << QVariant(0);

    QTest::newRow("ccmd parameter matches") << Kind::CCMD << QStringList { "2" } << QVariant(15)
                                            << QStringList { "2", "18" } << QVariant(18);
    QTest::newRow("ccmd parameter differs") << Kind::CCMD << QStringList { "2" } << QVariant(15)
                                            << QStringList { "3", "18" } << QVariant(15);
    QTest::newRow("ccmd reply shorter than parameters")
        << Kind::CCMD << QStringList { "2", "4" } << QVariant(15) << QStringList { "2", "4" }
        << QVariant(15);
    QTest::newRow("ccmd without parameters takes the first")
        << Kind::CCMD << QStringList() << QVariant(1) << QStringList { "7", "8" } << QVariant(7);
    QTest::newRow("ccmd text ignores two fields") << Kind::CCMD << QStringList() << QVariant("a")
                                                  << QStringList { "1", "2" } << QVariant("a");
    QTest::newRow("file kinds ignore lists") << Kind::PLT << QStringList() << QVariant("IN;")
                                             << QStringList { "1", "2" } << QVariant("IN;");
}

void tst_Payloads::decode()
{
    QFETCH(Kind, kind);
    QFETCH(QStringList, param);
    QFETCH(QVariant, value);
    QFETCH(QStringList, reply);
    QFETCH(QVariant, expected);

    Parameter p(kind, 5, 5, 1, value, param);
    p.property->set_decode(reply);
    QCOMPARE(p.property->value().userType(), expected.userType());
    QCOMPARE(p.property->value(), expected);
}

void tst_Payloads::decodeGroup_data()
{
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QVariant>("x");
    QTest::addColumn<QVariant>("y");

    QTest::newRow("both fields") << QStringList { "1300", "950.5" } << QVariant(1300.0)
                                 << QVariant(950.5);
    QTest::newRow("one field stays on the group")
        << QStringList { "1300" } << QVariant(1.0) << QVariant(2.0);
    QTest::newRow("extra fields ignored")
        << QStringList { "3", "4", "5" } << QVariant(3.0) << QVariant(4.0);
}

void tst_Payloads::decodeGroup()
{
    QFETCH(QStringList, reply);
    Parameter group(Kind::CCMD, 63, 22, 1, workArea);
    ZRDeviceProperty* x = group.addMember("WORKAREA_X", 1.0);
    ZRDeviceProperty* y = group.addMember("WORKAREA_Y", 2.0);
    group.property->set_decode(reply);
    QTEST(x->value(), "x");
    QTEST(y->value(), "y");
    QCOMPARE(group.property->value(), QVariant(workArea));

    // Fewer fields than names: only the members that have one change.
    Parameter three(Kind::CCMD, 2, 0, 1, QStringList { "A", "B", "C" });
    ZRDeviceProperty* a = three.addMember("A", QString());
    ZRDeviceProperty* c = three.addMember("C", QString("old"));
    three.property->set_decode(QStringList { "ZR-TX4150V", "17" });
    QCOMPARE(a->value(), QVariant("ZR-TX4150V"));
    QCOMPARE(c->value(), QVariant("old"));
}

void tst_Payloads::decodeIsSilent()
{
    Parameter p(Kind::CMD, 26, 26, 1, 5);
    QSignalSpy changed(p.property.get(), &ZRDeviceProperty::valueChanged);
    p.property->set_decode(QStringList { "9" });
    QCOMPARE(p.property->value(), QVariant(9));
    QCOMPARE(changed.count(), 0);
    // The previous value is still the initial one, so going back to it stays silent.
    p.property->setValue(5);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(p.property->value(), QVariant(5));
}

QTEST_GUILESS_MAIN(tst_Payloads)
#include "tst_payloads.moc"
