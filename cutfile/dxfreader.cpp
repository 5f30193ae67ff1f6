#include "textoutline.h"

#include <QRegularExpression>
#include <QSet>
#include <QTransform>

#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <sstream>

namespace ZRCut {

namespace {

// Bounds on what a drawing may make of itself through blocks inserted in blocks.
constexpr int maxInsertDepth = 32;
constexpr int maxArrayCells = 10000;
// Entities drawn through inserts: a bound that stops block bombs that draw nothing.
constexpr qint64 maxDrawnEntities = 4 * 1000 * 1000;
constexpr int maxContours = 2 * 1000 * 1000;
constexpr int maxSplineControls = 100000;
constexpr size_t maxVertices = 1000000;

// Millimetres in one drawing unit ($INSUNITS); 0 for units no cutter works in.
double unitMm(int code)
{
    switch (code) {
    case 0: // unitless: taken as millimetres
    case 4:
        return 1;
    case 1:
        return 25.4;
    case 2:
        return 304.8;
    case 5:
        return 10;
    case 6:
        return 1000;
    case 8:
        return 25.4e-6;
    case 9:
        return 0.0254;
    case 10:
        return 914.4;
    case 13:
        return 0.001;
    case 14:
        return 100;
    default:
        return 0;
    }
}

double radians(double degrees)
{
    return degrees * M_PI / 180;
}

// The largest factor by which a transform stretches a length.
double stretch(const QTransform& t)
{
    return std::sqrt(t.m11() * t.m11() + t.m12() * t.m12() + t.m21() * t.m21() + t.m22() * t.m22());
}

struct Vertex {
    QPointF point;
    double bulge;
};

struct Spline {
    int degree = 3;
    bool closed = false;
    std::vector<double> knots;
    std::vector<QPointF> controls;
    std::vector<double> weights;
    std::vector<QPointF> fits;
};

// A point of a NURBS curve by de Boor's algorithm in homogeneous coordinates.
QPointF splinePoint(const Spline& s, double t)
{
    const int p = s.degree;
    const int n = int(s.controls.size());
    int k = p;
    while (k < n - 1 && t >= s.knots[k + 1])
        ++k;
    std::vector<double> x(p + 1), y(p + 1), w(p + 1);
    for (int j = 0; j <= p; ++j) {
        const int i = k - p + j;
        w[j] = s.weights[i];
        x[j] = s.controls[i].x() * w[j];
        y[j] = s.controls[i].y() * w[j];
    }
    for (int r = 1; r <= p; ++r) {
        for (int j = p; j >= r; --j) {
            const int i = k - p + j;
            const double span = s.knots[i + p - r + 1] - s.knots[i];
            const double a = span > 0 ? (t - s.knots[i]) / span : 0;
            x[j] = (1 - a) * x[j - 1] + a * x[j];
            y[j] = (1 - a) * y[j - 1] + a * y[j];
            w[j] = (1 - a) * w[j - 1] + a * w[j];
        }
    }
    return w[p] != 0 ? QPointF(x[p] / w[p], y[p] / w[p]) : s.controls[k];
}

// Thrown from within dxflib's reading to end it: a failure, or the cancel flag.
struct Stop { };

// A text entity as it stands in its frame.
struct TextItem {
    TextBlock block;
    QPointF at;
    double angle = 0; // radians
    QString style;
};

// What dxflib would allocate for a count a file declares (LWPOLYLINE vertices, SPLINE knots,
// controls and fit points, LEADER vertices, HATCH loops and edges), against what the file can
// hold: each item takes a few bytes at least. false with the line of a count beyond that.
// A line of the data without its surrounding blanks, without copying it.
QByteArray trimmedLine(const QByteArray& data, int from, int to)
{
    while (from < to && std::isspace(uchar(data.at(from))))
        ++from;
    while (to > from && std::isspace(uchar(data.at(to - 1))))
        --to;
    return QByteArray::fromRawData(data.constData() + from, to - from);
}

bool checkDeclaredCounts(const QByteArray& data, QString* error)
{
    static const std::map<QByteArray, std::vector<int>> counted { { "LWPOLYLINE", { 90 } },
        { "SPLINE", { 72, 73, 74 } }, { "LEADER", { 76 } }, { "HATCH", { 91, 92, 93 } } };
    const std::vector<int>* codes = nullptr;
    QByteArray entity;
    int line = 0;
    for (int at = 0; at < data.size();) {
        int end = data.indexOf('\n', at);
        if (end < 0)
            end = data.size();
        int valueEnd = end < data.size() ? data.indexOf('\n', end + 1) : -1;
        if (valueEnd < 0)
            valueEnd = data.size();
        bool isNumber = false;
        const int code = trimmedLine(data, at, end).toInt(&isNumber);
        const QByteArray value = trimmedLine(data, qMin(end + 1, valueEnd), valueEnd);
        line += 2;
        at = valueEnd + 1;
        if (!isNumber)
            continue;
        if (code == 0) {
            const auto found = counted.find(value);
            codes = found == counted.end() ? nullptr : &found->second;
            entity = codes ? QByteArray(value.constData(), value.size()) : QByteArray();
        } else if (codes && std::find(codes->begin(), codes->end(), code) != codes->end()) {
            const qint64 count = value.toLongLong();
            if (count < 0 || count > (data.size() - at) / 4 + 16) {
                *error = QStringLiteral("line %1: %2 declares %3 items (group %4), more than "
                                        "the file holds")
                             .arg(line)
                             .arg(QString::fromLatin1(entity))
                             .arg(QString::fromLatin1(value.left(20)))
                             .arg(code);
                return false;
            }
        }
    }
    return true;
}

class DxfBuilder : public DL_CreationAdapter {
public:
    DxfBuilder(const ReadOptions& options, std::istream& stream, qint64 size)
        : m_options(options)
        , m_stream(stream)
        , m_reading(partOf(options.progress, 0, 90))
        , m_tracker(m_reading, size)
        , m_text(options)
    { }

