// Measures the cut-file library on big and many-part drawings, outside the test run:
//
//   build/bin/bench_cutfile [MEGABYTES] [SAMPLES_DIR]
//
// 1. A nest of parts with holes, in random order, written as an HP-GL file of MEGABYTES (50 by
//    default): read, ordered and previewed, with the time of each stage, the peak memory as a
//    multiple of the file's size and, against the raw read of the same file, the time ratio.
// 2. Ctrl-C at every stage: the cancel flag is raised while the stage runs, and the time until
//    the stage returns is the answer time.
// 3. Ordering: 10 000 contours timed; pen-up travel after ordering against the drawing's own
//    order on a 520-contour drawing and on the samples; every hole before its part.
// Figures that miss their mark are flagged; a wrong result (a hole after its part, a lost
// contour) makes the program fail.
//
// Reading alone, one file a process so that each peak is its own (scripts/bench_cutread.sh):
//
//   build/bin/bench_cutfile write-hpgl MEGABYTES PATH   the nest above as HP-GL
//   build/bin/bench_cutfile write-dxf MEGABYTES PATH    the nest as DXF, its outlines drawn as
//                                                       LINE and ARC entities as CAD draws them
//   build/bin/bench_cutfile read PATH                   read time, contours, peak memory
//
// Real-world files against cut lengths measured without this library
// (scripts/realworld_lengths.py): each read, placed on a 1500 × 1200 mm table and planned with
// the defaults (text left out, as the reference leaves it), and its cut length compared:
//
//   build/bin/bench_cutfile realworld LENGTHS.tsv DIR...

#include <zrcutfile.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

using namespace ZRCut;

