// The host kit's parameter pieces: the listing (every parameter once, groups with their members,
// CJK labels aligned), the conversion of typed values, and reading and writing parameters on the
// project's simulated machine and on a peer that answers as told.

#include "columntable.h"
#include "embeddedmachine.h"
#include "hostsession.h"
#include "machinepeer.h"
#include "parameterlisting.h"
#include "parameterreader.h"
#include "parametertext.h"
#include "parametertree.h"
#include "parameterwriter.h"
#include "valuefromtext.h"
#include "zrdeviceproperty.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray frame(const QByteArray& head, const QByteArray& payload)
{
    const int n = head.size() + 1 + payload.size() + 3;
    const int length = n + QByteArray::number(n + QByteArray::number(n).size()).size();
    return '\x02' + QByteArray::number(length) + ';' + head + ';' + payload + '\x03';
}

QList<QByteArray> payloads(const SimMachine* machine)
{
    QList<QByteArray> result;
    for (const SimFrame& f : machine->received()) {
        if (f.payload != "1010;")
            result.append(f.head + ';' + f.payload);
    }
    return result;
}

} // namespace

class tst_HostParameters : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void listingShowsEveryParameterOnce();
    void groupsAndMembers();
    void displayWidth_data();
    void displayWidth();
    void columnsAlignWideText();
    void valueText_data();
    void valueText();
    void valueFromText_data();
    void valueFromText();

    void readFromTheMachine();
    void writeToTheMachine_data();
    void writeToTheMachine();
    void writeRefusedOrUnanswered_data();
    void writeRefusedOrUnanswered();

private:
    bool connectToSimulator();

    std::unique_ptr<HostSession> m_offline;
    std::unique_ptr<EmbeddedMachine> m_machine;
    std::unique_ptr<HostSession> m_session;
};

void tst_HostParameters::initTestCase()
{
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    m_offline.reset(new HostSession);
    QVERIFY2(m_offline->open(options), qPrintable(m_offline->errorString()));
}

bool tst_HostParameters::connectToSimulator()
{
    m_session.reset();
    m_machine.reset(new EmbeddedMachine);
    if (!m_machine->listenTcp())
        return false;
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    options.target = m_machine->target();
    m_session.reset(new HostSession);
    return m_session->open(options) && m_session->connectMachine();
}

void tst_HostParameters::listingShowsEveryParameterOnce()
{
    ZRDeviceInterface* device = m_offline->device();
    const QString text = ParameterListing(device).everything();
    const QStringList lines = text.split('\n');

    QStringList rowNames;
    for (const QString& line : lines) {
        const QString first = line.section(' ', 0, 0, QString::SectionSkipEmpty);
        if (device->property_ptr(first.toLatin1().constData()))
            rowNames.append(first);
    }
    // The system and user parameters lead, in their order.
    const QStringList listed = device->sysProperty() + device->userProperty();
    int previous = -1;
    for (const QString& name : listed) {
        const int at = rowNames.indexOf(name);
        QVERIFY2(at > previous || (at >= 0 && ParameterTree::isMember(device, name.toLatin1())),
            qPrintable(name));
        previous = qMax(previous, at);
    }
    QVERIFY(text.indexOf("System parameters:") < text.indexOf("User parameters:"));
    QVERIFY(text.indexOf("User parameters:") < text.indexOf("Other parameters:"));
    // Every parameter exactly once.
    const QList<QByteArray> all = ParameterTree::names(device);
    QCOMPARE(rowNames.size(), all.size());
    for (const QByteArray& name : all)
        QCOMPARE(rowNames.count(QString::fromLatin1(name)), 1);
}

void tst_HostParameters::groupsAndMembers()
{
    ZRDeviceInterface* device = m_offline->device();
    QCOMPARE(ParameterTree::members(device, "WORKAREA"),
        (QList<QByteArray> { "WORKAREA_X", "WORKAREA_Y" }));
    QCOMPARE(ParameterTree::members(device, "DEVICE_INFO").size(), 6);
    QVERIFY(ParameterTree::members(device, "HEARTBEAT").isEmpty());
    QVERIFY(ParameterTree::members(device, "NO_SUCH").isEmpty());
    QVERIFY(ParameterTree::isMember(device, "SP1_SPEED"));
    QVERIFY(!ParameterTree::isMember(device, "SP1"));
    QCOMPARE(ParameterTree::readingGroup(device, "FIRMWARE"), QByteArray("DEVICE_INFO"));
    QVERIFY(ParameterTree::readingGroup(device, "WORKAREA_X").isEmpty());

    // Members are indented under their group and not repeated on their own.
    const QString text = ParameterListing(device).named({ "DEVICE_INFO", "FIRMWARE" });
    QCOMPARE(
        text.count(QRegularExpression("^  FIRMWARE ", QRegularExpression::MultilineOption)), 1);
    QCOMPARE(text.count(QRegularExpression("^FIRMWARE ", QRegularExpression::MultilineOption)), 0);
}

