// Task control on the device side: progress reports into the task record and the DevTasK
// message, the record's creation and reset, and its cost over a long job.

#include "hanging.h"
#include "testdevice.h"
#include "zrdeviceproperty.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QtTest>

using T = ZRDeviceInterface;

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonObject recordOf(ZRCommonInterface& device)
{
    return device.property_ptr("TASK")->value().toJsonObject();
}

} // namespace

class tst_Tasks : public QObject {
    Q_OBJECT
private slots:
    void progressReport_data();
    void progressReport();
    void taskParameterCreatedOnFirstReport();
    void otherKeysKept();
    void recordAcrossReports();
    void stopTaskResets();
    void stopTaskWithoutTask();
    void recordDoesNotGrow();
    void hostReadsWhatTheRecordHolds_data();
    void hostReadsWhatTheRecordHolds();
};

void tst_Tasks::progressReport_data()
{
    QTest::addColumn<QString>("report");
    QTest::addColumn<QJsonObject>("record"); // empty: the report is not applied

    auto row = [](const char* name, const char* report, const char* record) {
        QTest::newRow(name) << QString::fromUtf8(report) << json(record);
    };
    // clang-format off
    row("worked example",      "66,1,a.plt,3,1,45.9,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":45})");
    row("more fields",         "66,2,b.plt,5,4,99.999,0,0,0,7,8",
        R"({"Status":2,"FileName":"b.plt","TaskCopies":5,"Finished":4,"Percent":99})");
    row("eight fields",        "66,1,a.plt,3,1,45.9,0,0", "{}");
    row("report alone",        "66", "{}");
    row("empty fields",        "66,,,,,,,,",
        R"({"Status":0,"FileName":"","TaskCopies":0,"Finished":0,"Percent":0})");
    row("file name kept whole", "66,1,零件 1 .plt,3,1,45,0,0,0",
        R"({"Status":1,"FileName":"零件 1 .plt","TaskCopies":3,"Finished":1,"Percent":45})");
    row("negative numbers",    "66,-1,a.plt,-3,-1,-45.9,0,0,0",
        R"({"Status":-1,"FileName":"a.plt","TaskCopies":-3,"Finished":-1,"Percent":-45})");
    row("integers not numbers", "66,x,a.plt,3.0,99999999999,45,0,0,0",
        R"({"Status":0,"FileName":"a.plt","TaskCopies":0,"Finished":0,"Percent":45})");
    row("percent inf",         "66,1,a.plt,3,1,inf,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent -inf",        "66,1,a.plt,3,1,-inf,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent nan",         "66,1,a.plt,3,1,nan,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent 1e300",       "66,1,a.plt,3,1,1e300,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent -1e300",      "66,1,a.plt,3,1,-1e300,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent 1e400",       "66,1,a.plt,3,1,1e400,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent int max",     "66,1,a.plt,3,1,2147483647.9,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":2147483647})");
    row("percent above int",   "66,1,a.plt,3,1,2147483648,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent int min",     "66,1,a.plt,3,1,-2147483648.9,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":-2147483648})");
    row("percent below int",   "66,1,a.plt,3,1,-2147483649,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent exponent",    "66,1,a.plt,3,1,4.56e1,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":45})");
    row("percent garbage",     "66,1,a.plt,3,1,45%,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent hex",         "66,1,a.plt,3,1,0x10,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent below one",   "66,1,a.plt,3,1,-0.5,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent leading zeros", "66,1,a.plt,3,1,007.50,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":7})");
    row("percent blanks",      "66,1,a.plt,3,1, 45.5 ,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":45})");
    row("percent two points",  "66,1,a.plt,3,1,45.5.5,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    row("percent point alone", "66,1,a.plt,3,1,-.,0,0,0",
        R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":0})");
    // clang-format on
}

void tst_Tasks::progressReport()
{
    QFETCH(QString, report);
    QFETCH(QJsonObject, record);

    TestDevice device;
    device.init157(&device);
    QStringList messages;
    connect(&device, &T::message, this, [&messages](T::ZRDeviceMessage kind, QString text) {
        messages.append(QString::number(kind) + QLatin1Char(':') + text);
    });

    device.decode_task(report);

    QVERIFY(device.property_ptr("TASK"));
    QCOMPARE(recordOf(device), record);
    QCOMPARE(messages, record.isEmpty() ? QStringList() : QStringList { "1:" + report });
}