namespace {

QTextStream out(stdout);
bool wrong = false;

qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

void figure(const QString& what, double value, double mark, const QString& unit)
{
    out << QStringLiteral("%1: %2 %3 (mark %4 %3)%5\n")
               .arg(what)
               .arg(value, 0, 'f', 3)
               .arg(unit)
               .arg(mark)
               .arg(value <= mark ? QString() : QStringLiteral("  <-- MISSED"));
    out.flush();
}

void check(bool ok, const QString& what)
{
    if (!ok) {
        out << "WRONG: " << what << "\n";
        wrong = true;
    }
}

// One part of the nest: a plate with rounded corners, round holes and a slot, in plotter units.
QVector<QVector<QPointF>> part(const QPointF& corner, QRandomGenerator& random)
{
    const auto arc = [](QVector<QPointF>* points, const QPointF& center, double radius, double from,
                         double sweep, int pieces) {
        for (int i = 0; i <= pieces; ++i) {
            const double a = from + sweep * i / pieces;
            points->append(center + QPointF(radius * std::cos(a), radius * std::sin(a)));
        }
    };
    const double w = 40 + random.bounded(20.0), h = 25 + random.bounded(15.0), r = 4;
    QVector<QVector<QPointF>> contours(1);
    QVector<QPointF>& plate = contours[0];
    arc(&plate, corner + QPointF(w - r, r), r, -M_PI / 2, M_PI / 2, 8);
    arc(&plate, corner + QPointF(w - r, h - r), r, 0, M_PI / 2, 8);
    arc(&plate, corner + QPointF(r, h - r), r, M_PI / 2, M_PI / 2, 8);
    arc(&plate, corner + QPointF(r, r), r, M_PI, M_PI / 2, 8);
    plate.append(plate.first());
    for (const QPointF& at :
        { QPointF(7, 7), QPointF(w - 7, 7), QPointF(w - 7, h - 7), QPointF(7, h - 7) }) {
        QVector<QPointF> hole;
        arc(&hole, corner + at, 2.5, 0, 2 * M_PI, 36);
        contours.append(hole);
    }
    QVector<QPointF> slot;
    arc(&slot, corner + QPointF(w / 2 + 5, h / 2), 3, -M_PI / 2, M_PI, 16);
    arc(&slot, corner + QPointF(w / 2 - 5, h / 2), 3, M_PI / 2, M_PI, 16);
    slot.append(slot.first());
    contours.append(slot);
    return contours;
}

// Writes a nest of about megabytes, its contours in random order, each as text() makes it, between
// head and tail.
qint64 writeParts(const QString& path, int megabytes, const QByteArray& head,
    const QByteArray& tail, const std::function<QByteArray(const QVector<QPointF>&)>& text)
{
    QRandomGenerator random(50);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(head);
    const qint64 target = qint64(megabytes) << 20;
    int index = 0;
    while (file.size() < target) {
        // A batch of parts, their contours shuffled among each other.
        QVector<QVector<QPointF>> batch;
        for (int i = 0; i < 200; ++i, ++index)
            batch += part(QPointF((index % 60) * 65.0, (index / 60) * 45.0), random);
        std::shuffle(batch.begin(), batch.end(), random);
        for (const QVector<QPointF>& contour : qAsConst(batch))
            file.write(text(contour));
    }
    file.write(tail);
    return file.size();
}

// The nest as HP-GL.
qint64 writeNest(const QString& path, int megabytes)
{
    return writeParts(path, megabytes, "IN;SP1;\n", "PU0,0;SP0;\n", [](const QVector<QPointF>& c) {
        QByteArray text = "PU" + QByteArray::number(qRound(c.first().x() * 40)) + ','
            + QByteArray::number(qRound(c.first().y() * 40)) + ";\nPD";
        for (int k = 1; k < c.size(); ++k) {
            text += QByteArray::number(qRound(c.at(k).x() * 40)) + ','
                + QByteArray::number(qRound(c.at(k).y() * 40));
            text += k + 1 == c.size() ? ";\n" : (k % 8 == 0 ? ";\nPD" : ",");
        }
        return text;
    });
}

// The nest as DXF, every chord of its parts a LINE on layer "parts", as CAD writes outlines.
qint64 writeDxfNest(const QString& path, int megabytes)
{
    return writeParts(path, megabytes, "0\nSECTION\n2\nENTITIES\n", "0\nENDSEC\n0\nEOF\n",
        [](const QVector<QPointF>& c) {
            QByteArray text;
            for (int k = 1; k < c.size(); ++k) {
                text += "0\nLINE\n8\nparts\n10\n" + QByteArray::number(c.at(k - 1).x(), 'f', 4)
                    + "\n20\n" + QByteArray::number(c.at(k - 1).y(), 'f', 4) + "\n11\n"
                    + QByteArray::number(c.at(k).x(), 'f', 4) + "\n21\n"
                    + QByteArray::number(c.at(k).y(), 'f', 4) + "\n";
            }
            return text;
        });
}

// Each file of lengths (name, reference mm) found in one of dirs, cut with the defaults: the
// files whose cut length is within 2 % of the reference. Segments the file draws twice are cut
// once; the last column tells their length.
int realWorld(const QString& lengths, const QStringList& dirs)
{
    QFile list(lengths);
    if (!list.open(QIODevice::ReadOnly))
        return 2;
    int right = 0, all = 0;
    for (const QByteArray& line : list.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 2)
            continue;
        const QString name = QString::fromUtf8(fields.at(0));
        QString path;
        for (const QString& dir : dirs)
            path = QFileInfo::exists(dir + '/' + name) ? dir + '/' + name : path;
        const double reference = fields.at(1).toDouble();
        ReadOptions read;
        read.text = TextMode::Skip;
        Drawing drawing;
        CutOptions options;
        options.workArea = QSizeF(1500, 1200);
        CutJob job;
        QString error;
        const bool ok = readFile(path, &drawing, &error, read)
            && place(drawing, {}, options.workArea, &drawing, &error)
            && planCut(drawing, options, &job, &error);
        const double gap = ok ? (job.cutLengthMm - reference) / qMax(reference, 1e-9) : 0;
        const bool near = ok && std::abs(gap) <= 0.02;
        right += near;
        ++all;
        out << QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                   .arg(name, QString::number(reference, 'f', 1),
                       ok ? QString::number(job.cutLengthMm, 'f', 1) : QStringLiteral("-"),
                       near ? QStringLiteral("ok")
                            : ok ? QStringLiteral("off by %1 %").arg(gap * 100, 0, 'f', 1)
                                 : QStringLiteral("refused: ")
                                + error.mid(error.startsWith(path) ? path.size() + 2 : 0),
                       QString::number(job.checks.duplicateLengthMm, 'f', 1));
    }
    out << QStringLiteral("%1 of %2 within 2 %\n").arg(right).arg(all);
    return 0;
}

