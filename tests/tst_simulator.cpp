// The simulated machine over real TCP on 127.0.0.1: what it answers, byte for byte, and how it
// runs jobs, QR-code jobs, pause/resume/stop and jogging; and its pseudo-terminal port.

#include "simrig.h"

#include <QtTest>

#include <memory>

using namespace simtest;

class tst_Simulator : public QObject {
    Q_OBJECT
private slots:
    void clientFramesAreTheDevicesFrames();

    void replies_data();
    void replies();
    void registerRoundTrip_data();
    void registerRoundTrip();
    void informationWritesAreReadBack();
    void factorySettingRestoresDefaults();
    void ignored_data();
    void ignored();

    void fileJob();
    void paceFollowsPathLength();
    void jobLengthOfArcsAndLabels_data();
    void jobLengthOfArcsAndLabels();
    void pauseResumeStop();
    void cutFileDuringJobIsIgnored();
    void qrCodeJob();
    void qrCodeJobPausedAndStopped();
    void jogging();
    void originMovesJobs();

    void newConnectionTakesOver();
    void ptyFront();

private:
    // A machine on an ephemeral loopback port with a client connected to it.
    void start(const SimOptions& options = SimOptions());

    std::unique_ptr<SimRig> m_rig;
};

void tst_Simulator::start(const SimOptions& options)
{
    m_rig.reset(new SimRig(options));
    QVERIFY(m_rig->connectClient());
}

void tst_Simulator::clientFramesAreTheDevicesFrames()
{
    QCOMPARE(frame("CMD", "GET5;"), QByteArray::fromHex("0231343b434d443b474554353b03"));
    QCOMPARE(frame("CCMD", "1010;"),
        QByteArray("\x02"
                   "15;CCMD;1010;\x03"));
    QCOMPARE(frame("X", QByteArray(95 - 2, 'y')).size(), 101);
}

void tst_Simulator::replies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    // clang-format off
    QTest::newRow("read work area x")   << frame("CMD", "GET28;")       << QByteArray("\x02" "20;CMD;GET28:3000;\x03");
    QTest::newRow("read work area y")   << frame("CMD", "GET29;")       << frame("CMD", "GET29:2400;");
    QTest::newRow("read scale")         << frame("CMD", "GET24;25;")    << frame("CMD", "GET24:10000;GET25:10000;");
    QTest::newRow("read camera offset") << frame("CMD", "GET11;12;13;") << frame("CMD", "GET11:2500;GET12:0;GET13:0;");
    QTest::newRow("read station 1")     << frame("CMD", "GET128;")      << frame("CMD", "GET128:1;");
    QTest::newRow("read work mode")     << frame("CMD", "GET27;")       << frame("CMD", "GET27:1;");
    QTest::newRow("read feeder")        << frame("CMD", "GET135;")      << frame("CMD", "GET135:500;");
    QTest::newRow("unset register")     << frame("CMD", "GET200;")      << frame("CMD", "GET200:0;");
    QTest::newRow("write work area")    << frame("CMD", "SET28:3200;")  << frame("CMD", "SET28:3200;");
    QTest::newRow("write three words")  << frame("CMD", "SET11:63036;12:65535;13:0;")
                                        << frame("CMD", "SET11:63036;SET12:65535;SET13:0;");
    QTest::newRow("write negative")     << frame("CMD", "SET131:-10;")  << frame("CMD", "SET131:65526;");
    QTest::newRow("bad item skipped")   << frame("CMD", "SET1:300;2:x;4:90;") << frame("CMD", "SET1:300;SET4:90;");
    QTest::newRow("heartbeat")          << frame("CCMD", "1010;")       << QByteArray("\x02" "19;CCMD;1010,0,2;\x03");
    QTest::newRow("heartbeat write")    << frame("CCMD", "1010,5;")     << frame("CCMD", "1010,0,5;");
    QTest::newRow("information")        << frame("CCMD", "2;")
        << frame("CCMD", "2,0,ZR-TX4150V,TX4150V-000128,ZB157-2308-0415,V1.57,1.5.7,CFG-4150-03;");
    QTest::newRow("unique id")          << frame("CCMD", "57;")         << frame("CCMD", "57,0,5A52B7C40E19F263;");
    QTest::newRow("machine number")     << frame("CCMD", "44,TX-9;")    << QByteArray("\x02" "15;CCMD;44,0;\x03");
    QTest::newRow("board number")       << frame("CCMD", "46,B-1;")     << frame("CCMD", "46,0;");
    QTest::newRow("board version")      << frame("CCMD", "48,V2;")      << frame("CCMD", "48,0;");
    QTest::newRow("text with a comma")  << frame("CCMD", "44,A,B;")     << frame("CCMD", "44,1;");
    QTest::newRow("text with a ';'")    << frame("CCMD", "44,A;B;")     << frame("CCMD", "44,1;");
    QTest::newRow("factory setting")    << frame("CCMD", "67,0;")       << frame("CCMD", "67,0;");
    QTest::newRow("factory, odd value") << frame("CCMD", "67,1;")       << frame("CCMD", "67,1;");
    QTest::newRow("pause, no job")      << frame("CMD", "SET125:0;")    << frame("CMD", "SET125:0;");
    QTest::newRow("jog x plus")         << frame("CMD", "SET82:32868;") << frame("CMD", "SET82:32868;");
    QTest::newRow("set origin")         << frame("CMD", "SET87:1;")     << frame("CMD", "SET87:1;");
    // clang-format on
}