    Drawing drawing;
    QString failure;
    std::map<QString, int> leftOut;
    QString version;
    std::map<QString, int> hiddenContours;
    int straightArcs = 0; // polyline arcs too large to divide, cut as their chords

    void finish()
    {
        flush();
        drawing.warnings += m_text.notes();
        if (straightArcs > 0)
            drawing.warnings.append(
                QStringLiteral("%1 arcs reaching beyond 1 km cut as straight lines")
                    .arg(straightArcs));
        QStringList hidden;
        for (const auto& layer : hiddenContours)
            hidden.append(QStringLiteral("%1 (%2)").arg(layer.first.left(60)).arg(layer.second));
        if (!hidden.isEmpty())
            drawing.warnings.append(QStringLiteral("layers that are off or frozen left out: %1")
                                        .arg(hidden.join(", ")));
    }

    bool cancelled() const { return m_tracker.cancelled(); }

    void addLayer(const DL_LayerData& data) override
    {
        // A layer is off when its colour is negative (dxflib's own flag stays unset).
        const bool off = data.off || getAttributes().getColor() < 0;
        if ((off || (data.flags & 1)) && !m_options.hiddenLayers)
            m_hidden.insert(QString::fromStdString(data.name));
    }
    void addTextStyle(const DL_StyleData& data) override
    {
        // The font file names the family ("arial.ttf"); CAD's own SHX fonts have none here.
        QString file = QString::fromStdString(data.primaryFontFile).trimmed();
        file = file.mid(file.lastIndexOf(QRegularExpression(QStringLiteral("[/\\\\]"))) + 1);
        const bool shape = file.endsWith(QLatin1String(".shx"), Qt::CaseInsensitive);
        const QString family = file.left(file.lastIndexOf(QLatin1Char('.')) < 0
                ? file.size()
                : file.lastIndexOf(QLatin1Char('.')));
        m_styles[QString::fromStdString(data.name).toUpper()]
            = { shape ? QStringLiteral("%1 (an SHX font)").arg(file) : family,
                  data.widthFactor > 0 ? data.widthFactor : 1,
                  std::tan(qBound(-80.0, data.obliqueAngle, 80.0) * M_PI / 180) };
    }
    void addText(const DL_TextData& d) override { text(d); }
    void addAttribute(const DL_AttributeData& d) override { text(d); }
    void addMText(const DL_MTextData& d) override
    {
        TextItem item;
        item.block.lines = plainLines(QString::fromStdString(d.text));
        item.block.capHeight = d.height;
        item.block.lineSpacing
            = d.height * 5 / 3 * (d.lineSpacingFactor > 0 ? d.lineSpacingFactor : 1);
        const int attach = qBound(1, d.attachmentPoint, 9);
        item.block.hAlign = (attach - 1) % 3;
        item.block.vAlign = attach <= 3 ? 3 : attach <= 6 ? 2 : 1;
        item.at = QPointF(d.ipx, d.ipy);
        item.angle = (d.dirx != 0 || d.diry != 0) ? std::atan2(d.diry, d.dirx) : d.angle;
        item.style = QString::fromStdString(d.style);
        outlineText(item);
    }