void tst_HostParameters::displayWidth_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cells");
    QTest::newRow("latin") << QStringLiteral("Work area") << 9;
    QTest::newRow("chinese") << QStringLiteral("机器信息") << 8;
    QTest::newRow("mixed") << QStringLiteral("PCB编号") << 7;
    QTest::newRow("japanese") << QStringLiteral("カット品質") << 10;
    QTest::newRow("full-width parentheses") << QStringLiteral("（mm）") << 6;
    QTest::newRow("degree sign") << QStringLiteral("(°)") << 3;
    QTest::newRow("combining accent") << QStringLiteral("e\u0301") << 1;
    QTest::newRow("empty") << QString() << 0;
}

void tst_HostParameters::displayWidth()
{
    QFETCH(QString, text);
    QTEST(ColumnTable::displayWidth(text), "cells");
}

void tst_HostParameters::columnsAlignWideText()
{
    ColumnTable table({ "NAME", "LABEL", "VALUE" });
    table.addRow({ "DEVICE_ID", QStringLiteral("机器编号"), "A" });
    table.addRow({ "SP1_ANGLE", QStringLiteral("Rotary knife calibration"), "B" });
    table.addRow({ "PU_SPEED", QStringLiteral("PU 速度"), "C" });
    table.setMaxWidth(1, 12);
    const QStringList lines = table.render().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // The value column starts at the same terminal cell on every line.
    QSet<int> starts;
    for (const QString& line : lines) {
        const QString last = line.section(' ', -1);
        starts.insert(ColumnTable::displayWidth(line) - ColumnTable::displayWidth(last));
    }
    QCOMPARE(starts.size(), 1);
    QVERIFY(lines.at(2).contains(QStringLiteral("Rotary knif…")));
}

void tst_HostParameters::valueText_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("scaled")      << QByteArray("WORKAREA_X") << QVariant(3000u)   << QStringLiteral("3000 (×0.5 = 1500)");
    QTest::newRow("list item")   << QByteArray("WORK_MODE")  << QVariant(1u)      << QStringLiteral("1 (Balanced)");
    QTest::newRow("past items")  << QByteArray("WORK_MODE")  << QVariant(7u)      << QStringLiteral("7");
    QTest::newRow("plain")       << QByteArray("PU_SPEED")   << QVariant(400u)    << QStringLiteral("400");
    QTest::newRow("etx")         << QByteArray("FIRMWARE")   << QVariant(QStringLiteral("1.5.7\x03")) << QStringLiteral("1.5.7\\x03");
    QTest::newRow("json")        << QByteArray("TASK_FILE_INFO") << QVariant(QJsonObject { { "width", 120 } }) << QStringLiteral("{\"width\":120}");
    QTest::newRow("bytes")       << QByteArray("FILE_PREVIEW") << QVariant(QByteArray("abc")) << QStringLiteral("3 bytes");
    // clang-format on
}

void tst_HostParameters::valueText()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    // The labels of list items depend on the language; this test runs in English or without a
    // translation, and compares only where the text is language-free.
    HostSession session;
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    QVERIFY(session.open(options));
    ZRDeviceProperty* parameter = session.device()->property_ptr(name.constData());
    QVERIFY(parameter);
    parameter->setValue(value);
    const QString shown = ParameterText::value(parameter);
    if (name == "WORK_MODE" && value.toUInt() < 3)
        QVERIFY2(shown.startsWith("1 (") && shown.endsWith(')') && !shown.contains("  "),
            qPrintable(shown));
    else
        QCOMPARE(shown, text);
}