void tst_Simulator::replies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    start();
    m_rig->client.send(request);
    QVERIFY(m_rig->client.waitForFrames(1));
    QTest::qWait(20);
    QCOMPARE(m_rig->client.bytes(), reply);
    QCOMPARE(m_rig->sim.received().size(), 1);
    QVERIFY(m_rig->sim.received().first().isValid());
}

void tst_Simulator::registerRoundTrip_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("readBack");
    QTest::newRow("one word") << QByteArray("SET28:3200;") << QByteArray("GET28;")
                              << QByteArray("GET28:3200;");
    QTest::newRow("camera offset -12.5 mm")
        << QByteArray("SET11:63036;12:65535;13:0;") << QByteArray("GET11;12;13;")
        << QByteArray("GET11:63036;GET12:65535;GET13:0;");
    QTest::newRow("tool offset y")
        << QByteArray("SET8:200;SET9:1;SET10:0;") << QByteArray("GET8;9;10;")
        << QByteArray("GET8:200;GET9:1;GET10:0;");
    QTest::newRow("top word") << QByteArray("SET138:65535;") << QByteArray("GET138;")
                              << QByteArray("GET138:65535;");
    QTest::newRow("out of range kept out")
        << QByteArray("SET26:65536;SET27:2;") << QByteArray("GET26;27;")
        << QByteArray("GET26:400;GET27:2;");
}

void tst_Simulator::registerRoundTrip()
{
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, readBack);
    start();
    m_rig->client.send("CMD", write);
    QVERIFY(m_rig->client.waitForFrames(1));
    m_rig->client.send("CMD", read);
    QVERIFY(m_rig->client.waitForFrames(2));
    QCOMPARE(m_rig->client.frames().at(1), frame("CMD", readBack));
}

void tst_Simulator::informationWritesAreReadBack()
{
    start();
    m_rig->client.send("CCMD", "44,M-77;");
    m_rig->client.send("CCMD", "46,PCB-5;");
    m_rig->client.send("CCMD", "48,V9;");
    m_rig->client.send("CCMD", "2;");
    QVERIFY(m_rig->client.waitForFrames(4));
    QCOMPARE(m_rig->client.frames().at(3),
        frame("CCMD", "2,0,ZR-TX4150V,M-77,PCB-5,V9,1.5.7,CFG-4150-03;"));
}

void tst_Simulator::factorySettingRestoresDefaults()
{
    start();
    m_rig->client.send("CMD", "SET28:1000;SET29:1000;");
    m_rig->client.send("CCMD", "1010,7;");
    m_rig->client.send("CCMD", "67,0;");
    m_rig->client.send("CMD", "GET28;29;");
    m_rig->client.send("CCMD", "1010;");
    QVERIFY(m_rig->client.waitForFrames(5));
    const QList<QByteArray> frames = m_rig->client.frames();
    QCOMPARE(frames.at(2), frame("CCMD", "67,0;"));
    QCOMPARE(frames.at(3), frame("CMD", "GET28:3000;GET29:2400;"));
    QCOMPARE(frames.at(4), frame("CCMD", "1010,0,2;"));
}

