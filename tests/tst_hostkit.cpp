// The host kit in-process: values as the editors show and take them, cut files, progress reports,
// and the request path against the simulated machine (over TCP and a pseudo-terminal standing in
// for the USB port) and against peers that refuse or stay silent.

#include "hostrig.h"
#include "machinepeer.h"
#include "remote.h"
#include "service.h"
#include "simclient.h"
#include "values.h"
#include "zrdeviceproperty.h"

#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using simtest::frame;

namespace {

Request job(int copies)
{
    return hostrig::gasket().request(copies);
}

Request write(const QString& name, const QString& value, bool raw = false)
{
    Request request = Request::of(Request::Write, { name });
    request.values = QStringList { value };
    request.raw = raw;
    return request;
}

// Frames the machine received, without the heartbeats, as "HEAD;payload".
QList<QByteArray> received(const SimMachine& machine)
{
    QList<QByteArray> frames;
    for (const SimFrame& f : machine.received()) {
        if (f.payload != "1010;")
            frames.append(f.head + ';' + f.payload);
    }
    return frames;
}

} // namespace

class tst_HostKit : public QObject {
    Q_OBJECT
private slots:
    void shownAndTaken_data();
    void shownAndTaken();
    void cutFiles_data();
    void cutFiles();
    void cutPlanned();
    void cutWork();
    void reports_data();
    void reports();
    void reads();
    void writes_data();
    void writes();
    void answersByStatus_data();
    void answersByStatus();
    void jobCutsEveryCopy_data();
    void jobCutsEveryCopy();
    void linkDropMidJob_data();
    void linkDropMidJob();
    void requestsAfterALostLink();
    void stopAndPause();
    void machineThatNeverReports();
    void readAskedAgain_data();
    void readAskedAgain();
    void jobOfAnotherIsNotTaken_data();
    void jobOfAnotherIsNotTaken();
    void machineStartedAgain();
    void jobOfTheMachineDirectAndThroughAService_data();
    void jobOfTheMachineDirectAndThroughAService();
    void silentMachine_data();
    void silentMachine();
};

void tst_HostKit::shownAndTaken_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("taken"); // invalid: refused
    // clang-format off
    QTest::newRow("factor 0.5")       << QByteArray("WORKAREA_X") << QVariant(3000u) << "1500" << "1400" << QVariant(2800u);
    QTest::newRow("gf")               << QByteArray("SP1_PRESSURE") << QVariant(100u) << "316.667" << "1900" << QVariant(600u);
    QTest::newRow("gf past the max")  << QByteArray("SP1_PRESSURE") << QVariant(100u) << "316.667" << "1901" << QVariant();
    QTest::newRow("signed word")      << QByteArray("SP1_ANGLE") << QVariant(65506u) << "-30" << "-361" << QVariant();
    QTest::newRow("mm, 3 registers")  << QByteArray("CAMERA_OFFSET_X") << QVariant(-2500) << "-12.5" << "-12.5" << QVariant(-2500);
    QTest::newRow("scale")            << QByteArray("SCALE_X") << QVariant(10020u) << "1.002" << "1.5" << QVariant(15000u);
    QTest::newRow("list by name")     << QByteArray("WORK_MODE") << QVariant(7u) << "7" << "precision first" << QVariant(2u);
    QTest::newRow("list by number")   << QByteArray("SP2_TOOL") << QVariant(1u) << "转刀" << "0" << QVariant(0u);
    QTest::newRow("no number")        << QByteArray("PU_SPEED") << QVariant(400u) << "400" << "fast" << QVariant();
    QTest::newRow("text")             << QByteArray("DEVICE_ID") << QVariant(QStringLiteral("A\x03")) << "A\\x03" << "M-77" << QVariant(QStringLiteral("M-77"));
    QTest::newRow("device state")     << QByteArray("STATUS") << QVariant(2) << "connected" << "paused" << QVariant();
    QTest::newRow("json")             << QByteArray("TASK_FILE_INFO") << QVariant(QJsonObject { { "w", 1 } }) << "{\"w\":1}" << "[1]" << QVariant();
    // clang-format on
}

