// The rest of an unfinished copy: where it starts on hand-built cuts of known lengths, the rest of
// a stopped job cut through the service on the simulated machine, and the history's choice for it.

#include "panel.h"
#include "panelwindow.h"
#include "restcut.h"
#include "servicerig.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace servicerig;

namespace {

// A 10 mm square (40 mm), a 20 mm line, and a staircase of ten segments (3 mm across, 4 mm up,
// five of each: 35 mm) from (30, 0): 95 mm of cut in all.
QByteArray threeContours()
{
    QByteArray stairs = "PU1200,0;PD";
    int x = 1200, y = 0;
    for (int i = 0; i < 5; ++i) {
        x += 120;
        stairs += QByteArray::number(x) + ',' + QByteArray::number(y) + ',';
        y += 160;
        stairs += QByteArray::number(x) + ',' + QByteArray::number(y) + (i < 4 ? "," : ";");
    }
    return "IN;SP1;PU0,0;PD400,0,400,400,0,400,0,0;PU800,0;PD800,800;" + stairs + "PU;SP0;";
}

// Four 50 mm squares side by side: 800 mm of cut a copy.
constexpr double squaresCopyMm = 800;
Request fourSquares(int copies)
{
    Request request = Request::of(Request::Job);
    request.file = QStringLiteral("squares.plt");
    request.plt = "IN;SP1;";
    for (int i = 0; i < 4; ++i) {
        const QByteArray x0 = QByteArray::number(400 + i * 2400);
        const QByteArray x1 = QByteArray::number(400 + i * 2400 + 2000);
        request.plt
            += "PU" + x0 + ",400;PD" + x1 + ",400," + x1 + ",2400," + x0 + ",2400," + x0 + ",400;";
    }
    request.plt += "PU;SP0;";
    request.copies = copies;
    return request;
}

// What the machine cuts of a copy of fourSquares() when the rest starts after confirmed mm.
double squaresRestMm(double confirmed)
{
    const double contourStart = std::floor(confirmed / 200) * 200;
    return squaresCopyMm - qMax(contourStart, confirmed - RestCut::overlapMm);
}

ZRCut::CutJob planned(const QByteArray& hpgl)
{
    CutFile file;
    QString error;
    if (!file.readWritten(QStringLiteral("rest.plt"), hpgl, &error))
        qWarning() << error;
    return file.job();
}

double length(const ZRCut::Drawing& drawing)
{
    double mm = 0;
    for (const ZRCut::Contour& contour : drawing.contours) {
        QVector<QPointF> points = contour.points;
        if (contour.closed)
            points.append(points.first());
        for (int k = 1; k < points.size(); ++k)
            mm += QLineF(points.at(k - 1), points.at(k)).length();
    }
    return mm;
}

} // namespace

class tst_HostRest : public QObject {
    Q_OBJECT
private slots:
    void confirmedInCopy_data();
    void confirmedInCopy();
    void restOf_data();
    void restOf();
    void restThroughService();
    void restFromHistory();
};

void tst_HostRest::confirmedInCopy_data()
{
    QTest::addColumn<double>("percent");
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("finished");
    QTest::addColumn<double>("confirmed"); // of a 200 mm copy

    QTest::newRow("into the first of two") << 20.0 << 2 << 0 << 80.0;
    QTest::newRow("into the second of two") << 75.0 << 2 << 1 << 100.0;
    QTest::newRow("into the third of four") << 62.5 << 4 << 2 << 100.0;
    QTest::newRow("a copy just finished") << 50.0 << 2 << 1 << 0.0;
    QTest::newRow("a percent ahead of the copies") << 100.0 << 3 << 1 << 200.0;
    QTest::newRow("not a number") << qQNaN() << 2 << 0 << 0.0;
}