// The read of one file: time and peak memory, as one line.
int readOnly(const QString& path)
{
    const qint64 baseKb = peakKb();
    QElapsedTimer timer;
    timer.start();
    Drawing drawing;
    QString error;
    const bool ok = readFile(path, &drawing, &error);
    const double took = timer.nsecsElapsed() / 1e9;
    out << QStringLiteral("%1: %2 MB read in %3 s, %4 contours, %5 points, peak memory %6 MB "
                          "(%7 MB more than before reading)%8\n")
               .arg(QFileInfo(path).fileName())
               .arg(QFileInfo(path).size() / 1048576.0, 0, 'f', 1)
               .arg(took, 0, 'f', 2)
               .arg(drawing.contours.size())
               .arg(drawing.pointCount())
               .arg(peakKb() / 1024.0, 0, 'f', 1)
               .arg((peakKb() - baseKb) / 1024.0, 0, 'f', 1)
               .arg(ok ? QString() : QStringLiteral(" FAILED: ") + error);
    return ok ? 0 : 1;
}

double seconds(const QElapsedTimer& timer)
{
    return timer.nsecsElapsed() / 1e9;
}

// Runs stage with a cancel flag raised after delay seconds and returns how long the stage took
// to give up after it, or -1 when it finished first.
template <typename Stage> double answerTime(const Stage& stage, double delay)
{
    std::atomic_bool cancel { false };
    QElapsedTimer sinceRaised;
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        sinceRaised.start();
        cancel = true;
    });
    const bool finished = stage(&cancel);
    const double answer = sinceRaised.isValid() ? seconds(sinceRaised) : -1;
    raiser.join();
    return finished ? -1 : answer;
}

// Parts with holes, scattered on a grid and listed in random order.
Drawing scatteredParts(int parts)
{
    QRandomGenerator random(14);
    Drawing drawing;
    for (int i = 0; i < parts; ++i) {
        for (const QVector<QPointF>& points :
            part(QPointF((i % 12) * 70.0, (i / 12) * 50.0), random)) {
            Contour contour;
            contour.points = points.mid(0, points.size() - 1);
            contour.closed = true;
            drawing.contours.append(contour);
        }
    }
    std::shuffle(drawing.contours.begin(), drawing.contours.end(), random);
    return drawing;
}

void checkHolesFirst(const Drawing& drawing, const CutJob& job, const QString& name)
{
    const QVector<int> parent = enclosingContours(drawing.contours);
    QVector<int> turn(drawing.contours.size(), -1);
    for (int i = 0; i < job.steps.size(); ++i)
        turn[job.steps.at(i).contour] = i;
    int holes = 0;
    for (int c = 0; c < parent.size(); ++c) {
        check(turn.at(c) >= 0, name + ": a contour is left out");
        if (parent.at(c) >= 0) {
            ++holes;
            check(turn.at(c) < turn.at(parent.at(c)), name + ": a hole is cut after its part");
        }
    }
    out << QStringLiteral("%1: %2 contours, %3 inside others, all cut before them\n")
               .arg(name)
               .arg(drawing.contours.size())
               .arg(holes);
}