void tst_HostKit::shownAndTaken()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    QFETCH(QVariant, taken);
    const auto session = hostrig::session(hostrig::sessionOptions({}), false);
    ZRDeviceProperty* parameter = session->device()->property_ptr(name.constData());
    parameter->setValue(value);
    const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
    if (QTest::currentDataTag() != QByteArray("list by number"))
        QTEST(editor.text(parameter->value()), "shown");
    QString error;
    QFETCH(QString, typed);
    const QVariant result = editor.value(typed, parameter->value(), false, &error);
    QCOMPARE(result, taken);
    QCOMPARE(error.isEmpty(), taken.isValid());
    if (taken.isValid())
        QCOMPARE(result.userType(), taken.userType());
}

void tst_HostKit::cutFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QSize>("size"); // of the device's picture; empty: not cut, and why
    QTest::addColumn<QString>("refused");
    const QByteArray circle = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50mm\" "
                              "height=\"20mm\"><circle cx=\"10mm\" cy=\"10mm\" r=\"5mm\"/></svg>";
    // clang-format off
    QTest::newRow("square")          << "s.plt" << QByteArray("IN;PU0,0;PD400,0,400,400,0,400,0,0;") << QSize(256, 256) << QString();
    QTest::newRow("straight cut")    << "s.plt" << QByteArray("IN;PU0,0;PD4000,0;") << QSize(256, 9) << QString();
    QTest::newRow("far from origin") << "f.plt" << QByteArray("IN;PU40000,40000;PD44000,40000,44000,42000;") << QSize(256, 128) << QString();
    QTest::newRow("svg circle")      << "c.svg" << circle << QSize(256, 256) << QString();
    QTest::newRow("travel only")     << "t.plt" << QByteArray("IN;PU0,0;PU400,400;") << QSize() << "t.plt: nothing to cut";
    QTest::newRow("not hp-gl")       << "n.plt" << QByteArray("\x89PNG\r\n\x1a\n garbage") << QSize() << "n.plt: not a cut file: it is a PNG picture";
    QTest::newRow("encoded")         << "e.plt" << QByteArray("IN;PD400,0;PE<=?>@;") << QSize() << "e.plt: line 1: encoded polylines";
    QTest::newRow("broken svg")      << "b.svg" << QByteArray("<svg") << QSize() << "b.svg: ";
    // clang-format on
}

void tst_HostKit::cutFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QSize, size);
    QTemporaryDir dir;
    QFile written(dir.filePath(name));
    QVERIFY(written.open(QIODevice::WriteOnly) && written.write(content) == content.size());
    written.close();
    QString error;
    const CutFile file = hostrig::prepared(written.fileName(), {}, {}, &error);
    QCOMPARE(file.isPlanned(), size.isValid());
    if (!size.isValid()) {
        // The reason names the file; nothing is left to cut.
        QFETCH(QString, refused);
        QVERIFY2(error.startsWith(dir.filePath(refused)), qPrintable(error));
        QVERIFY(file.hpgl().isEmpty());
        return;
    }
    const QImage image = QImage::fromData(file.previewPng());
    QCOMPARE(image.size(), size);
    QCOMPARE(qGray(image.pixel(0, 0)), 255); // the margin stays white
    // What is sent reads back as what was read, within a plotter unit, set down at the table's
    // origin plus the margin wherever the file had it.
    ZRCut::Drawing back;
    QVERIFY2(ZRCut::readHpgl(file.hpgl(), &back, &error), qPrintable(error));
    QVERIFY(std::abs(back.lengthMm() - file.drawing().lengthMm()) < 0.05);
    const QRectF sent = back.bounds(), read = file.drawing().bounds();
    for (double gap : { sent.left() - ZRCut::defaultMarginMm, sent.top() - ZRCut::defaultMarginMm,
             sent.width() - read.width(), sent.height() - read.height() })
        QVERIFY(std::abs(gap) < 0.03);
    const Request request = file.request(3);
    QCOMPARE(request.plt, file.hpgl());
    QCOMPARE(request.file, name);
    QCOMPARE(request.copies, 3);
}