    void setVariableString(const std::string& key, const std::string& value, int) override
    {
        if (key == "$ACADVER")
            version = QString::fromStdString(value).trimmed();
    }
    void setVariableInt(const std::string& key, int value, int) override
    {
        if (key != "$INSUNITS")
            return;
        m_unit = unitMm(value);
        if (m_unit == 0)
            fail(QStringLiteral("unsupported drawing units ($INSUNITS %1)").arg(value));
    }

    void addBlock(const DL_BlockData& data) override
    {
        flush();
        m_block = &m_blocks[QString::fromStdString(data.name)];
        m_block->base = QPointF(data.bpx, data.bpy);
        m_block->entities.clear();
    }
    void endBlock() override
    {
        flush();
        m_block = nullptr;
    }

    void addLine(const DL_LineData& d) override
    {
        entity([=](Emitter& e) { e.add({ QPointF(d.x1, d.y1), QPointF(d.x2, d.y2) }, false); });
    }
    void addArc(const DL_ArcData& d) override
    {
        double sweep = std::fmod(d.angle2 - d.angle1, 360.0);
        if (sweep <= 0)
            sweep += 360;
        entity([=](Emitter& e) {
            e.arc(QPointF(d.cx, d.cy), d.radius, radians(d.angle1), radians(sweep), false);
        });
    }
    void addCircle(const DL_CircleData& d) override
    {
        entity([=](Emitter& e) { e.arc(QPointF(d.cx, d.cy), d.radius, 0, 2 * M_PI, true); });
    }
    void addEllipse(const DL_EllipseData& d) override
    {
        entity([=](Emitter& e) { e.ellipse(d); });
    }
    void addPolyline(const DL_PolylineData& d) override
    {
        flush();
        m_pending = Pending::Polyline;
        m_vertices.clear();
        m_closed = d.flags & 1;
        m_pendingLayer = layer();
    }
    void addVertex(const DL_VertexData& d) override
    {
        if (m_pending != Pending::Polyline)
            return;
        if (m_vertices.size() == maxVertices)
            fail(QStringLiteral("a polyline holds more than %1 vertices").arg(maxVertices));
        m_vertices.push_back({ QPointF(d.x, d.y), d.bulge });
    }
    void endSequence() override { flush(); }
    void addSpline(const DL_SplineData& d) override
    {
        flush();
        m_pending = Pending::Spline;
        m_spline = Spline();
        m_spline.degree = int(d.degree);
        m_spline.closed = d.flags & 1;
        m_pendingLayer = layer();
    }
    void addControlPoint(const DL_ControlPointData& d) override
    {
        if (m_pending == Pending::Spline && m_spline.controls.size() < size_t(maxSplineControls)) {
            m_spline.controls.emplace_back(d.x, d.y);
            m_spline.weights.push_back(d.w > 0 ? d.w : 1);
        }
    }
    void addKnot(const DL_KnotData& d) override
    {
        if (m_pending == Pending::Spline && m_spline.knots.size() < size_t(maxSplineControls) * 2)
            m_spline.knots.push_back(d.k);
    }
    void addFitPoint(const DL_FitPointData& d) override
    {
        if (m_pending == Pending::Spline && m_spline.fits.size() < size_t(maxSplineControls))
            m_spline.fits.emplace_back(d.x, d.y);
    }
    void addInsert(const DL_InsertData& d) override
    {
        entity([=](Emitter& e) { e.insert(d); });
    }

