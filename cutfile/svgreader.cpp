#include "geometry.h"

#include <QGuiApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <cmath>

namespace ZRCut {

namespace {

constexpr double mmPerPx = 25.4 / 96;

// Every shape QtSvg paints, as contours in millimetres on the table (y upwards).
class RecordingEngine : public QPaintEngine {
public:
    RecordingEngine(const QTransform& toTable, const ReadOptions& options)
        : QPaintEngine(AllFeatures)
        , m_toTable(toTable)
        , m_options(options)
    { }

    Drawing drawing;
    int pictures = 0;
    bool cancelled = false;

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return User; }
    void updateState(const QPaintEngineState&) override { }

    void drawPath(const QPainterPath& path) override;
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override;
    void drawLines(const QLineF* lines, int count) override;
    void drawRects(const QRectF* rects, int count) override;
    void drawEllipse(const QRectF& rect) override;
    void drawPoints(const QPointF*, int) override { }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { ++pictures; }
    void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override
    {
        ++pictures;
    }

private:
    // The shape's transform to the table, or false when it is not to be recorded. key stands
    // for the shape: QtSvg fills a shape and then strokes it in a second call, and the knife
    // is to cut it once, as stroked.
    bool shape(const QPainterPath& key, QTransform* transform, bool* filledOnly);
    void add(QVector<QPointF> points, bool closed);

    QTransform m_toTable;
    const ReadOptions& m_options;
    QString m_layer;
    QPainterPath m_fillKey;
    QTransform m_fillTransform;
    int m_fillStart = -1;
};

class RecordingDevice : public QPaintDevice {
public:
    explicit RecordingDevice(RecordingEngine* engine)
        : m_engine(engine)
    { }
    QPaintEngine* paintEngine() const override { return m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 100000;
        }
    }

private:
    RecordingEngine* m_engine;
};

bool RecordingEngine::shape(const QPainterPath& key, QTransform* transform, bool* filledOnly)
{
    if (m_options.progress.cancel && m_options.progress.cancel->load())
        cancelled = true;
    if (cancelled)
        return false;
    const QPainter* p = painter();
    const bool stroked = p->pen().style() != Qt::NoPen;
    const bool filled = p->brush().style() != Qt::NoBrush;
    if (!stroked && !filled)
        return false;
    *filledOnly = !stroked;
    m_layer = (stroked ? p->pen().color() : p->brush().color()).name();
    *transform = p->combinedTransform() * m_toTable;
    if (!stroked) {
        m_fillKey = key;
        m_fillTransform = *transform;
        m_fillStart = drawing.contours.size();
    } else {
        if (m_fillStart >= 0 && key == m_fillKey && *transform == m_fillTransform)
            drawing.contours.resize(m_fillStart);
        m_fillStart = -1;
    }
    return true;
}

void RecordingEngine::add(QVector<QPointF> points, bool closed)
{
    Contour contour;
    contour.points = std::move(points);
    contour.closed = closed;
    contour.layer = m_layer;
    addContour(&drawing, std::move(contour));
}

void RecordingEngine::drawPath(const QPainterPath& path)
{
    QTransform transform;
    bool filledOnly;
    if (!shape(path, &transform, &filledOnly))
        return;
    // QtSvg's arcs are already Bézier curves; half the tolerance is left for them.
    const double tolerance = m_options.toleranceMm / 2;
    QVector<QPointF> points;
    const auto finish = [&]() {
        if (points.size() > 1) {
            const bool closed = points.first() == points.last() || filledOnly;
            add(points, closed);
        }
        points.clear();
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        const QPointF point = transform.map(QPointF(element));
        if (element.isMoveTo()) {
            finish();
            points.append(point);
        } else if (element.isLineTo()) {
            points.append(point);
        } else if (element.isCurveTo() && i + 2 < path.elementCount() && !points.isEmpty()) {
            const QPointF c2 = transform.map(QPointF(path.elementAt(i + 1)));
            const QPointF end = transform.map(QPointF(path.elementAt(i + 2)));
            appendCubic(&points, points.last(), point, c2, end, tolerance);
            i += 2;
        }
    }
    finish();
}

void RecordingEngine::drawPolygon(const QPointF* points, int count, PolygonDrawMode mode)
{
    QPainterPath key;
    key.addPolygon(QPolygonF(QVector<QPointF>(points, points + count)));
    QTransform transform;
    bool filledOnly;
    if (!shape(key, &transform, &filledOnly))
        return;
    QVector<QPointF> mapped;
    mapped.reserve(count);
    for (int i = 0; i < count; ++i)
        mapped.append(transform.map(points[i]));
    add(mapped, mode != PolylineMode);
}

void RecordingEngine::drawLines(const QLineF* lines, int count)
{
    QPainterPath key;
    for (int i = 0; i < count; ++i) {
        key.moveTo(lines[i].p1());
        key.lineTo(lines[i].p2());
    }
    QTransform transform;
    bool filledOnly;
    if (!shape(key, &transform, &filledOnly))
        return;
    for (int i = 0; i < count; ++i)
        add({ transform.map(lines[i].p1()), transform.map(lines[i].p2()) }, false);
}

void RecordingEngine::drawRects(const QRectF* rects, int count)
{
    QPainterPath key;
    for (int i = 0; i < count; ++i)
        key.addRect(rects[i]);
    QTransform transform;
    bool filledOnly;
    if (!shape(key, &transform, &filledOnly))
        return;
    for (int i = 0; i < count; ++i) {
        const QRectF& r = rects[i];
        add({ transform.map(r.topLeft()), transform.map(r.topRight()),
                transform.map(r.bottomRight()), transform.map(r.bottomLeft()) },
            true);
    }
}