void tst_HostKit::cutPlanned()
{
    // The work record reads these as whole numbers.
    const QJsonObject info = hostrig::gasket().fileInfo();
    QCOMPARE(info.value("width").toInt(), 120);
    QCOMPARE(info.value("heigth").toInt(), 80);
    QVERIFY(info.value("path_length").toInt() > 630
        && info.value("path_length").toDouble() == info.value("path_length").toInt());
    QCOMPARE(info.value("bytes").toInt(), hostrig::gasket().hpgl().size());
    QCOMPARE(hostrig::gasket().seconds(), -1.0); // no speeds known

    // The simulated machine's table and stations, as the device holds them once read.
    const auto session = hostrig::session(hostrig::sessionOptions({}), false);
    ZRDeviceInterface* device = session->device();
    const QList<QPair<const char*, uint>> values { { "WORKAREA_X", 3000u }, { "WORKAREA_Y", 400u },
        { "PU_SPEED", 400u }, { "SP1_TOOL", 1u }, { "SP1_SPEED", 300u }, { "SP2_TOOL", 0u },
        { "SP2_SPEED", 200u } };
    for (const auto& value : values)
        device->property_ptr(value.first)->setValue(value.second);
    const CutMachine rotary = CutMachine::of(device, 1);
    const CutMachine drag = CutMachine::of(device, 2);
    QCOMPARE(rotary.workArea, QSizeF(1500, 200));
    QVERIFY(!rotary.dragKnife && drag.dragKnife);
    QCOMPARE(drag.cutSpeed, 200.0);
    QCOMPARE(drag.travelSpeed, 400.0);
    for (const QString& name : CutMachine::names(2))
        QVERIFY(device->property_ptr(name.toLatin1().constData()));

    const QString path = QStringLiteral(ZR_SAMPLES_DIR "/gasket.svg");
    QString error;
    CutSettings moved;
    moved.placement.move = QPointF(5, 5); // room for the swivels
    CutSettings knife = moved;
    knife.knife.bladeOffsetMm = 0.3;
    knife.knife.overcutMm = 1;
    QVERIFY(!hostrig::prepared(path, knife, rotary, &error).isPlanned());
    QVERIFY2(error.contains("drag knife") && error.contains("SP1_TOOL"), qPrintable(error));
    // Each closed contour is cut 1 mm further; the swivels add a little more.
    const CutFile plain = hostrig::prepared(path, moved, drag);
    const CutFile aided = hostrig::prepared(path, knife, drag);
    const int closed = 6;
    QVERIFY(aided.job().cutLengthMm >= plain.job().cutLengthMm + closed * 1.0);
    QVERIFY(aided.job().cutLengthMm < plain.job().cutLengthMm + closed * 1.0 + 20);
    // The time follows the speeds: cutting at 200 mm/s, travelling at 400.
    const double expected = plain.job().cutLengthMm / 200 + plain.job().travelLengthMm / 400;
    QVERIFY(plain.seconds() >= expected && plain.seconds() < expected * 1.5 + 1);
    // Copies stand in rows and columns on the table; three rows of 80 mm leave a 200 mm table.
    CutSettings grid;
    grid.placement.copies = 6;
    grid.placement.columns = 3;
    const CutFile six = hostrig::prepared(path, grid, drag);
    QCOMPARE(six.job().steps.size(), 6 * closed);
    QVERIFY(std::abs(six.job().cutLengthMm - 6 * plain.job().cutLengthMm) < 0.1);
    grid.placement.columns = 2;
    QVERIFY(!hostrig::prepared(path, grid, drag, &error).isPlanned());
    QVERIFY2(error.contains("work area"), qPrintable(error));
    grid.placement.fit = true;
    const QRectF fitted = hostrig::prepared(path, grid, drag).job().bounds;
    QVERIFY2(fitted.left() >= 0 && fitted.top() >= 0 && fitted.right() <= 1500 + 1e-6
            && fitted.bottom() <= 200 + 1e-6 && fitted.bottom() > 190,
        qPrintable(QStringLiteral("%1 %2").arg(fitted.right()).arg(fitted.bottom())));

    // Bytes the machine's frames cannot carry never leave the session.
    Request unsafe = job(1);
    unsafe.plt = "IN;PU0,0;PD40\x02,0;";
    const Result& refused = hostrig::ask(*session, unsafe);
    QCOMPARE(refused.outcome, Result::OutOfRange);
    QVERIFY2(refused.reason.contains("byte 0x02 at offset 13"), qPrintable(refused.reason));
}

void tst_HostKit::cutWork()
{
    // Work runs off this thread; its progress and its end come back here; cancel() ends it.
    CutWork work;
    QList<QThread*> threads;
    bool ok = true;
    connect(
        &work, &CutWork::progress, &work, [&](int) { threads.append(QThread::currentThread()); });
    connect(&work, &CutWork::finished, &work, [&](bool done) { ok = done; });
    QThread* worker = nullptr;
    QVERIFY(work.start([&](const ZRCut::Progress& progress, QString* error) {
        worker = QThread::currentThread();
        progress.report(1);
        while (!progress.cancel->load())
            QThread::msleep(1);
        *error = QStringLiteral("cancelled");
        return false;
    }));
    QTRY_VERIFY(!threads.isEmpty());
    QVERIFY(!work.start([](const ZRCut::Progress&, QString*) { return true; })); // one at a time
    work.cancel();
    QTRY_VERIFY(!work.isRunning());
    QVERIFY(!ok && work.isCancelled());
    QCOMPARE(work.errorString(), QStringLiteral("cancelled"));
    QVERIFY(worker != QThread::currentThread());
    QCOMPARE(threads, QList<QThread*> { QThread::currentThread() });
}