    void addHatch(const DL_HatchData&) override { skip(QStringLiteral("hatches")); }
    void addImage(const DL_ImageData&) override { skip(QStringLiteral("pictures")); }
    void addSolid(const DL_SolidData&) override { skip(QStringLiteral("solids")); }
    void addDimLinear(const DL_DimensionData&, const DL_DimLinearData&) override { dimension(); }
    void addDimAlign(const DL_DimensionData&, const DL_DimAlignedData&) override { dimension(); }
    void addDimRadial(const DL_DimensionData&, const DL_DimRadialData&) override { dimension(); }
    void addDimDiametric(const DL_DimensionData&, const DL_DimDiametricData&) override
    {
        dimension();
    }
    void addDimAngular(const DL_DimensionData&, const DL_DimAngular2LData&) override
    {
        dimension();
    }
    void addDimAngular3P(const DL_DimensionData&, const DL_DimAngular3PData&) override
    {
        dimension();
    }
    void addDimOrdinate(const DL_DimensionData&, const DL_DimOrdinateData&) override
    {
        dimension();
    }

private:
    // Draws entities under the transform of the inserts around them.
    class Emitter {
    public:
        Emitter(DxfBuilder* builder, const QTransform& transform, const QString& layer,
            const QStringList& chain)
            : m_builder(builder)
            , m_transform(transform)
            , m_layer(layer)
            , m_chain(chain)
        { }
        void setLayer(const QString& layer) { m_entityLayer = layer; }

        // Points in the entity's own units; tolerance is scaled to them.
        void add(const QVector<QPointF>& points, bool closed)
        {
            m_builder->output(points, closed, m_transform, layerName());
        }
        double tolerance() const
        {
            return m_builder->m_options.toleranceMm / qMax(stretch(m_transform), 1e-9);
        }
        void arc(const QPointF& center, double radius, double start, double sweep, bool closed)
        {
            QVector<QPointF> points { center
                + QPointF(radius * std::cos(start), radius * std::sin(start)) };
            appendArc(&points, center, std::abs(radius), start, sweep, tolerance());
            add(points, closed);
        }
        void ellipse(const DL_EllipseData& d);
        void polyline(const std::vector<Vertex>& vertices, bool closed);
        void spline(const Spline& s);
        void insert(const DL_InsertData& d);
        // A text's outline, set at `at` turned by angle (radians), in chords.
        void path(const QPainterPath& outline, const QPointF& at, double angle)
        {
            Drawing letters;
            addPath(&letters, outline, QTransform().translate(at.x(), at.y()).rotateRadians(angle),
                QString(), tolerance(), true);
            for (const Contour& contour : qAsConst(letters.contours))
                add(contour.points, true);
        }

    private:
        QString layerName() const
        {
            return m_entityLayer == QLatin1String("0") && !m_layer.isEmpty() ? m_layer
                                                                             : m_entityLayer;
        }

        DxfBuilder* m_builder;
        QTransform m_transform;
        QString m_layer;
        QString m_entityLayer;
        QStringList m_chain; // the blocks being inserted, outermost first
    };
    using Entity = std::function<void(Emitter&)>;
    struct Block {
        QPointF base;
        std::vector<std::pair<QString, Entity>> entities;
    };
    enum class Pending { None, Polyline, Spline };

    QString layer() { return QString::fromStdString(getAttributes().getLayer()); }

    [[noreturn]] void fail(const QString& text)
    {
        if (failure.isEmpty())
            failure = text;
        throw Stop();
    }

    void skip(const QString& kind)
    {
        flush();
        ++leftOut[kind];
    }
    void dimension() { skip(QStringLiteral("dimensions")); }

    void entity(const Entity& draw) { store(layer(), draw); }

    // A text entity: outlined in its style's font, or counted and left out.
    void text(const DL_TextData& d)
    {
        TextItem item;
        item.block.lines = QStringList(QString::fromStdString(d.text));
        item.block.capHeight = d.height;
        item.block.widthFactor = d.xScaleFactor > 0 ? d.xScaleFactor : 1;
        // Justified text stands at its second alignment point; "aligned", "middle" and "fit"
        // are centred there.
        const int h = d.hJustification, v = d.vJustification;
        item.block.hAlign = h == 1 || h >= 3 ? 1 : h == 2 ? 2 : 0;
        item.block.vAlign = h == 4 ? 2 : qBound(0, v, 3);
        const bool aligned = h != 0 || v != 0;
        if (h == 3 || h == 5)
            item.at = (QPointF(d.ipx, d.ipy) + QPointF(d.apx, d.apy)) / 2;
        else
            item.at = aligned ? QPointF(d.apx, d.apy) : QPointF(d.ipx, d.ipy);
        item.angle = d.angle;
        item.style = QString::fromStdString(d.style);
        outlineText(item);
    }