void travelFigure(const Drawing& drawing, const QString& name)
{
    CutOptions asDrawn;
    asDrawn.optimizeOrder = false;
    CutJob own, ordered;
    QString error;
    planCut(drawing, asDrawn, &own, &error);
    planCut(drawing, {}, &ordered, &error);
    checkHolesFirst(drawing, ordered, name);
    out << QStringLiteral("%1: pen-up travel %2 mm in the drawing's order, %3 mm ordered\n")
               .arg(name)
               .arg(own.travelLengthMm, 0, 'f', 1)
               .arg(ordered.travelLengthMm, 0, 'f', 1);
    figure(name + QStringLiteral(": travel ordered / own order"),
        ordered.travelLengthMm / own.travelLengthMm, 0.5, QString());
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "read" && argc > 2)
        return readOnly(QString::fromLocal8Bit(argv[2]));
    if (mode == "realworld" && argc > 3) {
        QStringList dirs;
        for (int i = 3; i < argc; ++i)
            dirs.append(QString::fromLocal8Bit(argv[i]));
        return realWorld(QString::fromLocal8Bit(argv[2]), dirs);
    }
    if ((mode == "write-hpgl" || mode == "write-dxf") && argc > 3) {
        const QString path = QString::fromLocal8Bit(argv[3]);
        const int size = qMax(1, atoi(argv[2]));
        out << (mode == "write-dxf" ? writeDxfNest(path, size) : writeNest(path, size))
            << " bytes\n";
        return 0;
    }
    const int megabytes = argc > 1 ? qMax(1, atoi(argv[1])) : 50;
    const QString samples
        = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(ZR_SAMPLES_DIR);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nest.plt"));
    const qint64 bytes = writeNest(path, megabytes);
    const qint64 baseKb = peakKb();
    out << QStringLiteral("nest: %1 MB of HP-GL\n").arg(bytes / 1048576.0, 0, 'f', 1);

    QElapsedTimer timer;
    timer.start();
    {
        QFile raw(path);
        raw.open(QIODevice::ReadOnly);
        check(raw.readAll().size() == bytes, QStringLiteral("raw read"));
    }
    const double rawRead = seconds(timer);

    Drawing drawing;
    QString error;
    timer.restart();
    check(readFile(path, &drawing, &error), error);
    const double read = seconds(timer);
    timer.restart();
    CutJob job;
    check(planCut(drawing, {}, &job, &error), error);
    const double order = seconds(timer);
    timer.restart();
    const QImage picture = renderPreview(job, QSize(1200, 900));
    const double preview = seconds(timer);
    check(!picture.isNull(), QStringLiteral("preview"));
    const double peak = (peakKb() - baseKb) * 1024.0 / bytes;
    out << QStringLiteral(
        "nest: %1 contours, %2 points; read %3 s (%4 x the raw read), ordered %5 s, "
        "previewed %6 s\n")
               .arg(drawing.contours.size())
               .arg(drawing.pointCount())
               .arg(read, 0, 'f', 2)
               .arg(read / rawRead, 0, 'f', 1)
               .arg(order, 0, 'f', 2)
               .arg(preview, 0, 'f', 2);
    figure(QStringLiteral("nest: read + order + preview"), read + order + preview, 10,
        QStringLiteral("s"));
    out << QStringLiteral("nest: peak resident memory %1 MB, %2 MB before reading\n")
               .arg(peakKb() / 1024.0, 0, 'f', 1)
               .arg(baseKb / 1024.0, 0, 'f', 1);
    figure(QStringLiteral(
               "nest: peak memory (growth while reading, ordering, previewing) / file size"),
        peak, 4, QString());
    checkHolesFirst(drawing, job, QStringLiteral("nest"));

    // Ctrl-C halfway through each stage.
    const double readAnswer = answerTime(
        [&](const std::atomic_bool* cancel) {
            ReadOptions options;
            options.progress.cancel = cancel;
            Drawing scratch;
            return readFile(path, &scratch, &error, options);
        },
        read / 2);
    const double orderAnswer = answerTime(
        [&](const std::atomic_bool* cancel) {
            CutOptions options;
            options.progress.cancel = cancel;
            CutJob scratch;
            return planCut(drawing, options, &scratch, &error);
        },
        order / 2);
    const double previewAnswer = answerTime(
        [&](const std::atomic_bool* cancel) {
            PreviewOptions options;
            options.progress.cancel = cancel;
            return !renderPreview(job, QSize(1200, 900), options).isNull();
        },
        preview / 2);
    const double writeAnswer = answerTime(
        [&](const std::atomic_bool* cancel) {
            Progress progress;
            progress.cancel = cancel;
            QByteArray hpgl;
            return writeHpgl(job, &hpgl, &error, progress);
        },
        0.05);
    for (const auto& stage :
        { std::make_pair("read", readAnswer), std::make_pair("order", orderAnswer),
            std::make_pair("preview", previewAnswer), std::make_pair("write", writeAnswer) }) {
        if (stage.second < 0)
            out << "Ctrl-C during " << stage.first << ": the stage finished first\n";
        else
            figure(QStringLiteral("Ctrl-C during %1: answered in").arg(QLatin1String(stage.first)),
                stage.second, 0.5, QStringLiteral("s"));
    }
    drawing = Drawing();
    job = CutJob();

    // Ordering figures.
    const Drawing many = scatteredParts(1667);
    timer.restart();
    CutJob manyJob;
    check(planCut(many, {}, &manyJob, &error), error);
    figure(QStringLiteral("ordering %1 contours").arg(many.contours.size()), seconds(timer), 1,
        QStringLiteral("s"));
    travelFigure(scatteredParts(87), QStringLiteral("87 parts"));
    for (const char* name : { "gasket.plt", "gasket.svg", "gasket.dxf" }) {
        Drawing sample;
        check(readFile(samples + '/' + QLatin1String(name), &sample, &error), error);
        travelFigure(sample, QLatin1String(name));
    }
    return wrong ? 1 : 0;
}