void tst_HostKit::reports_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("percent");
    QTest::addColumn<qint64>("left");
    // clang-format off
    QTest::newRow("cutting")      << "66,1,job-0001.plt,2,0,25.0,30,10.0,20.0" << true << 25.0 << qint64(90);
    QTest::newRow("etx attached") << "66,3,j.plt,2,2,100.0,8,0.0,0.0\x03"      << true << 100.0 << qint64(0);
    QTest::newRow("bad numbers")  << "66,x,a.plt,y,z,w,0,0,0"                  << true << 0.0 << qint64(-1);
    QTest::newRow("infinite")     << "66,1,a.plt,1,0,inf,0,0,0"                << true << 0.0 << qint64(-1);
    QTest::newRow("no percentage") << "66,1,a.plt,1,0,1e300,5,0,0"             << true << 0.0 << qint64(-1);
    QTest::newRow("over 100")     << "66,1,a.plt,1,0,250,5,0,0"                << true << 100.0 << qint64(0);
    QTest::newRow("huge fields")  << "66,1,a.plt,2147483647,2147483647,0.001,9223372036854775807,0,0" << true << 0.001 << qint64(-1);
    QTest::newRow("eight fields") << "66,1,a.plt,1,0,5,0,0"                    << false << 0.0 << qint64(0);
    QTest::newRow("other")        << "55,1,a.plt,1,0,5,0,0,0"                  << false << 0.0 << qint64(0);
    // clang-format on
}

void tst_HostKit::reports()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    TaskReport report;
    QCOMPARE(TaskReport::parse(text, &report), valid);
    if (!valid)
        return;
    QTEST(report.percent, "percent");
    if (QTest::currentDataTag() != QByteArray("huge fields"))
        QTEST(report.secondsLeft(), "left");
    QVERIFY(!report.fileName.contains(QChar(3)));
}

void tst_HostKit::reads()
{
    hostrig::Machine machine;
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target()));
    QVERIFY(session->isUp());
    ZRDeviceInterface* device = session->device();
    machine.sim.clearRecord();
    const Result& result = hostrig::ask(*session,
        Request::of(Request::Read,
            { "WORKAREA", "FIRMWARE", "DEVICE_ID", "SP1", "TCP_PORT", "WORK_MODE" }));
    QCOMPARE(result.outcome, Result::Done);
    // The calibration angle answers 0, as the device held: an answer all the same.
    QCOMPARE(result.local, (QStringList { "TCP_PORT", "WORK_MODE" }));
    QCOMPARE(device->property_ptr("WORKAREA_X")->value().toUInt(), 3000u);
    QCOMPARE(device->property_ptr("FIRMWARE")->value().toString(), QStringLiteral("1.5.7"));
    QCOMPARE(device->property_ptr("SP1_ANGLE")->value().toUInt(), 0u);
    // FIRMWARE and DEVICE_ID come with one information read.
    QCOMPARE(received(machine.sim),
        (QList<QByteArray> { "CMD;GET28;", "CMD;GET29;", "CCMD;2;", "CMD;GET128;", "CMD;GET1;",
            "CMD;GET2;", "CMD;GET131;" }));
    // A second read of the same value is answered though nothing changes.
    QCOMPARE(
        hostrig::ask(*session, Request::of(Request::Read, { "WORKAREA_X" })).outcome, Result::Done);
    QCOMPARE(
        hostrig::ask(*session, Request::of(Request::Read, { "WORKAREA_X", "NO_SUCH" })).outcome,
        Result::Unknown);
}