void tst_Simulator::ignored_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("rejected");

    // clang-format off
    QTest::newRow("unknown head")          << frame("XYZ", "GET28;")          << false;
    QTest::newRow("unknown CCMD")          << frame("CCMD", "999;")           << false;
    QTest::newRow("unknown CMD verb")      << frame("CMD", "PUT28:1;")        << false;
    QTest::newRow("no ';' before ETX")     << frame("CMD", "GET28")           << false;
    QTest::newRow("register not a number") << frame("CMD", "GETxx;")          << false;
    QTest::newRow("register out of range") << frame("CMD", "GET70000;")       << false;
    QTest::newRow("value out of range")    << frame("CMD", "SET28:70000;")    << false;
    QTest::newRow("value not a number")    << frame("CMD", "SET28:12.5;")     << false;
    QTest::newRow("empty payload")         << frame("CMD", "")                << false;
    QTest::newRow("zero copies")           << frame("CMD", "NUM:0;")          << false;
    QTest::newRow("heartbeat status read") << frame("CCMD", "1010,0,9;")      << false;
    QTest::newRow("heartbeat zero")        << frame("CCMD", "1010,0;")        << false;
    QTest::newRow("QR job of no copies")   << frame("CCMD", "54,0;")          << false;
    QTest::newRow("bare factory")          << frame("CCMD", "67;")            << false;
    QTest::newRow("non-numeric CCMD")      << frame("CCMD", "abc,0,1;")       << false;
    QTest::newRow("length too big")        << QByteArray("\x02" "16;CMD;GET28;\x03") << true;
    QTest::newRow("length zero-padded")    << QByteArray("\x02" "015;CMD;GET28;\x03") << true;
    QTest::newRow("length not a number")   << QByteArray("\x02" "1x;CMD;GET28;\x03")  << true;
    QTest::newRow("fewer than 3 fields")   << QByteArray("\x02" "7;CMD\x03")  << true;
    QTest::newRow("bytes without STX")     << QByteArray("junk;CMD;GET28;\x03") << false;
    QTest::newRow("lone ETX")              << QByteArray("\x03\x03")          << false;
    // clang-format on
}

void tst_Simulator::ignored()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, rejected);
    start();
    m_rig->client.send(bytes);
    // The heartbeat behind it is answered first: the ignored frame got no reply.
    m_rig->client.send("CCMD", "1010;");
    QVERIFY(m_rig->client.waitForFrames(1));
    QTest::qWait(30);
    QCOMPARE(m_rig->client.frames(), QList<QByteArray>() << frame("CCMD", "1010,0,2;"));
    QCOMPARE(m_rig->sim.counters().framesRejected, rejected ? 1 : 0);
    QCOMPARE(m_rig->sim.registerValue(28), quint16(3000));
    QCOMPARE(m_rig->sim.jobStatus(), SimMachine::Idle);
}

void tst_Simulator::fileJob()
{
    SimOptions options;
    options.speedMmPerSecond = 4000;
    options.reportIntervalMs = 20;
    start(options);
    m_rig->client.send("CMD", "NUM:3;");
    m_rig->client.send("PLT", square(100)); // 400 mm a copy, 0.1 s at this speed
    QVERIFY(!m_rig->client.waitForPayload("66,3,", 3000).isEmpty());

    const QList<QList<QByteArray>> all = reports(m_rig->client.frames());
    QVERIFY2(all.size() >= 4, qPrintable(QString::number(all.size())));
    double lastPercent = -1;
    int lastFinished = 0;
    for (const QList<QByteArray>& r : all) {
        QCOMPARE(r.size(), 9);
        QCOMPARE(r.at(2), QByteArray("job-0001.plt"));
        QCOMPARE(r.at(3), QByteArray("3"));
        bool ok = false;
        const double percent = r.at(5).toDouble(&ok);
        QVERIFY(ok);
        QVERIFY2(percent >= lastPercent, r.join(',').constData());
        lastPercent = percent;
        QVERIFY(r.at(4).toInt() >= lastFinished);
        lastFinished = r.at(4).toInt();
        r.at(6).toInt(&ok);
        QVERIFY(ok);
        const double x = r.at(7).toDouble(&ok);
        QVERIFY(ok && x >= 0 && x <= 100);
        const double y = r.at(8).toDouble(&ok);
        QVERIFY(ok && y >= 0 && y <= 100);
    }
    QCOMPARE(all.first().at(1), QByteArray("1"));
    QCOMPARE(all.first().at(5), QByteArray("0.0"));
    for (int i = 0; i + 1 < all.size(); ++i)
        QCOMPARE(all.at(i).at(1), QByteArray("1"));
    QCOMPARE(all.last().mid(1, 5), QList<QByteArray>({ "3", "job-0001.plt", "3", "3", "100.0" }));

    const SimCounters& c = m_rig->sim.counters();
    QCOMPARE(c.jobsStarted, 1);
    QCOMPARE(c.jobsFinished, 1);
    QCOMPARE(c.copiesCut, 3);
    QVERIFY(qAbs(c.pathCutMm - 1200) < 0.01);
    QCOMPARE(m_rig->sim.receivedHeads(), QList<QByteArray>({ "CMD", "PLT" }));
    QCOMPARE(m_rig->sim.received().at(1).payload, square(100));
    QCOMPARE(m_rig->sim.jobStatus(), SimMachine::Idle);

    // The copy count applies to one job only; the next file is a single copy under a new name.
    m_rig->client.clear();
    m_rig->client.send("PLT", square(10));
    const QByteArray last = m_rig->client.waitForPayload("66,3,");
    QCOMPARE(bodyOf(last).split(',').mid(2, 3), QList<QByteArray>({ "job-0002.plt", "1", "1" }));
}

