#include "textoutline.h"

#include <QGuiApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

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
    bool tooLarge = false;

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
    int m_counted = 0;
    qint64 m_points = 0;
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
    for (m_counted = qMin(m_counted, drawing.contours.size());
         m_counted < drawing.contours.size(); ++m_counted)
        m_points += drawing.contours.at(m_counted).points.size();
    if (m_points > maxDrawingPoints)
        tooLarge = cancelled = true;
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
    addPath(&drawing, path, transform, m_layer, m_options.toleranceMm / 2, filledOnly);
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

// What the root element says of the document's size, and what the reader took out of it.
struct Document {
    double widthMm = 0;
    double heightMm = 0;
    QRectF viewBox;
    bool stretch = false;
    int texts = 0;
    int pictures = 0;
    int references = 0;
};

// The deepest nesting of elements a drawing may have.
constexpr int maxDepth = 256;

// A path's data with every arc of zero radius turned into the straight line SVG makes of it
// (QtSvg drops such an arc and goes on from the wrong point). Unchanged when it has none.
QString straightenArcs(const QString& d)
{
    static const QRegularExpression token(QStringLiteral(
        "([MmZzLlHhVvCcSsQqTtAa])|([+-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+-]?\\d+)?)"));
    static const QRegularExpression flag(QStringLiteral("^[\\s,]*([01])"));
    if (!d.contains(QLatin1Char('a'), Qt::CaseInsensitive))
        return d;
    QString out;
    QChar command;
    QStringList numbers;
    bool changed = false;
    int at = 0;
    while (at < d.size()) {
        // An arc's flags may stand without separators: "a5 5 0 1110 0".
        if (command.toLower() == QLatin1Char('a') && (numbers.size() == 3 || numbers.size() == 4)) {
            const QRegularExpressionMatch f = flag.match(d.mid(at, 8));
            if (!f.hasMatch())
                return d;
            numbers.append(f.captured(1));
            at += f.capturedEnd();
        } else {
            const QRegularExpressionMatch m = token.match(d, at);
            if (!m.hasMatch())
                break;
            at = m.capturedEnd();
            if (m.capturedLength(1) > 0) {
                command = m.captured(1).at(0);
                out += command;
                out += QLatin1Char(' ');
                continue;
            }
            numbers.append(m.captured(2));
        }
        if (command.toLower() != QLatin1Char('a') || numbers.size() < 7) {
            if (command.toLower() != QLatin1Char('a')) {
                out += numbers.takeFirst();
                out += QLatin1Char(' ');
            }
            continue;
        }
        if (numbers.at(0).toDouble() == 0 || numbers.at(1).toDouble() == 0) {
            out += (command == QLatin1Char('a') ? QStringLiteral("l ") : QStringLiteral("L "))
                + numbers.at(5) + QLatin1Char(' ') + numbers.at(6)
                + (command == QLatin1Char('a') ? QStringLiteral(" a ") : QStringLiteral(" A "));
            changed = true;
        } else {
            out += numbers.join(QLatin1Char(' ')) + QLatin1Char(' ');
        }
        numbers.clear();
    }
    return changed ? out : d;
}

// The fonts of a font-family list: the first this computer has, else the fallback.
QString familyFor(const QString& list, TextOutliner* text)
{
    const QStringList names = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString name : names) {
        name = name.trimmed().remove(QLatin1Char('"')).remove(QLatin1Char('\''));
        if (QFontInfo(QFont(name)).family().compare(name, Qt::CaseInsensitive) == 0)
            return name;
    }
    return text->font(names.isEmpty() ? QString() : names.first().trimmed()).family();
}