    void outlineText(TextItem item)
    {
        ++drawing.textItems;
        if (m_options.text == TextMode::Skip)
            return;
        QString why;
        if (!m_text.available(&why))
            fail(why);
        if (!(item.block.capHeight > 0 && item.block.capHeight < 1e5) || !std::isfinite(item.angle))
            return;
        const auto style = m_styles.find(item.style.toUpper());
        if (style != m_styles.end()) {
            item.block.widthFactor *= style->second.widthFactor;
            item.block.slant = style->second.slant;
        }
        const QFont font = m_text.font(style == m_styles.end() ? QString() : style->second.family);
        const QPainterPath path = textBlock(m_text, item.block, font);
        store(layer(), [=](Emitter& e) { e.path(path, item.at, item.angle); });
    }

    void store(const QString& entityLayer, const Entity& draw)
    {
        if (m_tracker.cancelled())
            fail(cancelledText());
        flush();
        if (m_block) {
            m_block->entities.emplace_back(entityLayer, draw);
            return;
        }
        Emitter emitter(this, QTransform::fromScale(m_unit, m_unit), QString(), {});
        emitter.setLayer(entityLayer);
        draw(emitter);
    }

    void flush()
    {
        const Pending pending = m_pending;
        m_pending = Pending::None;
        if (pending == Pending::Polyline) {
            const std::vector<Vertex> vertices = std::move(m_vertices);
            const bool closed = m_closed;
            store(m_pendingLayer, [=](Emitter& e) { e.polyline(vertices, closed); });
        } else if (pending == Pending::Spline) {
            const Spline spline = std::move(m_spline);
            store(m_pendingLayer, [=](Emitter& e) { e.spline(spline); });
        }
    }

    void output(const QVector<QPointF>& points, bool closed, const QTransform& transform,
        const QString& layer)
    {
        if (m_hidden.contains(layer)) {
            ++hiddenContours[layer];
            return;
        }
        m_points += points.size();
        if (drawing.contours.size() >= maxContours)
            fail(QStringLiteral("the drawing makes more than %1 million contours")
                     .arg(maxContours / 1000000));
        if (m_points > maxDrawingPoints)
            fail(QStringLiteral("the drawing makes more than %1 million points")
                     .arg(maxDrawingPoints / 1000000));
        if ((m_outputs++ & 255) == 0 && !m_tracker.step(m_stream.tellg()))
            fail(cancelledText());
        Contour contour;
        contour.points.reserve(points.size());
        for (const QPointF& point : points)
            contour.points.append(transform.map(point));
        contour.closed = closed;
        contour.layer = layer;
        addContour(&drawing, std::move(contour));
    }