void tst_Simulator::paceFollowsPathLength()
{
    SimOptions options;
    options.speedMmPerSecond = 2000;
    options.reportIntervalMs = 50;
    start(options);
    const auto jobTime = [this](int side) {
        m_rig->client.clear();
        QElapsedTimer clock;
        clock.start();
        m_rig->client.send("PLT", square(side));
        m_rig->client.waitForPayload("66,3,", 5000);
        return clock.elapsed();
    };
    const qint64 short_ = jobTime(50); // 200 mm: 100 ms
    const qint64 long_ = jobTime(150); // 600 mm: 300 ms
    QVERIFY2(short_ >= 95 && long_ >= 295, qPrintable(QString("%1 %2").arg(short_).arg(long_)));
    const double ratio = double(long_) / double(short_);
    QVERIFY2(
        ratio > 2.0 && ratio < 4.0, qPrintable(QString("%1 ms, %2 ms").arg(short_).arg(long_)));
}

void tst_Simulator::jobLengthOfArcsAndLabels_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("logged");
    QTest::newRow("circle") << QByteArray("IN;PU4000,4000;CI400;") << "62.7 mm to cut";
    QTest::newRow("arc and line") << QByteArray("IN;PU400,0;PD;AA0,0,180;PR0,-400;")
                                  << "41.4 mm to cut";
    QTest::newRow("label") << QByteArray("IN;PU0,0;LBtext")
                           << "cut file not read: line 1: a text label";
}

void tst_Simulator::jobLengthOfArcsAndLabels()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, logged);
    start();
    QStringList lines;
    QObject listening;
    connect(&m_rig->sim, &SimMachine::logLine, &listening,
        [&](const QString& line) { lines << line; });
    m_rig->client.send("PLT", file);
    QVERIFY2(QTest::qWaitFor([&] { return lines.join('\n').contains(logged); }, 3000),
        qPrintable(lines.join('\n')));
}