void tst_HostKit::writes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("sent");
    // clang-format off
    QTest::newRow("register")        << "WORKAREA_X" << "1400" << int(Result::Done) << QVariant(2800u) << QByteArray("CMD;SET28:2800;");
    QTest::newRow("three registers") << "CAMERA_OFFSET_Y" << "-8" << int(Result::Done) << QVariant(-1600) << QByteArray("CMD;SET14:63936;15:65535;16:0;");
    QTest::newRow("command status")  << "DEVICE_ID" << "M-77" << int(Result::Done) << QVariant(QStringLiteral("M-77")) << QByteArray("CCMD;44,M-77;");
    QTest::newRow("value held")      << "HEARTBEAT" << "2" << int(Result::Done) << QVariant(2) << QByteArray("CCMD;1010,2;");
    QTest::newRow("cut quality")     << "WORK_MODE" << "2" << int(Result::Done) << QVariant(2u) << QByteArray("CMD;SET27:2;");
    QTest::newRow("read-only")       << "DEVICE_UNIQUE_ID" << "x" << int(Result::ReadOnly) << QVariant(QString()) << QByteArray();
    QTest::newRow("too big")         << "SP1_SPEED" << "701" << int(Result::OutOfRange) << QVariant(0u) << QByteArray();
    // clang-format on
}

void tst_HostKit::writes()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, sent);
    hostrig::Machine machine;
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target()));
    machine.sim.clearRecord();
    const Result& result
        = hostrig::ask(*session, write(name, text, name == QLatin1String("HEARTBEAT")));
    QTEST(int(result.outcome), "outcome");
    QCOMPARE(result.local.contains(name), name == QLatin1String("WORK_MODE"));
    QCOMPARE(session->device()->property_ptr(name.toLatin1().constData())->value(), value);
    QTest::qWait(50);
    QCOMPARE(
        received(machine.sim), sent.isEmpty() ? QList<QByteArray>() : QList<QByteArray> { sent });
}

void tst_HostKit::answersByStatus_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("outcome");
    QTest::newRow("refused") << frame("CCMD", "44,1;") << int(Result::Refused);
    QTest::newRow("accepted") << frame("CCMD", "44,0;") << int(Result::Done);
    QTest::newRow("silent") << QByteArray() << int(Result::NoAnswer);
    QTest::newRow("other reply") << frame("CCMD", "46,0;") << int(Result::NoAnswer);
}

void tst_HostKit::answersByStatus()
{
    QFETCH(QByteArray, reply);
    MachinePeer peer;
    peer.answer = [&](const QByteArray& f) {
        return f.contains(";44,") ? reply
            : f.contains(";1010") ? frame("CCMD", "1010,0,2;")
                                  : QByteArray();
    };
    SessionOptions options = hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", peer.port()));
    options.replyTimeoutMs = 300;
    const auto session = hostrig::session(options);
    QTEST(int(hostrig::ask(*session, write("DEVICE_ID", "NEW-1")).outcome), "outcome");
    // The device holds what the machine took, and its old value otherwise.
    QCOMPARE(session->device()->property_ptr("DEVICE_ID")->value().toString(),
        QTest::currentDataTag() == QByteArray("accepted") ? QStringLiteral("NEW-1") : QString());
    QVERIFY(peer.frames().contains(frame("CCMD", "44,NEW-1;")));
}

void tst_HostKit::jobCutsEveryCopy_data()
{
    QTest::addColumn<bool>("usb");
    QTest::newRow("tcp") << false;
    QTest::newRow("usb") << true;
}

void tst_HostKit::jobCutsEveryCopy()
{
    QFETCH(bool, usb);
    hostrig::Machine machine;
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target(usb)));
    QVERIFY2(session->isUp(), qPrintable(session->errorString()));
    QCOMPARE(
        hostrig::ask(*session, Request::of(Request::Read, { "DEVICE_INFO", "DEVICE_UNIQUE_ID" }))
            .outcome,
        Result::Done);
    QCOMPARE(session->device()->property_ptr("DEVICE_ID")->value().toString(),
        QStringLiteral("TX4150V-000128"));
    Reply* reply = session->send(job(2));
    QList<TaskReport> seen;
    connect(reply, &Reply::progress, [&](const TaskReport& report) { seen.append(report); });
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->result().outcome, Result::Done);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen[i].percent >= seen[i - 1].percent && seen[i].finished >= seen[i - 1].finished);
    QCOMPARE(seen.last().finished, qint64(2));
    QCOMPARE(reply->result().record.value("Status").toInt(), 3);
    // The task was closed: the device's record is reset, the file described to the device.
    ZRDeviceInterface* device = session->device();
    QCOMPARE(device->property_ptr("TASK")->value().toJsonObject().value("Percent").toInt(), 100);
    QCOMPARE(device->property_ptr("TASK_FILE_INFO")->value().toJsonObject(),
        hostrig::gasket().fileInfo());
    QCOMPARE(device->property_ptr("FILE_PREVIEW")->value().toByteArray(),
        hostrig::gasket().previewPng());
    QCOMPARE(machine.sim.counters().copiesCut, 2);
    QCOMPARE(received(machine.sim),
        (QList<QByteArray> {
            "CCMD;2;", "CCMD;57;", "CMD;NUM:2;", "PLT;" + hostrig::gasket().hpgl() }));
}

