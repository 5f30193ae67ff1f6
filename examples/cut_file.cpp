// Reads a cut file (SVG, DXF or HP-GL), places two copies side by side on a 1500 x 1200 mm table,
// orders the cuts, and writes the HP-GL the machine takes and a picture of the job.
//   cut_file IN OUT.plt OUT.png        (QT_QPA_PLATFORM=offscreen where there is no display)

#include <zrcutfile.h>

#include <QFile>
#include <QGuiApplication>

#include <atomic>
#include <iostream>

int main(int argc, char** argv)
{
    // Reading SVG text needs a QGuiApplication.
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::cerr << "usage: cut_file IN OUT.plt OUT.png\n";
        return 2;
    }
    // Every long step reports its progress and stops soon after the flag is raised, from any
    // thread (a Stop button, Ctrl-C).
    std::atomic_bool cancel { false };
    const ZRCut::Progress progress { [](int percent) { std::cout << percent << " %\r"; }, &cancel };

    ZRCut::Drawing drawing;
    ZRCut::Drawing placed;
    ZRCut::CutJob job;
    QByteArray hpgl;
    QString error;
    ZRCut::ReadOptions reading;
    reading.progress = progress;
    ZRCut::Placement placement;
    placement.copies = 2;
    placement.move = QPointF(10, 10);
    const QSizeF table(1500, 1200); // the machine's WORKAREA_X and _Y times 0.5
    ZRCut::CutOptions cutting;
    cutting.workArea = table;
    cutting.progress = progress;
    // Each step returns false with the reason in error, and leaves its output untouched.
    if (!ZRCut::readFile(QString::fromLocal8Bit(argv[1]), &drawing, &error, reading)
        || !ZRCut::place(drawing, placement, table, &placed, &error)
        || !ZRCut::planCut(placed, cutting, &job, &error)
        || !ZRCut::writeHpgl(job, &hpgl, &error, progress)) {
        std::cerr << qPrintable(error) << "\n";
        return 1;
    }
    std::cout << placed.contours.size() << " contours, " << qRound(job.cutLengthMm) << " mm cut, "
              << qRound(job.travelLengthMm) << " mm travel, "
              << qRound(job.estimatedSeconds(300, 500)) << " s at 300 mm/s\n";

    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(hpgl) != hpgl.size()
        || !ZRCut::renderPreview(job, QSize(800, 600)).save(QString::fromLocal8Bit(argv[3]))) {
        std::cerr << "cannot write " << argv[2] << " or " << argv[3] << "\n";
        return 1;
    }
    return 0;
}