void tst_Simulator::pauseResumeStop()
{
    SimOptions options;
    options.speedMmPerSecond = 500;
    options.reportIntervalMs = 20;
    start(options);
    m_rig->client.send("PLT", square(250)); // 1000 mm: 2 s
    QVERIFY(!m_rig->client.waitForPayload("66,1,").isEmpty());
    QTest::qWait(100);

    m_rig->client.send("CMD", "SET125:0;");
    QVERIFY(!m_rig->client.waitForPayload("66,2,").isEmpty());
    QCOMPARE(m_rig->sim.jobStatus(), SimMachine::Paused);
    const int framesAtPause = m_rig->client.frames().size();
    QVERIFY(m_rig->client.frames().contains(frame("CMD", "SET125:0;")));
    const double pausedAt = m_rig->sim.jobPercent();
    QVERIFY(pausedAt > 0 && pausedAt < 50);
    QTest::qWait(200);
    QCOMPARE(m_rig->client.frames().size(), framesAtPause);
    QCOMPARE(m_rig->sim.jobPercent(), pausedAt);

    m_rig->client.clear();
    m_rig->client.send("CMD", "SET125:1;");
    QVERIFY(m_rig->client.waitForFrames(2));
    // Paused, the machine sends nothing of its own: the echo comes first.
    QCOMPARE(m_rig->client.frames().first(), frame("CMD", "SET125:1;"));
    QVERIFY(isReport(m_rig->client.frames().at(1)));
    QVERIFY(payloadOf(m_rig->client.frames().at(1)).startsWith("66,1,job-0001.plt,1,0,"));
    QVERIFY(QTest::qWaitFor([&] { return m_rig->sim.jobPercent() > pausedAt; }, 1000));

    m_rig->client.clear();
    m_rig->client.send("CMD", "SET125:2;");
    const QByteArray stopped = m_rig->client.waitForPayload("66,4,");
    QVERIFY(!stopped.isEmpty());
    // A report may have been on its way; the echo comes before the last report all the same.
    const int echo = m_rig->client.frames().indexOf(frame("CMD", "SET125:2;"));
    QVERIFY(echo >= 0 && echo < m_rig->client.frames().indexOf(stopped));
    const QList<QByteArray> fields = bodyOf(stopped).split(',');
    QCOMPARE(fields.size(), 9);
    QVERIFY(fields.at(5).toDouble() > pausedAt && fields.at(5).toDouble() < 100);
    QCOMPARE(m_rig->sim.jobStatus(), SimMachine::Idle);
    QCOMPARE(m_rig->sim.counters().jobsStopped, 1);
    QCOMPARE(m_rig->sim.counters().jobsFinished, 0);
    QCOMPARE(m_rig->sim.counters().copiesCut, 0);

    // Nothing follows the last report.
    const int count = m_rig->client.frames().size();
    QTest::qWait(100);
    QCOMPARE(m_rig->client.frames().size(), count);
}

void tst_Simulator::cutFileDuringJobIsIgnored()
{
    SimOptions options;
    options.speedMmPerSecond = 1000;
    options.reportIntervalMs = 20;
    start(options);
    m_rig->client.send("PLT", square(50)); // 0.2 s
    m_rig->client.send("CMD", "NUM:4;");
    m_rig->client.send("PLT", square(500));
    QVERIFY(!m_rig->client.waitForPayload("66,3,").isEmpty());
    QCOMPARE(m_rig->sim.counters().jobsStarted, 1);
    QVERIFY(qAbs(m_rig->sim.counters().pathCutMm - 200) < 0.01);
    // The copies wait for the next file.
    m_rig->client.clear();
    m_rig->client.send("PLT", square(5));
    QCOMPARE(bodyOf(m_rig->client.waitForPayload("66,3,")).split(',').value(3), QByteArray("4"));
}

void tst_Simulator::qrCodeJob()
{
    SimOptions options;
    options.speedMmPerSecond = 4000;
    options.reportIntervalMs = 20;
    options.qrScanMs = 10;
    options.qrNames = QStringList { "sign-a.plt", "sign-b.plt" };
    start(options);
    m_rig->client.send("CCMD", "54,3;");
    QCOMPARE(m_rig->client.waitForPayload("55,"), frame("CCMD", "55,sign-a.plt;"));
    QVERIFY(reports(m_rig->client.frames()).isEmpty());

    m_rig->client.send("QR_PLT", square(20));
    QCOMPARE(m_rig->client.waitForPayload("55,sign-b"), frame("CCMD", "55,sign-b.plt;"));
    // Data for the rest may come early: it waits for its code.
    m_rig->client.send("QR_PLT", square(20));
    m_rig->client.send("QR_PLT", square(40));
    QVERIFY(!m_rig->client.waitForPayload("66,3,").isEmpty());

    QList<QByteArray> names;
    for (const QByteArray& f : m_rig->client.frames()) {
        if (payloadOf(f).startsWith("55,"))
            names.append(bodyOf(f).mid(3));
    }
    QCOMPARE(names, QList<QByteArray>({ "sign-a.plt", "sign-b.plt", "sign-a.plt" }));

    const QList<QList<QByteArray>> all = reports(m_rig->client.frames());
    double lastPercent = -1;
    for (const QList<QByteArray>& r : all) {
        QCOMPARE(r.size(), 9);
        QCOMPARE(r.at(3), QByteArray("3"));
        QVERIFY(r.at(5).toDouble() >= lastPercent);
        lastPercent = r.at(5).toDouble();
    }
    QCOMPARE(all.first().mid(1, 5), QList<QByteArray>({ "1", "sign-a.plt", "3", "0", "0.0" }));
    QCOMPARE(all.last().mid(1, 5), QList<QByteArray>({ "3", "sign-a.plt", "3", "3", "100.0" }));
    QCOMPARE(m_rig->sim.counters().copiesCut, 3);
    QVERIFY(qAbs(m_rig->sim.counters().pathCutMm - 80 - 80 - 160) < 0.01);
    QCOMPARE(m_rig->sim.counters().jobsStarted, 1);
    QCOMPARE(m_rig->sim.counters().jobsFinished, 1);

    // Cut data without a QR-code job is cut once, as a file.
    m_rig->client.clear();
    m_rig->client.send("QR_PLT", square(5));
    QCOMPARE(bodyOf(m_rig->client.waitForPayload("66,3,")).split(',').mid(2, 3),
        QList<QByteArray>({ "job-0001.plt", "1", "1" }));
}