void tst_HostKit::linkDropMidJob_data()
{
    QTest::addColumn<bool>("usb");
    QTest::addColumn<QString>("line");
    QTest::newRow("tcp") << false << "TCP DISCONNECTED.";
    QTest::newRow("usb") << true << "USB DISCONNECTED.";
}

void tst_HostKit::linkDropMidJob()
{
    QFETCH(bool, usb);
    QFETCH(QString, line);
    SimOptions options = fastMachine(2000);
    options.dropAtPercent = 30;
    hostrig::Machine machine(options);
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target(usb)));
    Reply* reply = session->send(job(2));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    const Result& result = reply->result();
    QCOMPARE(result.outcome, Result::LinkLost);
    QVERIFY2(result.reason.contains(line), qPrintable(result.reason));
    // The record stands as the last report left it and the task is not closed: the machine may
    // go on cutting.
    QCOMPARE(result.record.value("Status").toInt(), 1);
    QVERIFY(result.record.value("Percent").toInt() >= 30);
    QCOMPARE(session->device()->property_ptr("TASK")->value().toJsonObject(), result.record);
    QVERIFY(session->device()->property_ptr("TASK_START_TIME")->value().toDateTime().isValid());
}

void tst_HostKit::requestsAfterALostLink()
{
    SimOptions options = fastMachine();
    options.replyDelayMs = 300;
    hostrig::Machine machine(options);
    SessionOptions settings = hostrig::sessionOptions(machine.target());
    settings.replyTimeoutMs = 3000;
    const auto session = hostrig::session(settings);
    QVERIFY(session->isUp());
    Reply* unanswered = session->send(Request::of(Request::Read, { "WORKAREA_X" }));
    QTest::qWait(50);
    machine.tcp.dropConnection();
    QTRY_VERIFY(unanswered->isFinished());
    QCOMPARE(unanswered->result().outcome, Result::LinkLost);
    // A fresh link, as the panel makes one, serves requests again.
    session->closeLink();
    session->connectTo(machine.target());
    QTRY_VERIFY_WITH_TIMEOUT(session->isUp(), 10000);
    QCOMPARE(
        hostrig::ask(*session, Request::of(Request::Read, { "WORKAREA_X" })).outcome, Result::Done);
}

