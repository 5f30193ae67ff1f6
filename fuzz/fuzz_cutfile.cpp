// Cut files from anywhere, fed to the cut-file library. Built once for each reader and once for
// the whole way a file goes (ZR_CUT_FUZZ names which):
//   svg, dxf, hpgl  the reader alone: it reads or refuses, and what it reads is finite and sane
//   cutpipeline     the first byte picks the reader (s, d, anything else HP-GL); what it reads
//                   is placed, ordered with the knife's aids, written as HP-GL and read back,
//                   and the written file must hold every cut of the job
// Nothing a file holds may crash, hang or exhaust the reader.

#include <zrcutfile.h>

#include <QGuiApplication>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_cutfile: %s\n", what);
        std::abort();
    }
}

void checkDrawing(const ZRCut::Drawing& drawing)
{
    for (const ZRCut::Contour& contour : drawing.contours) {
        check(contour.points.size() >= 2, "a contour of fewer than two points");
        for (const QPointF& p : contour.points)
            check(std::isfinite(p.x()) && std::isfinite(p.y()) && std::abs(p.x()) <= 1e6
                    && std::abs(p.y()) <= 1e6,
                "a point out of range");
    }
}

bool read(char format, const QByteArray& data, ZRCut::Drawing* drawing)
{
    QString error;
    const auto reader = format == 's' ? ZRCut::readSvg
        : format == 'd'               ? ZRCut::readDxf
                                      : ZRCut::readHpgl;
    const bool ok = reader(data, drawing, &error, {});
    check(ok || !error.isEmpty(), "a refusal without a reason");
    check(ok == !drawing->contours.isEmpty(), "a drawing read empty, or refused but filled");
    checkDrawing(*drawing);
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Text needs Qt's fonts, which need a GUI application; no display is there.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(bytes), int(size));
    const QByteArray which(ZR_CUT_FUZZ);
    ZRCut::Drawing drawing;
    if (which != "cutpipeline") {
        read(which == "svg" ? 's' : which == "dxf" ? 'd' : 'h', input, &drawing);
        return 0;
    }
    if (input.isEmpty() || !read(input.at(0), input.mid(1), &drawing))
        return 0;
    ZRCut::Placement placement;
    placement.knifeReachMm = 0.3;
    placement.fit = drawing.bounds().width() > 1400 || drawing.bounds().height() > 1100;
    ZRCut::Drawing placed;
    QString error;
    if (!ZRCut::place(drawing, placement, QSizeF(1500, 1200), &placed, &error))
        return 0;
    ZRCut::CutOptions options;
    options.knife.bladeOffsetMm = 0.3;
    options.knife.overcutMm = 1;
    options.workArea = QSizeF(1500, 1200);
    ZRCut::CutJob job;
    if (!ZRCut::planCut(placed, options, &job, &error))
        return 0;
    QByteArray hpgl;
    check(ZRCut::writeHpgl(job, &hpgl, &error), "a job that cannot be written");
    check(ZRCut::checkFrameSafe(hpgl, &error), "written HP-GL the machine's frames cannot carry");
    ZRCut::Drawing back;
    check(ZRCut::readHpgl(hpgl, &back, &error), "written HP-GL that does not read back");
    check(back.contours.size() <= job.steps.size(), "more cuts read back than written");
    return 0;
}