void tst_Simulator::qrCodeJobPausedAndStopped()
{
    SimOptions options;
    options.speedMmPerSecond = 4000;
    options.reportIntervalMs = 20;
    options.qrScanMs = 10;
    start(options);
    m_rig->client.send("CCMD", "54,2;");
    QCOMPARE(m_rig->client.waitForPayload("55,"), frame("CCMD", "55,qr-0001.plt;"));

    // Paused while waiting for data: the data waits too.
    m_rig->client.send("CMD", "SET125:0;");
    QCOMPARE(m_rig->client.waitForPayload("66,2,"),
        frame("CCMD", "66,2,qr-0001.plt,2,0,0.0,0,0.0,0.0;"));
    m_rig->client.send("QR_PLT", square(20));
    QTest::qWait(100);
    QVERIFY(m_rig->client.waitForPayload("66,1,", 0).isEmpty());
    QCOMPARE(m_rig->sim.counters().pathCutMm, 0.0);

    m_rig->client.send("CMD", "SET125:1;");
    QCOMPARE(m_rig->client.waitForPayload("55,qr-0002"), frame("CCMD", "55,qr-0002.plt;"));
    QVERIFY(qAbs(m_rig->sim.counters().pathCutMm - 80) < 0.01);

    m_rig->client.clear();
    m_rig->client.send("CMD", "SET125:2;");
    const QList<QByteArray> last = bodyOf(m_rig->client.waitForPayload("66,4,")).split(',');
    QCOMPARE(last.mid(1, 5), QList<QByteArray>({ "4", "qr-0002.plt", "2", "1", "50.0" }));
    QCOMPARE(m_rig->sim.jobStatus(), SimMachine::Idle);
    QCOMPARE(m_rig->sim.counters().jobsStopped, 1);
}

void tst_Simulator::jogging()
{
    start();
    m_rig->client.send("CMD", "SET82:32868;"); // +X at 100 mm/s
    QVERIFY(m_rig->client.waitForFrames(1));
    QTest::qWait(200);
    m_rig->client.send("CMD", "SET82:0;");
    QVERIFY(m_rig->client.waitForFrames(2));
    const double x = m_rig->sim.headPosition().x();
    QVERIFY2(x > 12 && x < 40, qPrintable(QString::number(x)));
    QTest::qWait(50);
    QCOMPARE(m_rig->sim.headPosition().x(), x);
    QCOMPARE(m_rig->sim.headPosition().y(), 0.0);

    // -Y from 0 stays at the edge of the table.
    m_rig->client.send("CMD", "SET83:100;");
    QVERIFY(m_rig->client.waitForFrames(3));
    QTest::qWait(50);
    QCOMPARE(m_rig->sim.headPosition().y(), 0.0);
    m_rig->client.send("CMD", "SET83:65535;"); // +Y at 32767 mm/s, for longer than the table
    QTest::qWait(100);
    QCOMPARE(m_rig->sim.headPosition().y(), 1200.0);
    m_rig->client.send("CMD", "SET83:0;");
    m_rig->client.send("CMD", "GET82;83;");
    QVERIFY(m_rig->client.waitForFrames(6));
    QCOMPARE(m_rig->client.frames().at(4), frame("CMD", "SET83:0;"));
    QCOMPARE(m_rig->client.frames().at(5), frame("CMD", "GET82:0;GET83:0;"));
}