void tst_HostKit::stopAndPause()
{
    hostrig::Machine machine(fastMachine(1000));
    const auto session = hostrig::session(hostrig::sessionOptions(machine.target()));
    Reply* reply = session->send(job(2));
    QList<int> statuses;
    connect(reply, &Reply::progress, [&](const TaskReport& report) {
        statuses.append(report.status);
        if (report.percent > 5 && !statuses.contains(TaskReport::Paused))
            session->send(Request::of(Request::Pause));
        else if (report.status == TaskReport::Paused)
            session->send(Request::of(Request::Resume));
        else if (report.percent > 20 && !statuses.contains(-1)) {
            statuses.append(-1);
            reply->cancel();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->result().outcome, Result::Stopped);
    QCOMPARE(statuses.count(TaskReport::Paused), 1);
    QCOMPARE(statuses.last(), int(TaskReport::Stopped));
    QCOMPARE(statuses.count(-1), 1);
    QCOMPARE(machine.sim.counters().jobsStopped, 1);
    const QList<QByteArray> frames = received(machine.sim);
    QVERIFY(frames.indexOf("CMD;SET125:1;") > frames.indexOf("CMD;SET125:0;"));
    QVERIFY(frames.contains("CMD;SET125:2;"));
    QVERIFY(session->device()->property_ptr("TASK_START_TIME")->value().toDateTime().isNull());
}

void tst_HostKit::machineThatNeverReports()
{
    MachinePeer peer;
    peer.answer = [](const QByteArray& f) {
        return f.contains(";1010") ? frame("CCMD", "1010,0,2;") : QByteArray();
    };
    SessionOptions options = hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", peer.port()));
    options.replyTimeoutMs = 100;
    const auto session = hostrig::session(options);
    const Result& result = hostrig::ask(*session, job(3));
    QCOMPARE(result.outcome, Result::NoAnswer);
    QVERIFY(result.reason.contains("did not start the job"));
    // Copies and cut data went out; no stop for a job nobody saw, which may be another's.
    QVERIFY(peer.received().contains(";CMD;NUM:3;") && peer.received().contains(";PLT;IN;"));
    QVERIFY(!peer.received().contains("SET125"));
}

// A read whose frame or answer went missing is asked once more, after resendReadAfterMs.
void tst_HostKit::readAskedAgain_data()
{
    QTest::addColumn<int>("resendAfterMs");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("asked");
    QTest::newRow("halfway, by default") << -1 << int(Result::Done) << 2;
    QTest::newRow("early") << 50 << int(Result::Done) << 2;
    QTest::newRow("never") << 0 << int(Result::NoAnswer) << 1;
}

void tst_HostKit::readAskedAgain()
{
    QFETCH(int, resendAfterMs);
    MachinePeer peer;
    int asked = 0;
    // The machine misses the first read of the work area.
    peer.answer = [&asked](const QByteArray& f) {
        if (f.contains(";1010"))
            return frame("CCMD", "1010,0,2;");
        if (f.contains("GET28;") && ++asked == 2)
            return frame("CMD", "GET28:3000;");
        return QByteArray();
    };
    SessionOptions options = hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", peer.port()));
    options.replyTimeoutMs = 600;
    options.resendReadAfterMs = resendAfterMs;
    const auto session = hostrig::session(options);
    QVERIFY(session->isUp());
    QTEST(int(hostrig::ask(*session, Request::of(Request::Read, { "WORKAREA_X" })).outcome),
        "outcome");
    QTEST(asked, "asked");
}

// The first report after the file went out names another job (one the machine went on with):
// it is not taken for this host's job.
void tst_HostKit::jobOfAnotherIsNotTaken_data()
{
    QTest::addColumn<QByteArray>("report");
    QTest::newRow("copies done already") << QByteArray("66,1,job-0007.plt,3,1,40,9,0,0;");
    QTest::newRow("other copies") << QByteArray("66,1,job-0007.plt,5,0,2,1,0,0;");
}

void tst_HostKit::jobOfAnotherIsNotTaken()
{
    QFETCH(QByteArray, report);
    MachinePeer peer;
    peer.answer = [report](const QByteArray& f) {
        if (f.contains(";1010"))
            return frame("CCMD", "1010,0,2;");
        return f.contains(";PLT;") ? frame("CCMD", report) : QByteArray();
    };
    SessionOptions options = hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", peer.port()));
    options.replyTimeoutMs = 300;
    const auto session = hostrig::session(options);
    const Result& result = hostrig::ask(*session, job(3));
    QCOMPARE(result.outcome, Result::Busy);
    QVERIFY2(result.reason.contains("did not take the file"), qPrintable(result.reason));
    QVERIFY(!peer.received().contains("SET125"));
}

void tst_HostKit::machineStartedAgain()
{
    // A machine started again numbers its jobs from the start: its job-0001.plt on the new link is
    // this host's new job, not the one cut before.
    auto first = std::make_unique<hostrig::Machine>();
    const auto session = hostrig::session(hostrig::sessionOptions(first->target()));
    QCOMPARE(hostrig::ask(*session, job(1)).outcome, Result::Done);
    first.reset();
    QTRY_COMPARE(session->link(), Session::Lost);
    hostrig::Machine second;
    session->connectTo(second.target());
    QTRY_VERIFY_WITH_TIMEOUT(session->isUp(), 10000);
    const Result& again = hostrig::ask(*session, job(1));
    QVERIFY2(again.outcome == Result::Done, qPrintable(again.reason));
    QCOMPARE(again.last.fileName, QStringLiteral("job-0001.plt"));
}

// A session that comes to a machine on another's job knows the job, paused or cutting, whether
// it holds the link itself or asks a machine service that does; asked to make the job what it
// is already, both say so at once.
void tst_HostKit::jobOfTheMachineDirectAndThroughAService_data()
{
    QTest::addColumn<bool>("paused");
    QTest::addColumn<int>("asked");
    QTest::newRow("paused, paused again") << true << int(Request::Pause);
    QTest::newRow("cutting, resumed") << false << int(Request::Resume);
}

void tst_HostKit::jobOfTheMachineDirectAndThroughAService()
{
    QFETCH(bool, paused);
    QFETCH(int, asked);
    hostrig::Machine machine(fastMachine(5));
    QVERIFY(hostrig::otherHostsJob(machine, 2));
    if (paused) {
        machine.client.send("CMD", "SET125:0;");
        QTRY_COMPARE(machine.sim.jobStatus(), SimMachine::Paused);
    }
    // The service holds the machine's USB port; the direct session its network port.
    QTemporaryDir dir;
    ServiceOptions options;
    options.session = hostrig::sessionOptions(machine.target(true));
    options.port = 0;
    options.database = dir.filePath(QStringLiteral("service.sqlite"));
    MachineService service;
    QString error;
    int code = 0;
    QVERIFY2(service.start(options, &error, &code), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(service.session()->isUp(), 10000);
    RemoteSession remote(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(service.port())), QString());
    QVERIFY(remote.open(hostrig::sessionOptions(MachineTarget())));
    remote.connectMachine();
    QTRY_VERIFY_WITH_TIMEOUT(remote.isUp(), 10000);
    const auto direct = hostrig::session(hostrig::sessionOptions(machine.target()));
    QVERIFY(direct && direct->isUp());

    const int status = paused ? TaskReport::Paused : TaskReport::Cutting;
    for (Session* session :
        { static_cast<Session*>(direct.get()), static_cast<Session*>(&remote) }) {
        const Result state = hostrig::ask(*session, Request::of(Request::Status));
        QCOMPARE(state.outcome, Result::Done);
        QCOMPARE(state.last.status, status);
        QCOMPARE(state.last.fileName, QStringLiteral("job-0001.plt"));
        const Result control = hostrig::ask(*session, Request::of(Request::Kind(asked)));
        QCOMPARE(control.outcome, Result::Done);
        QVERIFY(control.already);
        QCOMPARE(control.last.status, status);
    }
    QCOMPARE(machine.sim.jobStatus(), paused ? SimMachine::Paused : SimMachine::Cutting);
}

void tst_HostKit::silentMachine_data()
{
    QTest::addColumn<int>("replyTimeoutMs");
    QTest::addColumn<int>("lostAfterMs");
    QTest::addColumn<int>("kind"); // of the request in flight as the machine falls silent
    QTest::addColumn<QStringList>("names");
    QTest::newRow("answers due within the bound")
        << 200 << 2500 << int(Request::Jog) << QStringList();
    // The read ends at the bound; the heartbeat queued behind it still goes out.
    QTest::newRow("answers due past the bound")
        << 4000 << 1500 << int(Request::Read) << QStringList { "WORKAREA_X" };
}

void tst_HostKit::silentMachine()
{
    bool silent = false;
    MachinePeer peer;
    peer.answer = [&](const QByteArray& f) {
        return !silent && f.contains(";1010") ? frame("CCMD", "1010,0,1;") : QByteArray();
    };
    SessionOptions options = hostrig::sessionOptions(MachineTarget::tcp("127.0.0.1", peer.port()));
    QFETCH(int, replyTimeoutMs);
    QFETCH(int, lostAfterMs);
    options.replyTimeoutMs = replyTimeoutMs;
    options.lostAfterMs = lostAfterMs;
    const auto session = hostrig::session(options);
    QCOMPARE(
        hostrig::ask(*session, Request::of(Request::Read, { "HEARTBEAT" })).outcome, Result::Done);
    QSignalSpy answering(session.get(), &Session::answeringChanged);
    QFETCH(int, kind);
    QFETCH(QStringList, names);
    Reply* reply = session->send(Request::of(Request::Kind(kind), names));
    silent = true;
    QTRY_VERIFY_WITH_TIMEOUT(answering.count() == 1, 10000);
    QCOMPARE(answering.first().first().toBool(), false);
    QVERIFY(!session->isAnswering());
    QVERIFY(reply->isFinished());
    // Past the bound whatever is asked ends as lost.
    Reply* late = session->send(job(1));
    QTRY_VERIFY_WITH_TIMEOUT(late->isFinished(), 10000);
    QCOMPARE(late->result().outcome, Result::LinkLost);
    silent = false;
    QTRY_VERIFY_WITH_TIMEOUT(session->isAnswering(), 5000);
}

QTEST_MAIN(tst_HostKit)
#include "tst_hostkit.moc"