    const ReadOptions& m_options;
    std::istream& m_stream;
    const Progress m_reading; // the bar up to 90 %; joining the contours takes it on from there
    ProgressTracker m_tracker;
    int m_outputs = 0;
    double m_unit = 1;
    std::map<QString, Block> m_blocks;
    Block* m_block = nullptr;
    Pending m_pending = Pending::None;
    QString m_pendingLayer;
    std::vector<Vertex> m_vertices;
    bool m_closed = false;
    Spline m_spline;
    qint64 m_points = 0;
    qint64 m_drawn = 0;
    QSet<QString> m_hidden;
    struct Style {
        QString family;
        double widthFactor;
        double slant;
    };
    std::map<QString, Style> m_styles;
    TextOutliner m_text;
};

void DxfBuilder::Emitter::ellipse(const DL_EllipseData& d)
{
    const QPointF center(d.cx, d.cy), major(d.mx, d.my);
    const QPointF minor = QPointF(-major.y(), major.x()) * d.ratio;
    const double from = std::fmod(d.angle1, 2 * M_PI);
    double sweep = std::fmod(std::fmod(d.angle2, 2 * M_PI) - from, 2 * M_PI);
    if (!std::isfinite(sweep) || !std::isfinite(from))
        return;
    if (sweep <= 1e-12)
        sweep += 2 * M_PI;
    const bool closed = sweep > 2 * M_PI - 1e-9;
    const auto at = [&](double t) { return center + major * std::cos(t) + minor * std::sin(t); };
    QVector<QPointF> points { at(from) };
    appendCurve(&points, at, from, from + sweep, 16, tolerance());
    add(points, closed);
}

void DxfBuilder::Emitter::polyline(const std::vector<Vertex>& vertices, bool closed)
{
    const int count = int(vertices.size());
    if (count == 0)
        return;
    QVector<QPointF> points { vertices.front().point };
    const int segments = closed ? count : count - 1;
    for (int i = 0; i < segments; ++i) {
        const QPointF a = vertices.at(i).point, b = vertices.at((i + 1) % count).point;
        const double bulge = vertices.at(i).bulge;
        const double chord = distance(a, b);
        if (std::abs(bulge) < 1e-12 || chord <= 0 || !std::isfinite(bulge)) {
            points.append(b);
            continue;
        }
        // The bulge is the tangent of a quarter of the arc's sweep; the centre stands on the
        // chord's normal.
        const double sweep = 4 * std::atan(bulge);
        const QPointF middle = (a + b) / 2;
        const QPointF normal = QPointF(-(b - a).y(), (b - a).x()) / chord;
        const QPointF center = middle + normal * (chord / 2 / std::tan(sweep / 2));
        const double radius = distance(center, a);
        const double start = std::atan2(a.y() - center.y(), a.x() - center.x());
        if (!appendArc(&points, center, radius, start, sweep, tolerance()))
            ++m_builder->straightArcs;
        points.last() = b;
    }
    add(points, closed);
}

void DxfBuilder::Emitter::spline(const Spline& s)
{
    const int n = int(s.controls.size());
    if (n == 0) {
        add(QVector<QPointF>(s.fits.begin(), s.fits.end()), s.closed);
        return;
    }
    Spline curve = s;
    curve.degree = qBound(1, curve.degree, qMin(10, n - 1 > 0 ? n - 1 : 1));
    const int p = curve.degree;
    if (n <= p) {
        add(QVector<QPointF>(s.controls.begin(), s.controls.end()), s.closed);
        return;
    }
    bool ascending = int(curve.knots.size()) == n + p + 1;
    for (size_t i = 1; ascending && i < curve.knots.size(); ++i)
        ascending = curve.knots[i] >= curve.knots[i - 1] && std::isfinite(curve.knots[i]);
    if (!ascending) {
        // A clamped, uniform knot vector in place of a missing or broken one.
        curve.knots.assign(n + p + 1, 0);
        for (int i = 0; i <= n + p; ++i)
            curve.knots[i] = qBound(0, i - p, n - p);
    }
    const double t0 = curve.knots[p], t1 = curve.knots[n];
    if (!(t1 > t0)) {
        add(QVector<QPointF>(s.controls.begin(), s.controls.end()), s.closed);
        return;
    }
    const auto at = [&](double t) { return splinePoint(curve, qMin(t, std::nextafter(t1, t0))); };
    QVector<QPointF> points { at(t0) };
    appendCurve(&points, at, t0, t1, 4 * n, tolerance());
    points.last() = splinePoint(curve, t1 - (t1 - t0) * 1e-12);
    add(points, s.closed || distance(points.first(), points.last()) < 1e-9);
}

void DxfBuilder::Emitter::insert(const DL_InsertData& d)
{
    const QString name = QString::fromStdString(d.name);
    const auto found = m_builder->m_blocks.find(name);
    if (found == m_builder->m_blocks.end()) {
        ++m_builder->leftOut[QStringLiteral("inserts of missing blocks")];
        return;
    }
    if (m_chain.contains(name) || m_chain.size() >= maxInsertDepth) {
        m_builder->fail(QStringLiteral("block \"%1\" is inserted within itself or nested too deep")
                            .arg(name.left(60)));
        return;
    }
    const Block& block = found->second;
    const int columns = qMax(1, d.cols), rows = qMax(1, d.rows);
    if (qint64(columns) * rows > maxArrayCells) {
        m_builder->fail(QStringLiteral("an insert of block \"%1\" repeats it more than %2 times")
                            .arg(name.left(60))
                            .arg(maxArrayCells));
        return;
    }
    const QString insertLayer = layerName();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            QTransform local;
            local.translate(d.ipx, d.ipy);
            local.rotate(d.angle);
            local.translate(column * d.colSp, row * d.rowSp);
            local.scale(d.sx != 0 ? d.sx : 1, d.sy != 0 ? d.sy : 1);
            local.translate(-block.base.x(), -block.base.y());
            Emitter inner(m_builder, local * m_transform, insertLayer, m_chain + QStringList(name));
            m_builder->m_drawn += 1 + qint64(block.entities.size());
            if (m_builder->m_drawn > maxDrawnEntities)
                m_builder->fail(QStringLiteral("the drawing's blocks, inserted in each other, "
                                               "make more than %1 million entities")
                                    .arg(maxDrawnEntities / 1000000));
            for (const auto& entity : block.entities) {
                inner.setLayer(entity.first);
                entity.second(inner);
            }
        }
    }
}

