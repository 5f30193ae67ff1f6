#include "cutfile.h"

#include "zrdevicehost.h"
#include "zrdeviceinterface.h"
#include "zrdeviceproperty.h"

#include <QBuffer>
#include <QFileInfo>
#include <QThread>

#include <cmath>

namespace {

constexpr int maxFiles = 100;

int wholeMm(double mm)
{
    return int(std::lround(mm));
}

// The value in its editor's units (the table in mm, speeds in mm/s, the tool by its index).
double valueOf(ZRDeviceInterface* device, const QString& name)
{
    const QByteArray key = name.toLatin1();
    const ZRDeviceProperty* parameter = device->property_ptr(key.constData());
    return parameter ? ZRDevice::Editor::of(parameter, key).shownNumber(parameter->value()) : 0;
}

QString stationParameter(int number, const char* what)
{
    return QStringLiteral("SP%1_%2").arg(number).arg(QLatin1String(what));
}

} // namespace

ZRCut::Progress progressPart(const ZRCut::Progress& progress, int from, int to)
{
    ZRCut::Progress part = progress;
    if (progress.report)
        part.report = [=](int percent) { progress.report(from + (to - from) * percent / 100); };
    return part;
}

QStringList CutMachine::names(int number)
{
    return { QStringLiteral("WORKAREA"), QStringLiteral("PU_SPEED"),
        stationParameter(number, "TOOL"), stationParameter(number, "SPEED") };
}

CutMachine CutMachine::of(ZRDeviceInterface* device, int number)
{
    CutMachine machine;
    machine.station = number;
    machine.workArea = QSizeF(valueOf(device, QStringLiteral("WORKAREA_X")),
        valueOf(device, QStringLiteral("WORKAREA_Y")));
    machine.dragKnife = valueOf(device, stationParameter(number, "TOOL")) == 0;
    machine.cutSpeed = valueOf(device, stationParameter(number, "SPEED"));
    machine.travelSpeed = valueOf(device, QStringLiteral("PU_SPEED"));
    return machine;
}

QStringList CutFile::patterns()
{
    QStringList patterns;
    for (const QString& suffix : ZRCut::fileSuffixes())
        patterns.append(QStringLiteral("*.") + suffix);
    return patterns;
}

bool CutFile::read(
    const QString& path, QString* error, const ZRCut::Progress& progress, ZRCut::TextMode text)
{
    return read(QStringList { path }, error, progress, text);
}

bool CutFile::read(const QStringList& paths, QString* error, const ZRCut::Progress& progress,
    ZRCut::TextMode text)
{
    if (paths.isEmpty() || paths.size() > maxFiles) {
        *error = QStringLiteral("one to %1 cut files are cut together, not %2")
                     .arg(maxFiles)
                     .arg(paths.size());
        return false;
    }
    QVector<ZRCut::Drawing> drawings;
    QStringList names;
    QStringList warnings;
    for (int i = 0; i < paths.size(); ++i) {
        ZRCut::ReadOptions options;
        options.progress = progressPart(
            progress, 100 * i / int(paths.size()), 100 * (i + 1) / int(paths.size()));
        options.text = text;
        ZRCut::Drawing drawing;
        if (!ZRCut::readFile(paths.at(i), &drawing, error, options))
            return false;
        names.append(QFileInfo(paths.at(i)).fileName());
        for (const QString& warning : qAsConst(drawing.warnings))
            warnings.append(paths.size() > 1 ? names.last() + QStringLiteral(": ") + warning
                                             : warning);
        drawings.append(std::move(drawing));
    }
    *this = CutFile();
    m_name = names.join(QStringLiteral(" + "));
    m_warnings = warnings;
    m_drawings = std::move(drawings);
    return true;
}

const ZRCut::Drawing& CutFile::drawing() const
{
    static const ZRCut::Drawing none;
    return m_drawings.isEmpty() ? none : m_drawings.first();
}

bool CutFile::readWritten(const QString& name, const QByteArray& hpgl, QString* error)
{
    ZRCut::Drawing drawing;
    ZRCut::CutOptions asWritten;
    asWritten.optimizeOrder = false;
    asWritten.checks.removeDuplicates = false;
    *this = CutFile();
    // The reader skips what the frames cannot carry; the machine would not.
    if (!ZRCut::checkFrameSafe(hpgl, error) || !ZRCut::readHpgl(hpgl, &drawing, error)
        || !ZRCut::planCut(drawing, asWritten, &m_job, error)) {
        error->prepend(name + QStringLiteral(": "));
        return false;
    }
    m_name = name;
    m_hpgl = hpgl;
    return true;
}

