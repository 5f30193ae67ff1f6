#pragma once

// Small drawings written out for the cut-file tests: DXF groups, SVG documents, polygons.

#include <zrcutfile.h>

#include <QLineF>
#include <QStringList>

#include <cmath>

inline ZRCut::Contour polygon(const QVector<QPointF>& points)
{
    ZRCut::Contour contour;
    contour.points = points;
    contour.closed = true;
    return contour;
}

// The distance from p to the segment from a to b.
inline double segmentDistance(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    const double t = length2 > 0 ? qBound(0.0, QPointF::dotProduct(p - a, ab) / length2, 1.0) : 0;
    const QPointF d = p - (a + ab * t);
    return std::hypot(d.x(), d.y());
}

// Whether two extents have the same corners, within a micrometre; and an extent as text.
inline bool sameExtent(const QRectF& a, const QRectF& b)
{
    return QLineF(a.topLeft(), b.topLeft()).length() < 1e-6
        && QLineF(a.bottomRight(), b.bottomRight()).length() < 1e-6;
}

inline QString extentText(const QRectF& r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

inline QByteArray dxf(const QStringList& groups)
{
    return (groups.join('\n') + '\n').toLatin1();
}

// A DXF file of sections: HEADER and TABLES when given, BLOCKS when given, and ENTITIES.
inline QByteArray dxfEntities(const QStringList& entities, const QStringList& blocks = {},
    const QStringList& header = {}, const QStringList& tables = {})
{
    QStringList groups;
    const auto section = [&](const char* name, const QStringList& body) {
        if (!body.isEmpty())
            groups << "0"
                   << "SECTION"
                   << "2" << name << body << "0"
                   << "ENDSEC";
    };
    section("HEADER", header);
    section("TABLES", tables);
    section("BLOCKS", blocks);
    groups << "0"
           << "SECTION"
           << "2"
           << "ENTITIES" << entities << "0"
           << "ENDSEC"
           << "0"
           << "EOF";
    return dxf(groups);
}

inline QByteArray svg(const QString& root, const QString& body)
{
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                          "xmlns:xlink=\"http://www.w3.org/1999/xlink\" %1>%2</svg>")
        .arg(root, body)
        .toUtf8();
}