// The document as QtSvg is to see it: no picture, no reference to anything outside it (QtSvg
// would open any file or device named), no text when it is to be left out, fonts this computer
// has, and arcs of zero radius as lines. Also reads the root element's size.
bool sanitize(const QByteArray& data, const ReadOptions& options, TextOutliner* text,
    QByteArray* clean, Document* document, QString* error)
{
    static const QRegularExpression styleFont(QStringLiteral("font-family\\s*:\\s*([^;]*)"));
    QXmlStreamReader xml(data);
    QXmlStreamWriter writer(clean);
    int depth = 0;
    bool rooted = false;
    bool rootFont = true;
    int textDepth = -1;
    qint64 tokens = 0;
    QXmlStreamAttributes textAttributes;
    int skipping = 0; // depth of the element being left out, 0 for none
    const bool keepText = options.text == TextMode::Outline;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if ((++tokens & 1023) == 0 && options.progress.cancel && options.progress.cancel->load()) {
            *error = cancelledText();
            return false;
        }
        if (token == QXmlStreamReader::EndElement) {
            if (skipping == 0)
                writer.writeEndElement();
            if (textDepth == depth)
                textDepth = -1;
            if (skipping == depth--)
                skipping = 0;
            continue;
        }
        if (token == QXmlStreamReader::Characters && skipping == 0 && depth > 0) {
            if (xml.isCDATA())
                writer.writeCDATA(xml.text().toString());
            else
                writer.writeCharacters(xml.text().toString());
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (++depth > maxDepth) {
            *error = QStringLiteral("not an SVG document: elements nested more than %1 deep "
                                    "(line %2)")
                         .arg(maxDepth)
                         .arg(xml.lineNumber());
            return false;
        }
        if (skipping > 0)
            continue;
        const QStringRef name = xml.name();
        QXmlStreamAttributes attributes = xml.attributes();
        if (depth == 1) {
            rooted = true;
            if (name != QLatin1String("svg")) {
                *error = QStringLiteral("not an SVG document: its root element is <%1>")
                             .arg(name.left(40).toString());
                return false;
            }
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
        }
        const bool isText = name == QLatin1String("text");
        document->texts += isText;
        const QString href = attributes.value(QLatin1String("href")).toString()
            + attributes.value(QLatin1String("http://www.w3.org/1999/xlink"), QLatin1String("href"))
                  .toString();
        const bool outside = !href.isEmpty() && !href.trimmed().startsWith(QLatin1Char('#'));
        if (name == QLatin1String("image") || (isText && !keepText)
            || (outside && name != QLatin1String("a"))) {
            document->pictures += name == QLatin1String("image");
            document->references += outside && name != QLatin1String("image");
            skipping = depth;
            continue;
        }
        // QtSvg sets a <tspan> where its text goes on, whatever its own x and y say: one that
        // places itself starts a <text> of its own.
        if (isText) {
            textDepth = depth;
            textAttributes = attributes;
        } else if (name == QLatin1String("tspan") && depth == textDepth + 1
            && (attributes.hasAttribute(QLatin1String("x"))
                || attributes.hasAttribute(QLatin1String("y")))) {
            writer.writeEndElement();
            writer.writeStartElement(QStringLiteral("text"));
            for (const QXmlStreamAttribute& attribute : qAsConst(textAttributes)) {
                if (attribute.name() != QLatin1String("x") && attribute.name() != QLatin1String("y"))
                    writer.writeAttribute(attribute.qualifiedName().toString(),
                        attribute.value().toString());
            }
            for (const char* axis : { "x", "y" }) {
                const QStringRef value = attributes.value(QLatin1String(axis));
                const QStringRef inherited = textAttributes.value(QLatin1String(axis));
                if (!value.isEmpty() || !inherited.isEmpty())
                    writer.writeAttribute(QLatin1String(axis),
                        (value.isEmpty() ? inherited : value).toString());
            }
        }
        writer.writeStartElement(xml.qualifiedName().toString());
        for (const QXmlStreamNamespaceDeclaration& ns : xml.namespaceDeclarations()) {
            writer.writeAttribute(ns.prefix().isEmpty()
                    ? QStringLiteral("xmlns")
                    : QStringLiteral("xmlns:") + ns.prefix().toString(),
                ns.namespaceUri().toString());
        }
        bool hasFont = false;
        for (const QXmlStreamAttribute& attribute : qAsConst(attributes)) {
            const QStringRef local = attribute.name();
            QString value = attribute.value().toString();
            if (local == QLatin1String("href") && !value.trimmed().startsWith(QLatin1Char('#')))
                continue;
            if (local == QLatin1String("font-family")) {
                value = familyFor(value, text);
                hasFont = true;
            } else if (local == QLatin1String("style") && value.contains(styleFont)) {
                const QRegularExpressionMatch font = styleFont.match(value);
                value.replace(font.capturedStart(1), font.capturedLength(1),
                    familyFor(font.captured(1), text));
            } else if (local == QLatin1String("d") && name == QLatin1String("path")) {
                value = straightenArcs(value);
            }
            writer.writeAttribute(attribute.qualifiedName().toString(), value);
        }
        if (depth == 1 && !hasFont) {
            writer.writeAttribute(QStringLiteral("font-family"), options.fallbackFont);
            rootFont = false;
        }
    }
    // Text without a font of its own is in the fallback, and that is worth a note.
    if (document->texts > 0 && !rootFont && keepText)
        text->font(QString());
    if (!rooted && !xml.hasError()) {
        *error = QStringLiteral("not an SVG document: no root element");
        return false;
    }
    if (xml.hasError()) {
        *error = QStringLiteral("not an SVG document: %1 (line %2)")
                     .arg(xml.errorString())
                     .arg(xml.lineNumber());
        return false;
    }
    return true;
}

} // namespace

bool readSvg(const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    return guarded([&] {
        TextOutliner text(options);
        Document document;
        QByteArray clean;
        if (!sanitize(data, options, &text, &clean, &document, error))
            return false;
        if (document.texts > 0 && options.text == TextMode::Outline && !text.available(error))
            return false;
        QSvgRenderer renderer;
        if (!renderer.load(clean)) {
            *error = QStringLiteral("not a valid SVG document");
            return false;
        }

        // User units are px at 96 to the inch unless a viewBox maps them onto the document's
        // size.
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
        if (engine.tooLarge) {
            *error = QStringLiteral("the drawing makes more than %1 million points")
                         .arg(maxDrawingPoints / 1000000);
            return false;
        }
        if (engine.cancelled) {
            *error = cancelledText();
            return false;
        }
        Drawing& result = engine.drawing;
        result.textItems = document.texts;
        result.warnings += text.notes();
        const int pictures = engine.pictures + document.pictures;
        if (pictures > 0)
            result.warnings.append(QStringLiteral("%1 pictures left out").arg(pictures));
        if (document.references > 0)
            result.warnings.append(
                QStringLiteral("%1 references to other files left out").arg(document.references));
        if (!finishRead(&result, options, QStringLiteral("the drawing holds no visible shape"),
                error))
            return false;
        *drawing = std::move(result);
        return true;
    }, error);
}

} // namespace ZRCut