bool CutFile::plan(const CutSettings& settings, const CutMachine& machine, QString* error,
    const ZRCut::Progress& progress)
{
    m_job = ZRCut::CutJob();
    m_sheets.clear();
    m_cells.clear();
    m_sheetSize = QSizeF();
    m_sheet = 0;
    m_shop = ShopReport();
    m_hpgl.clear();
    m_png.clear();
    if ((settings.knife.bladeOffsetMm > 0 || settings.knife.overcutMm > 0) && !machine.dragKnife) {
        *error = QStringLiteral("the blade offset and the overcut are for the drag knife, and "
                                "station %1 holds the rotary knife (SP%1_TOOL)")
                     .arg(machine.station);
        return false;
    }
    if (m_drawings.size() > 1 && !settings.shop.nest) {
        *error = QStringLiteral("several files are cut together only when nested");
        return false;
    }
    QVector<ZRCut::Drawing> chosen(m_drawings.size());
    for (int i = 0; i < m_drawings.size(); ++i) {
        if (!ZRCut::chooseLayers(m_drawings.at(i), settings.layers, &chosen[i], error)) {
            if (m_drawings.size() > 1)
                error->prepend(m_name.split(QStringLiteral(" + ")).value(i) + QStringLiteral(": "));
            return false;
        }
    }
    if (settings.shop.any())
        return planShop(chosen, settings, machine, error, progress);
    ZRCut::Drawing placed;
    ZRCut::Placement placement = settings.placement;
    placement.knifeReachMm = settings.knife.bladeOffsetMm;
    if (!ZRCut::place(chosen.first(), placement, machine.workArea, &placed, error))
        return false;
    ZRCut::CutOptions options;
    options.optimizeOrder = settings.optimizeOrder;
    options.layerOrder = settings.layerOrder;
    options.knife = settings.knife;
    options.workArea = machine.workArea;
    options.progress = progress;
    ZRCut::CutJob job;
    if (!ZRCut::planCut(placed, options, &job, error))
        return false;
    m_machine = machine;
    m_job = std::move(job);
    m_sheets = { m_job };
    return true;
}

void CutFile::selectSheet(int index)
{
    if (index < 0 || index >= m_sheets.size() || index == m_sheet)
        return;
    m_sheet = index;
    m_job = m_sheets.at(index);
    m_hpgl.clear();
    m_png.clear();
}

bool CutFile::write(QString* error, const ZRCut::Progress& progress)
{
    if (!ZRCut::writeHpgl(m_job, &m_hpgl, error, progressPart(progress, 0, 90)))
        return false;
    const QImage image = picture(256, false, progressPart(progress, 90, 100));
    if (image.isNull()) {
        m_hpgl.clear();
        *error = QStringLiteral("cancelled");
        return false;
    }
    m_png.clear();
    QBuffer buffer(&m_png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG");
}

double CutFile::seconds() const
{
    return m_job.estimatedSeconds(m_machine.cutSpeed, m_machine.travelSpeed);
}

QJsonObject CutFile::fileInfo() const
{
    return QJsonObject {
        { QStringLiteral("name"), m_name },
        { QStringLiteral("bytes"), m_hpgl.size() },
        { QStringLiteral("width"), wholeMm(m_job.bounds.width()) },
        { QStringLiteral("heigth"), wholeMm(m_job.bounds.height()) },
        { QStringLiteral("path_length"), wholeMm(m_job.cutLengthMm) },
        { QStringLiteral("travel_length"), wholeMm(m_job.travelLengthMm) },
    };
}

QImage CutFile::picture(int longSide, bool travel, const ZRCut::Progress& progress) const
{
    // The picture takes the cut's proportions; a straight cut still gets a few pixels across.
    const QSizeF extent = m_job.bounds.size();
    const double longer = qMax(extent.width(), extent.height());
    const auto side = [&](double mm) {
        return longer > 0 ? qMax(9, int(std::ceil(longSide * mm / longer - 1e-6))) : longSide;
    };
    ZRCut::PreviewOptions options;
    options.showTravel = travel;
    options.progress = progress;
    return ZRCut::renderPreview(m_job, QSize(side(extent.width()), side(extent.height())), options);
}

Request CutFile::request(int copies) const
{
    Request request = Request::of(Request::Job);
    request.file = m_sheets.size() > 1 ? QStringLiteral("%1 (%2 %3 of %4)")
                                             .arg(m_name, m_shop.unit())
                                             .arg(m_sheet + 1)
                                             .arg(m_sheets.size())
                                       : m_name;
    request.plt = m_hpgl;
    request.fileInfo = fileInfo();
    request.preview = previewPng();
    request.copies = copies;
    return request;
}

CutWork::CutWork(QObject* parent)
    : QObject(parent)
{ }

CutWork::~CutWork()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
    }
}

bool CutWork::start(const Work& work)
{
    if (m_thread)
        return false;
    m_cancel = false;
    m_error.clear();
    m_thread.reset(QThread::create([this, work] {
        ZRCut::Progress progress;
        progress.cancel = &m_cancel;
        progress.report = [this](int percent) { emit this->progress(percent); };
        m_ok = work(progress, &m_error);
    }));
    // The thread's end is told on this object's thread, once the thread is done with its work.
    connect(m_thread.get(), &QThread::finished, this, [this] {
        m_thread->wait();
        m_thread.reset();
        emit finished(m_ok);
    });
    m_thread->start();
    return true;
}