bool isBinaryDxf(const QByteArray& data)
{
    return data.startsWith("AutoCAD Binary DXF");
}

// A DXF file begins with group code 0 and SECTION, perhaps after 999 comments.
bool beginsLikeDxf(const QByteArray& data)
{
    const QList<QByteArray> lines = data.left(4096).split('\n');
    int i = 0;
    while (i + 1 < lines.size() && lines.at(i).trimmed() == "999")
        i += 2;
    return i + 1 < lines.size() && lines.at(i).trimmed() == "0"
        && lines.at(i + 1).trimmed() == "SECTION";
}

bool readDxfData(
    const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    if (isBinaryDxf(data)) {
        *error = QStringLiteral("binary DXF is not supported; save the drawing as ASCII DXF");
        return false;
    }
    if (!beginsLikeDxf(data)) {
        *error = QStringLiteral("not a DXF file: it does not begin with a SECTION");
        return false;
    }
    if (!checkDeclaredCounts(data, error))
        return false;
    std::istringstream stream(data.toStdString());
    DxfBuilder builder(options, stream, data.size());
    DL_Dxf dxf;
    // Where dxflib stood when it stopped, for the error.
    const auto near = [&] {
        stream.clear();
        const qint64 at = qBound<qint64>(0, qint64(stream.tellg()), data.size());
        return QStringLiteral(" (near line %1)")
            .arg(std::count(data.constData(), data.constData() + at, '\n') + 1);
    };
    try {
        dxf.in(stream, &builder);
        builder.finish();
    } catch (const Stop&) {
        *error = builder.failure;
        if (error->startsWith(QLatin1String("the drawing"))
            || error->startsWith(QLatin1String("a polyline")))
            *error += near();
        return false;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        *error = QStringLiteral("the DXF file is damaged") + near();
        return false;
    }
    // Before AC1003 (release 2.5), a drawing's groups meant other things.
    static const QStringList tooOld { "AC1.2", "AC1.40", "AC1.50", "AC2.10", "AC1001", "AC1002" };
    if (tooOld.contains(builder.version)) {
        *error = QStringLiteral("unsupported DXF version %1: AC1003 or newer is needed")
                     .arg(builder.version);
        return false;
    }
    Drawing& result = builder.drawing;
    joinContours(&result.contours, options.joinToleranceMm, partOf(options.progress, 90, 100));
    if (builder.cancelled()) {
        *error = cancelledText();
        return false;
    }
    for (const auto& kind : builder.leftOut)
        result.warnings.append(QStringLiteral("%1 %2 left out").arg(kind.second).arg(kind.first));
    if (!finishRead(&result, options,
            QStringLiteral("the drawing holds no lines, arcs, circles, ellipses, polylines, "
                           "splines or text"),
            error))
        return false;
    *drawing = std::move(result);
    return true;
}

} // namespace

bool readDxf(const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    return guarded([&] { return readDxfData(data, drawing, error, options); }, error);
}

} // namespace ZRCut