// The machine's percent is of the whole job; the copy it is on has the share beyond its finished
// copies.
void tst_HostRest::confirmedInCopy()
{
    QFETCH(double, percent);
    QFETCH(int, copies);
    QFETCH(int, finished);
    QFETCH(double, confirmed);
    QCOMPARE(RestCut::confirmedInCopy(percent, copies, finished, 200), confirmed);
}

void tst_HostRest::restOf_data()
{
    QTest::addColumn<double>("confirmed");
    QTest::addColumn<int>("step"); // -1: nothing left
    QTest::addColumn<double>("from");
    QTest::addColumn<QPointF>("start");
    QTest::addColumn<double>("rest");

    QTest::newRow("nothing confirmed") << 0.0 << 0 << 0.0 << QPointF(0, 0) << 95.0;
    // 25 mm round the square: 5 mm along its top edge, from (10, 10) to the left; 1 mm back.
    QTest::newRow("mid-contour") << 25.0 << 0 << 24.0 << QPointF(6, 10) << 71.0;
    QTest::newRow("at a contour's end") << 40.0 << 1 << 0.0 << QPointF(20, 0) << 55.0;
    QTest::newRow("overlap clamped at the start") << 40.5 << 1 << 0.0 << QPointF(20, 0) << 55.0;
    // 10.5 mm up the staircase (3 + 4 + 3 + 0.5): 1 mm back is 2.5 mm into its third segment.
    QTest::newRow("many segments") << 70.5 << 2 << 9.5 << QPointF(35.5, 4) << 25.5;
    QTest::newRow("all of it") << 95.0 << -1 << 0.0 << QPointF() << 0.0;
}

// The rest starts with the knife up 1 mm back on the first contour not confirmed and cuts all
// that follows, as the HP-GL read back again shows.
void tst_HostRest::restOf()
{
    QFETCH(double, confirmed);
    QFETCH(int, step);
    QFETCH(double, from);
    QFETCH(QPointF, start);
    QFETCH(double, rest);
    const ZRCut::CutJob job = planned(threeContours());
    QCOMPARE(job.steps.size(), 3);
    RestCut::Rest found;
    QString error;
    QVERIFY2(
        RestCut::restOf(job, confirmed, RestCut::overlapMm, &found, &error), qPrintable(error));
    QCOMPARE(found.step, step);
    if (step < 0) {
        QVERIFY(found.hpgl.isEmpty());
        return;
    }
    QVERIFY(qAbs(found.fromMm - from) < 1e-9);
    QVERIFY(qAbs(found.lengthMm - rest) < 1e-9);
    const QByteArray knifeUp = "PU" + QByteArray::number(qRound(start.x() * 40)) + ','
        + QByteArray::number(qRound(start.y() * 40)) + ';';
    QVERIFY2(QByteArray(found.hpgl).replace('\n', "").startsWith("IN;SP1;" + knifeUp),
        found.hpgl.constData());
    ZRCut::Drawing back;
    QVERIFY(ZRCut::readHpgl(found.hpgl, &back, &error));
    QCOMPARE(back.contours.size(), 3 - step);
    QVERIFY2(qAbs(length(back) - rest) < 0.05, qPrintable(QString::number(length(back))));
}