void tst_Simulator::originMovesJobs()
{
    SimOptions options;
    options.speedMmPerSecond = 100000;
    start(options);
    m_rig->client.send("CMD", "SET82:32868;");
    m_rig->client.send("CMD", "SET83:32868;");
    QTest::qWait(150);
    m_rig->client.send("CMD", "SET82:0;SET83:0;");
    m_rig->client.send("CMD", "SET87:1;");
    QVERIFY(m_rig->client.waitForFrames(4));
    const QPointF origin = m_rig->sim.origin();
    QVERIFY(origin.x() > 5 && origin.y() > 5);
    QCOMPARE(m_rig->sim.headPosition(), origin);

    m_rig->client.send("CMD", "SET82:32868;");
    QTest::qWait(50);
    m_rig->client.send("CMD", "SET82:0;");
    m_rig->client.send("CMD", "SET93:1;");
    QVERIFY(m_rig->client.waitForFrames(7));
    QCOMPARE(m_rig->client.frames().at(6), frame("CMD", "SET93:1;"));
    QCOMPARE(m_rig->sim.headPosition(), origin);

    // A job starts at the origin: its first report puts the knife there.
    m_rig->client.clear();
    m_rig->client.send("PLT", "IN;PU0,0;PD400,0;");
    const QByteArray first = m_rig->client.waitForPayload("66,1,");
    const QList<QByteArray> fields = bodyOf(first).split(',');
    QCOMPARE(fields.value(7), QByteArray::number(origin.x(), 'f', 1));
    QCOMPARE(fields.value(8), QByteArray::number(origin.y(), 'f', 1));

    // While a job runs the head is the job's: jogging is echoed but does not move it.
    SimOptions slow;
    slow.speedMmPerSecond = 10;
    start(slow);
    m_rig->client.send("PLT", square(10));
    QVERIFY(!m_rig->client.waitForPayload("66,1,").isEmpty());
    m_rig->client.send("CMD", "SET82:32868;");
    QVERIFY(!m_rig->client.waitForPayload("SET82:32868;").isEmpty());
    QTest::qWait(50);
    QVERIFY(m_rig->sim.headPosition().x() <= 10.0);
}

void tst_Simulator::newConnectionTakesOver()
{
    start();
    Client second;
    QVERIFY(second.connectTo(m_rig->tcp.port()));
    QVERIFY(m_rig->client.waitForClose());
    second.send("CCMD", "1010;");
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(second.frames().first(), frame("CCMD", "1010,0,2;"));
    QCOMPARE(m_rig->tcp.connectionCount(), 2);
    QCOMPARE(m_rig->sim.counters().linksOpened, 2);
}

void tst_Simulator::ptyFront()
{
    SimRig rig;
    QVERIFY2(rig.pty.open(), qPrintable(rig.pty.errorString()));
    QVERIFY(rig.pty.slavePath().startsWith("/dev/pts/"));
    QVERIFY(!rig.pty.isConnected());

    int fd = openRawTty(rig.pty.slavePath());
    QVERIFY(fd >= 0);
    // The slave is raw: CR, LF and bytes above 0x7f pass through unchanged.
    QVERIFY(writeTty(fd, frame("CCMD", "44,\r\n\xe6\x9c\xba;") + frame("CCMD", "2;")));
    QCOMPARE(readTty(fd, 2),
        frame("CCMD", "44,0;")
            + frame("CCMD",
                "2,0,ZR-TX4150V,\r\n\xe6\x9c\xba,ZB157-2308-0415,V1.57,1.5.7,CFG-4150-03;"));
    QVERIFY(rig.pty.isConnected());
    ::close(fd);
    QVERIFY(QTest::qWaitFor([&] { return !rig.pty.isConnected(); }, 3000));

    // A peer that opens the slave again is served again.
    fd = openRawTty(rig.pty.slavePath());
    QVERIFY(fd >= 0);
    QVERIFY(writeTty(fd, frame("CMD", "GET28;")));
    QCOMPARE(readTty(fd, 1), frame("CMD", "GET28:3000;"));
    ::close(fd);
    QCOMPARE(rig.sim.counters().linksOpened, 2);
    QCOMPARE(rig.sim.counters().framesReceived, 3);
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