void tst_HostParameters::valueFromText_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("value"); // invalid: refused

    // clang-format off
    QTest::newRow("register word")          << QByteArray("WORKAREA_X")  << "2800"    << QVariant(2800u);
    QTest::newRow("register word top")      << QByteArray("WORKAREA_X")  << "65535"   << QVariant(65535u);
    QTest::newRow("register word too big")  << QByteArray("WORKAREA_X")  << "65536"   << QVariant();
    QTest::newRow("negative word")          << QByteArray("SP1_ANGLE")   << "-10"     << QVariant(65526u);
    QTest::newRow("negative word too low")  << QByteArray("SP1_ANGLE")   << "-32769"  << QVariant();
    QTest::newRow("three registers")        << QByteArray("TOOL_SPACE_Y") << "-50"    << QVariant(4294967246u);
    QTest::newRow("not a number")           << QByteArray("PU_SPEED")    << "fast"    << QVariant();
    QTest::newRow("blanks around")          << QByteArray("PU_SPEED")    << " 400 "   << QVariant(400u);
    QTest::newRow("int")                    << QByteArray("TASK_COPIES") << "3"       << QVariant(3);
    QTest::newRow("int fraction")           << QByteArray("TASK_COPIES") << "2.5"     << QVariant();
    QTest::newRow("text")                   << QByteArray("DEVICE_ID")   << "M-77"    << QVariant(QStringLiteral("M-77"));
    QTest::newRow("json")                   << QByteArray("TASK_FILE_INFO") << "{\"width\":5}" << QVariant(QJsonObject { { "width", 5 } });
    QTest::newRow("json not an object")     << QByteArray("TASK_FILE_INFO") << "[1]"  << QVariant();
    QTest::newRow("group")                  << QByteArray("WORKAREA")    << "1"       << QVariant();
    // clang-format on
}

void tst_HostParameters::valueFromText()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    ZRDeviceProperty* parameter = m_offline->device()->property_ptr(name.constData());
    QVERIFY(parameter);
    QString error;
    const QVariant converted = ::valueFromText(parameter, text, &error);
    QCOMPARE(converted, value);
    if (value.isValid()) {
        QCOMPARE(converted.userType(), value.userType());
        QVERIFY(error.isEmpty());
    } else {
        QVERIFY(!error.isEmpty());
    }
}

void tst_HostParameters::readFromTheMachine()
{
    QVERIFY(connectToSimulator());
    ZRDeviceInterface* device = m_session->device();
    ParameterReader reader(device);
    // The machine's calibration angle is 0, as the device's: that read shows no change.
    QVERIFY(!reader.read({ "WORKAREA", "FIRMWARE", "DEVICE_ID", "SP1", "TCP_PORT" }, 500));
    QCOMPARE(reader.unanswered(), QList<QByteArray> { "SP1_ANGLE" });
    QCOMPARE(reader.localOnly(), QList<QByteArray> { "TCP_PORT" });
    QCOMPARE(device->property_ptr("WORKAREA_X")->value().toUInt(), 3000u);
    QCOMPARE(device->property_ptr("WORKAREA_Y")->value().toUInt(), 2400u);
    QCOMPARE(device->property_ptr("FIRMWARE")->value().toString(), QStringLiteral("1.5.7"));
    QCOMPARE(device->property_ptr("SP1_SPEED")->value().toUInt(), 300u);
    QCOMPARE(device->property_ptr("SP1_PRESSURE")->value().toUInt(), 120u);
    // FIRMWARE and DEVICE_ID come with one information read.
    QCOMPARE(payloads(m_machine->machine()),
        (QList<QByteArray> { "CMD;GET28;", "CMD;GET29;", "CCMD;2;", "CMD;GET128;", "CMD;GET1;",
            "CMD;GET2;", "CMD;GET131;" }));

    // A value the machine answers unchanged looks unanswered; an unknown name sends nothing.
    m_machine->machine()->clearRecord();
    QVERIFY(!reader.read({ "WORKAREA_X" }, 200));
    QCOMPARE(reader.unanswered(), QList<QByteArray> { "WORKAREA_X" });
    QVERIFY(!reader.read({ "WORKAREA_X", "NO_SUCH" }, 200));
    QCOMPARE(reader.unknown(), QList<QByteArray> { "NO_SUCH" });
    // The device drops the machine's answers for cut quality: nothing to ask.
    QVERIFY(reader.read({ "WORK_MODE" }, 200));
    QCOMPARE(reader.localOnly(), QList<QByteArray> { "WORK_MODE" });
    QTest::qWait(50);
    QCOMPARE(payloads(m_machine->machine()), QList<QByteArray> { "CMD;GET28;" });
}

