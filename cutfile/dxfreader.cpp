#include "geometry.h"

#include <QTransform>

#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>

#include <cmath>
#include <map>
#include <sstream>

namespace ZRCut {

namespace {

// Bounds on what a drawing may make of itself through blocks inserted in blocks.
constexpr int maxInsertDepth = 32;
constexpr qint64 maxPoints = 20 * 1000 * 1000;
constexpr int maxArrayCells = 10000;
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

class DxfBuilder : public DL_CreationAdapter {
public:
    DxfBuilder(const ReadOptions& options, std::istream& stream, qint64 size)
        : m_options(options)
        , m_stream(stream)
        , m_tracker(options.progress, size)
    { }

    Drawing drawing;
    QString failure;
    std::map<QString, int> leftOut;
    QString version;

    void finish() { flush(); }

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
        if (m_pending == Pending::Polyline && m_vertices.size() < maxVertices)
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

    void addText(const DL_TextData&) override { skip(QStringLiteral("texts")); }
    void addMText(const DL_MTextData&) override { skip(QStringLiteral("texts")); }
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

    void fail(const QString& text)
    {
        if (failure.isEmpty())
            failure = text;
    }

    void skip(const QString& kind)
    {
        flush();
        ++leftOut[kind];
    }
    void dimension() { skip(QStringLiteral("dimensions")); }

    void entity(const Entity& draw) { store(layer(), draw); }

    void store(const QString& entityLayer, const Entity& draw)
    {
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
        if (!failure.isEmpty())
            return;
        m_points += points.size();
        if (m_points > maxPoints) {
            fail(QStringLiteral("the drawing makes more than %1 million points")
                     .arg(maxPoints / 1000000));
            return;
        }
        if ((m_outputs++ & 255) == 0 && !m_tracker.step(m_stream.tellg())) {
            fail(cancelledText());
            return;
        }
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
};

void DxfBuilder::Emitter::ellipse(const DL_EllipseData& d)
{
    const QPointF center(d.cx, d.cy), major(d.mx, d.my);
    const QPointF minor = QPointF(-major.y(), major.x()) * d.ratio;
    double sweep = d.angle2 - d.angle1;
    while (sweep <= 1e-12)
        sweep += 2 * M_PI;
    sweep = qMin(sweep, 2 * M_PI);
    const bool closed = sweep > 2 * M_PI - 1e-9;
    const auto at = [&](double t) { return center + major * std::cos(t) + minor * std::sin(t); };
    QVector<QPointF> points { at(d.angle1) };
    appendCurve(&points, at, d.angle1, d.angle1 + sweep, 16, tolerance());
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
        appendArc(&points, center, radius, start, sweep, tolerance());
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

} // namespace

bool readDxf(const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    if (isBinaryDxf(data)) {
        *error = QStringLiteral("binary DXF is not supported; save the drawing as ASCII DXF");
        return false;
    }
    if (!beginsLikeDxf(data)) {
        *error = QStringLiteral("not a DXF file: it does not begin with a SECTION");
        return false;
    }
    std::istringstream stream(data.toStdString());
    DxfBuilder builder(options, stream, data.size());
    DL_Dxf dxf;
    try {
        dxf.in(stream, &builder);
    } catch (...) {
        *error = QStringLiteral("the DXF file is damaged");
        return false;
    }
    builder.finish();
    static const QStringList tooOld { "AC1.2", "AC1.40", "AC1.50", "AC2.10", "AC1001", "AC1002",
        "AC1003", "AC1004", "AC1006" };
    if (tooOld.contains(builder.version)) {
        *error = QStringLiteral("unsupported DXF version %1: R12 (AC1009) or newer is needed")
                     .arg(builder.version);
        return false;
    }
    if (!builder.failure.isEmpty()) {
        *error = builder.failure;
        return false;
    }
    Drawing& result = builder.drawing;
    for (const auto& kind : builder.leftOut)
        result.warnings.append(QStringLiteral("%1 %2 left out").arg(kind.second).arg(kind.first));
    if (result.contours.isEmpty()) {
        *error = QStringLiteral("nothing to cut: the drawing holds no lines, arcs, circles, "
                                "ellipses, polylines or splines");
        return false;
    }
    *drawing = std::move(result);
    return true;
}

} // namespace ZRCut