// A job of two copies stopped within its first: the rest from the first contour not confirmed is
// one job, the whole copy left another after it, and the machine cuts the copy's rest with 1 mm
// back along its contour and the whole copy, no more.
void tst_HostRest::restThroughService()
{
    Rig rig(fastMachine(400, 20));
    QVERIFY(rig.started);
    auto a = client(rig.service.port());
    QVERIFY(a && a->isUp());
    Reply* job = a->send(fourSquares(2));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.percent >= 20; }, 20000));
    job->cancel();
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    QCOMPARE(job->result().outcome, Result::Stopped);
    const QJsonObject stopped = rig.service.store()->job(1);
    QCOMPARE(stopped.value("copies_done").toInt(), 0);
    const double confirmed
        = stopped.value("percent").toDouble() / 100 * 2 * squaresCopyMm; // all within copy 1
    QVERIFY(confirmed > 200 && confirmed < squaresCopyMm);
    const double before = rig.machine.sim.counters().pathCutMm;

    const QStringList server { "--server", url(rig.service.port()), "--plugin-dir", ZR_PLUGIN_DIR,
        "--no-progress" };
    const hostrig::Run rest
        = hostrig::zrhost(QStringList { "job", "--resume", "1", "--from-contour" } + server);
    const QString contour = QString::number(int(confirmed / 200) + 1);
    QVERIFY2(rest.exitCode == 0
            && rest.out.contains(QStringLiteral("rest of #1 from contour ") + contour),
        qPrintable(rest.out + rest.err));
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.service.store()->job(3).value("status").toString(), QStringLiteral("completed"), 20000);
    const QJsonObject unfinished = rig.service.store()->job(2);
    const QJsonObject whole = rig.service.store()->job(3);
    QCOMPARE(unfinished.value("rest_of").toInt(), 1);
    QCOMPARE(unfinished.value("copies").toInt(), 1);
    QCOMPARE(unfinished.value("status").toString(), QStringLiteral("completed"));
    QCOMPARE(unfinished.value("plan").toObject().value("from_contour").toInt(), contour.toInt());
    QCOMPARE(whole.value("rest_of").toInt(), 1);
    QCOMPARE(whole.value("copies").toInt(), 1);
    const double cut = rig.machine.sim.counters().pathCutMm - before;
    const double expected = squaresRestMm(confirmed) + squaresCopyMm;
    QVERIFY2(qAbs(cut - expected) < 0.5,
        qPrintable(QStringLiteral("cut %1 mm, expected %2 mm").arg(cut).arg(expected)));
    QCOMPARE(frames(rig.machine.sim, "PLT"), 3);
}

// The history's choice beside "Cut the rest" asks for the unfinished copy from its first contour;
// when that rest is stopped, the whole copies waiting after it are not cut.
void tst_HostRest::restFromHistory()
{
    Rig rig(fastMachine(200, 20));
    QVERIFY(rig.started);
    PanelWindow window;
    RemoteSession session(QUrl(url(rig.service.port())), QString());
    QVERIFY(session.open(hostrig::sessionOptions(MachineTarget())));
    Panel panel(&session, &window);
    session.connectMachine();
    QTRY_VERIFY(session.isUp());
    Reply* job = session.send(fourSquares(3));
    QVERIFY(QTest::qWaitFor([&] { return job->result().last.percent >= 10; }, 20000));
    job->cancel();
    QVERIFY(QTest::qWaitFor([&] { return job->isFinished(); }, 20000));
    QTRY_COMPARE(window.history->rowCount(), 1);
    QTRY_COMPARE(window.history->item(0, 4)->text(), QStringLiteral("stopped"));
    QVERIFY(!window.restFromContour->isEnabled());
    window.history->selectRow(0);
    QVERIFY(window.restFromContour->isEnabled());
    window.restFromContour->setChecked(true);
    QTest::mouseClick(window.cutRest, Qt::LeftButton);
    QTRY_COMPARE(window.history->rowCount(), 3);
    QTRY_VERIFY(window.history->item(1, 2)->text().contains(QLatin1String("from contour")));
    QCOMPARE(rig.service.store()->job(3).value("copies").toInt(), 2);
    QVERIFY(QTest::qWaitFor(
        [&] { return rig.service.store()->job(2).value("percent").toDouble() > 10; }, 20000));
    QCOMPARE(hostrig::ask(session, Request::of(Request::Stop)).outcome, Result::Done);
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.service.store()->job(3).value("status").toString(), QStringLiteral("cancelled"), 20000);
    QVERIFY(
        rig.service.store()->job(3).value("reason").toString().contains(QLatin1String("job 2")));
    QCOMPARE(frames(rig.machine.sim, "PLT"), 2);
}

QTEST_MAIN(tst_HostRest)
#include "tst_hostrest.moc"