void tst_Tasks::taskParameterCreatedOnFirstReport()
{
    TestDevice device;
    device.init157(&device);
    const QList<QByteArray> before = device.dynamicPropertyNames();

    device.decode_task("66,1"); // too short to apply, but the record exists from now on
    ZRDeviceProperty* task = device.property_ptr("TASK");
    QVERIFY(task);
    QCOMPARE(device.dynamicPropertyNames(), before + QList<QByteArray> { "TASK" });
    QCOMPARE(task->value().userType(), int(QMetaType::QJsonObject));
    QVERIFY(task->value().toJsonObject().isEmpty());
    QCOMPARE(task->label(), QString::fromUtf8("当前任务"));
    QVERIFY(task->uint().isEmpty());
    QCOMPARE(task->cmd_type(), T::UnCMD);
    QCOMPARE(task->get_cmd_int(), 0);
    QCOMPARE(task->set_cmd_int(), 0);
    QCOMPARE(task->cmd_len(), 0);
    QVERIFY(task->param().isEmpty());
    QVERIFY(!task->parent());

    QSignalSpy changed(task, &ZRDeviceProperty::valueChanged);
    device.decode_task("66,1,a.plt,3,1,45.9,0,0,0");
    QCOMPARE(device.property_ptr("TASK"), task);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(recordOf(device).value("Percent"), QJsonValue(45));

    // The label is translated in the device core's context.
    QCOMPARE(ZRCommonInterface::tr("当前任务"), QString::fromUtf8("当前任务"));
}

void tst_Tasks::otherKeysKept()
{
    TestDevice device;
    device.init157(&device);
    device.decode_task("66");
    device.property_ptr("TASK")->setValue(
        json(R"({"Extra":"keep","Nested":{"a":[1,2]},"Status":9,"Percent":1})"));

    device.decode_task("66,1,a.plt,3,1,45.9,0,0,0");
    QCOMPARE(recordOf(device),
        json(R"({"Extra":"keep","Nested":{"a":[1,2]},"Status":1,"FileName":"a.plt",
                 "TaskCopies":3,"Finished":1,"Percent":45})"));

    device.stopTask();
    QCOMPARE(
        recordOf(device), json(R"({"Extra":"keep","Nested":{"a":[1,2]},"Status":0,"FileName":"",
                 "TaskCopies":0,"Finished":0,"Percent":100})"));
}

// Reports of one file replace the numbers of the record in place; the record a host took earlier
// keeps its values, a key the host added stays, a new file and a record the host replaced are
// read afresh, and a report equal to the record changes nothing.
void tst_Tasks::recordAcrossReports()
{
    TestDevice device;
    device.init157(&device);
    const auto report = [&device](const char* text) {
        device.decode_task(QString::fromLatin1(text));
        return recordOf(device);
    };
    const QJsonObject first = report("66,1,a.plt,3,0,10.5,0,0,0");
    QCOMPARE(report("66,1,a.plt,3,1,40,0,0,0"),
        json(R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":1,"Percent":40})"));
    QCOMPARE(
        first, json(R"({"Status":1,"FileName":"a.plt","TaskCopies":3,"Finished":0,"Percent":10})"));

    ZRDeviceProperty* task = device.property_ptr("TASK");
    QSignalSpy changed(task, &ZRDeviceProperty::valueChanged);
    report("66,1,a.plt,3,1,40,0,0,0");
    QCOMPARE(changed.count(), 0);

    QJsonObject noted = recordOf(device);
    noted.insert("Note", "kept");
    task->setValue(noted);
    QCOMPARE(report("66,2,a.plt,3,2,70,0,0,0"),
        json(R"({"Note":"kept","Status":2,"FileName":"a.plt","TaskCopies":3,"Finished":2,
                 "Percent":70})"));
    QCOMPARE(report("66,2,b.plt,3,2,75,0,0,0"),
        json(R"({"Note":"kept","Status":2,"FileName":"b.plt","TaskCopies":3,"Finished":2,
                 "Percent":75})"));

    task->setValue(
        json(R"({"Status":9,"FileName":"c.plt","TaskCopies":9,"Finished":9,"Percent":9})"));
    QCOMPARE(report("66,1,c.plt,4,3,80,0,0,0"),
        json(R"({"Status":1,"FileName":"c.plt","TaskCopies":4,"Finished":3,"Percent":80})"));
    QCOMPARE(report("66,1,d.plt,4,0,1,0,0,0"),
        json(R"({"Status":1,"FileName":"d.plt","TaskCopies":4,"Finished":0,"Percent":1})"));
    device.stopTask();
    QCOMPARE(report("66,1,d.plt,4,1,30,0,0,0"),
        json(R"({"Status":1,"FileName":"d.plt","TaskCopies":4,"Finished":1,"Percent":30})"));
    QCOMPARE(changed.count(), 8);
}