void tst_HostParameters::writeToTheMachine_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QVariant>("value"); // afterwards
    QTest::addColumn<QByteArray>("sent"); // empty: nothing

    // clang-format off
    QTest::newRow("register")       << QByteArray("WORKAREA_X") << "2800" << int(ParameterWriter::Confirmed) << QVariant(2800u) << QByteArray("CMD;SET28:2800;");
    QTest::newRow("three registers") << QByteArray("CAMERA_OFFSET_Y") << "-1600" << int(ParameterWriter::Confirmed) << QVariant(-1600) << QByteArray("CMD;SET14:63936;15:65535;16:0;");
    QTest::newRow("command status") << QByteArray("DEVICE_ID")  << "M-77" << int(ParameterWriter::Confirmed) << QVariant(QStringLiteral("M-77")) << QByteArray("CCMD;44,M-77;");
    QTest::newRow("heartbeat")      << QByteArray("HEARTBEAT")  << "5"    << int(ParameterWriter::Confirmed) << QVariant(5)     << QByteArray("CCMD;1010,5;");
    QTest::newRow("value held")     << QByteArray("HEARTBEAT")  << "2"    << int(ParameterWriter::Sent)      << QVariant(2)     << QByteArray("CCMD;1010,2;");
    QTest::newRow("cut quality")    << QByteArray("WORK_MODE")  << "2"    << int(ParameterWriter::Sent)      << QVariant(2u)    << QByteArray("CMD;SET27:2;");
    QTest::newRow("device's own")   << QByteArray("TCP_PORT")   << "9101" << int(ParameterWriter::Stored)    << QVariant(9101)  << QByteArray();
    QTest::newRow("group")          << QByteArray("WORKAREA")   << "1"    << int(ParameterWriter::Invalid)   << QVariant()      << QByteArray();
    QTest::newRow("too big")        << QByteArray("SP1_SPEED")  << "70000" << int(ParameterWriter::Invalid)  << QVariant(0u)    << QByteArray();
    QTest::newRow("unknown")        << QByteArray("NO_SUCH")    << "1"    << int(ParameterWriter::Invalid)   << QVariant()      << QByteArray();
    // clang-format on
}

void tst_HostParameters::writeToTheMachine()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, text);
    QFETCH(int, outcome);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, sent);
    QVERIFY(connectToSimulator());
    ZRDeviceInterface* device = m_session->device();

    ParameterWriter writer(device);
    QCOMPARE(int(writer.write(name, text, 3000)), outcome);
    QCOMPARE(writer.errorString().isEmpty(), outcome != ParameterWriter::Invalid);
    if (ZRDeviceProperty* parameter = device->property_ptr(name.constData()))
        QCOMPARE(parameter->value(), value);
    QTest::qWait(50);
    QCOMPARE(payloads(m_machine->machine()),
        sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { sent });
}

void tst_HostParameters::writeRefusedOrUnanswered_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("status");
    QTest::newRow("refused") << frame("CCMD", "44,1;") << int(ParameterWriter::Refused) << 1;
    QTest::newRow("accepted") << frame("CCMD", "44,0;") << int(ParameterWriter::Confirmed) << 0;
    QTest::newRow("silent") << QByteArray() << int(ParameterWriter::NoAnswer) << -1;
    QTest::newRow("other reply") << frame("CCMD", "46,0;") << int(ParameterWriter::NoAnswer) << -1;
}

void tst_HostParameters::writeRefusedOrUnanswered()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, outcome);
    QFETCH(int, status);
    MachinePeer peer;
    peer.answer = [&](const QByteArray& f) { return f.contains(";44,") ? reply : QByteArray(); };
    SessionOptions options;
    options.pluginDir = QStringLiteral(ZR_PLUGIN_DIR);
    options.target = MachineTarget::tcp(QStringLiteral("127.0.0.1"), peer.port());
    HostSession session;
    QVERIFY(session.open(options));
    QVERIFY(session.connectMachine());

    ParameterWriter writer(session.device());
    QCOMPARE(int(writer.write("DEVICE_ID", "NEW-1", 300)), outcome);
    QCOMPARE(writer.status(), status);
    // The device holds what the machine took, and its old value otherwise.
    QCOMPARE(session.device()->property_ptr("DEVICE_ID")->value().toString(),
        outcome == ParameterWriter::Confirmed ? QStringLiteral("NEW-1") : QString());
    QVERIFY(peer.frames().contains(frame("CCMD", "44,NEW-1;")));
}

QTEST_MAIN(tst_HostParameters)
#include "tst_hostparameters.moc"