void RecordingEngine::drawEllipse(const QRectF& rect)
{
    QPainterPath key;
    key.addEllipse(rect);
    QTransform transform;
    bool filledOnly;
    if (!shape(key, &transform, &filledOnly))
        return;
    const QPointF center = rect.center();
    const double rx = rect.width() / 2, ry = rect.height() / 2;
    const auto at = [&](double t) {
        return transform.map(center + QPointF(rx * std::cos(t), ry * std::sin(t)));
    };
    QVector<QPointF> points { at(0) };
    appendCurve(&points, at, 0, 2 * M_PI, 16, m_options.toleranceMm);
    add(points, true);
}

// A length of the root element in millimetres; 0 when absent or relative.
double lengthMm(const QStringRef& text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\s*([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)\\s*(mm|cm|in|pt|pc|px)?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text.toString());
    if (!match.hasMatch())
        return 0;
    const double value = match.captured(1).toDouble();
    const QString unit = match.captured(2);
    double factor = mmPerPx;
    if (unit == QLatin1String("mm"))
        factor = 1;
    else if (unit == QLatin1String("cm"))
        factor = 10;
    else if (unit == QLatin1String("in"))
        factor = 25.4;
    else if (unit == QLatin1String("pt"))
        factor = 25.4 / 72;
    else if (unit == QLatin1String("pc"))
        factor = 25.4 / 6;
    const double mm = value * factor;
    return std::isfinite(mm) && mm > 0 ? mm : 0;
}

// What the root element says of the document's size, and whether it holds text.
struct Document {
    double widthMm = 0;
    double heightMm = 0;
    QRectF viewBox;
    bool stretch = false;
    bool hasText = false;
};

bool readDocument(const QByteArray& data, Document* document, QString* error)
{
    QXmlStreamReader xml(data);
    bool root = true;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (root) {
            if (xml.name() != QLatin1String("svg")) {
                *error = QStringLiteral("not an SVG document: its root element is <%1>")
                             .arg(xml.name().left(40).toString());
                return false;
            }
            const QXmlStreamAttributes attributes = xml.attributes();
            document->widthMm = lengthMm(attributes.value(QLatin1String("width")));
            document->heightMm = lengthMm(attributes.value(QLatin1String("height")));
            const QStringList box
                = attributes.value(QLatin1String("viewBox"))
                      .toString()
                      .split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
            if (box.size() == 4 && box.at(2).toDouble() > 0 && box.at(3).toDouble() > 0)
                document->viewBox = QRectF(box.at(0).toDouble(), box.at(1).toDouble(),
                    box.at(2).toDouble(), box.at(3).toDouble());
            document->stretch = attributes.value(QLatin1String("preserveAspectRatio")).trimmed()
                == QLatin1String("none");
            root = false;
        } else if (xml.name() == QLatin1String("text")) {
            document->hasText = true;
        }
    }
    if (root || xml.hasError()) {
        *error = QStringLiteral("not an SVG document: %1 (line %2)")
                     .arg(root && !xml.hasError() ? QStringLiteral("no root element")
                                                  : xml.errorString())
                     .arg(xml.lineNumber());
        return false;
    }
    return true;
}

} // namespace

bool readSvg(const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    Document document;
    if (!readDocument(data, &document, error))
        return false;
    // Text is drawn in the fonts of a GUI application; without one QtSvg cannot even skip it.
    if (document.hasText && !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        *error = QStringLiteral("the drawing holds text, which cannot be cut; turn the text into "
                                "paths in the drawing program");
        return false;
    }
    QSvgRenderer renderer;
    if (!renderer.load(data)) {
        *error = QStringLiteral("not a valid SVG document");
        return false;
    }

    // User units are px at 96 to the inch unless a viewBox maps them onto the document's size.
    QRectF box = document.viewBox;
    double width = document.widthMm, height = document.heightMm;
    if (box.isEmpty()) {
        const QSizeF size(width > 0 ? width / mmPerPx : renderer.viewBoxF().width(),
            height > 0 ? height / mmPerPx : renderer.viewBoxF().height());
        box = QRectF(QPointF(0, 0), size.isEmpty() ? QSizeF(100, 100) : size);
    }
    if (width <= 0 && height <= 0) {
        width = box.width() * mmPerPx;
        height = box.height() * mmPerPx;
    } else if (width <= 0) {
        width = height * box.width() / box.height();
    } else if (height <= 0) {
        height = width * box.height() / box.width();
    }
    QRectF target(0, 0, width, height);
    if (!document.stretch) {
        const double scale = qMin(width / box.width(), height / box.height());
        target.setSize(box.size() * scale);
        target.moveCenter(QPointF(width / 2, height / 2));
    }
    renderer.setViewBox(box);

    RecordingEngine engine(QTransform(1, 0, 0, -1, 0, height), options);
    RecordingDevice device(&engine);
    QPainter painter(&device);
    renderer.render(&painter, target);
    painter.end();
    if (engine.cancelled) {
        *error = cancelledText();
        return false;
    }
    Drawing& result = engine.drawing;
    if (document.hasText)
        result.warnings.append(QStringLiteral("text is cut along its letters' outlines, in the "
                                              "fonts this computer has"));
    if (engine.pictures > 0)
        result.warnings.append(QStringLiteral("%1 pictures left out").arg(engine.pictures));
    if (result.contours.isEmpty()) {
        *error = QStringLiteral("nothing to cut: the drawing holds no visible shape");
        return false;
    }
    *drawing = std::move(result);
    return true;
}

} // namespace ZRCut