void tst_Tasks::stopTaskResets()
{
    TestDevice device;
    device.init157(&device);
    device.startTask(); // no link: nothing goes out, but the start time is recorded
    ZRDeviceProperty* startTime = device.property_ptr("TASK_START_TIME");
    QVERIFY(startTime);
    QVERIFY(startTime->value().toDateTime().isValid());
    device.decode_task("66,1,a.plt,3,2,80,0,0,0");

    QSignalSpy startChanged(startTime, &ZRDeviceProperty::valueChanged);
    device.stopTask();

    QCOMPARE(recordOf(device),
        json(R"({"Status":0,"FileName":"","TaskCopies":0,"Finished":0,"Percent":100})"));
    QCOMPARE(startTime->value().userType(), int(QMetaType::QDateTime));
    QVERIFY(startTime->value().toDateTime().isNull());
    QCOMPARE(startChanged.count(), 1);

    // A new report after the stop replaces the five keys again.
    device.decode_task("66,1,b.plt,1,0,5,0,0,0");
    QCOMPARE(recordOf(device),
        json(R"({"Status":1,"FileName":"b.plt","TaskCopies":1,"Finished":0,"Percent":5})"));
}

void tst_Tasks::stopTaskWithoutTask()
{
    TestDevice bare;
    bare.stopTask();
    QVERIFY(bare.dynamicPropertyNames().isEmpty());

    TestDevice device;
    device.init157(&device);
    const QList<QByteArray> before = device.dynamicPropertyNames();
    device.stopTask();
    device.stopTask();
    QCOMPARE(device.dynamicPropertyNames(), before);
}

// A long job sends thousands of progress reports, each with the file name. The record must cost
// the same to update at the end of the job as at its start.
void tst_Tasks::recordDoesNotGrow()
{
    TestDevice device;
    device.init157(&device);
    const QString fileName = QString("part-").repeated(100) + ".plt";
    const int reports = 10000;
    const int batch = 100;

    // The fastest batch of a window, to see through scheduling noise.
    auto fastestBatch = [&](int from, int to) {
        qint64 fastest = std::numeric_limits<qint64>::max();
        for (int start = from; start < to; start += batch) {
            QElapsedTimer timer;
            timer.start();
            for (int i = start; i < start + batch; ++i) {
                device.decode_task(QStringLiteral("66,1,%1%2,%3,%4,%5,0,0,0")
                                       .arg(fileName)
                                       .arg(i % 7)
                                       .arg(reports)
                                       .arg(i)
                                       .arg(i * 100.0 / reports));
            }
            fastest = qMin(fastest, timer.nsecsElapsed());
        }
        return fastest;
    };

    const qint64 early = fastestBatch(0, 1000);
    const int sizeEarly = QJsonDocument(recordOf(device)).toJson(QJsonDocument::Compact).size();
    fastestBatch(1000, reports - 1000);
    const qint64 late = fastestBatch(reports - 1000, reports);
    const int sizeLate = QJsonDocument(recordOf(device)).toJson(QJsonDocument::Compact).size();

    qInfo(
        "fastest batch of %d reports: %.3f ms early, %.3f ms late", batch, early / 1e6, late / 1e6);
    // A record that kept every replaced file name would copy megabytes per report by the end:
    // the two figures above tell it; the test asserts only what a loaded machine cannot change.
    QCOMPARE(sizeLate, sizeEarly + 2); // "Finished" 999 -> 9999, "Percent" 9 -> 99
    QCOMPARE(recordOf(device),
        QJsonObject({ { "Status", 1 }, { "FileName", fileName + "3" }, { "TaskCopies", reports },
            { "Finished", reports - 1 }, { "Percent", 99 } }));
}

void tst_Tasks::hostReadsWhatTheRecordHolds_data()
{
    progressReport_data();
}

// A host reads a report (ZRDevice::TaskReport) as the device reads it into its record: the same
// fields, the percentage whole but within 0 to 100.
void tst_Tasks::hostReadsWhatTheRecordHolds()
{
    QFETCH(QString, report);
    QFETCH(QJsonObject, record);
    ZRDevice::TaskReport read;
    QCOMPARE(ZRDevice::TaskReport::parse(report, &read), !record.isEmpty());
    if (record.isEmpty())
        return;
    QCOMPARE(read.status, record.value("Status").toInt());
    QCOMPARE(read.fileName, record.value("FileName").toString());
    QCOMPARE(read.copies, record.value("TaskCopies").toInt());
    QCOMPARE(read.finished, record.value("Finished").toInt());
    QCOMPARE(int(read.percent), qBound(0, record.value("Percent").toInt(), 100));
    QCOMPARE(read.text, report);
}

QTEST_GUILESS_MAIN(tst_Tasks)
#include "tst_tasks.moc"
