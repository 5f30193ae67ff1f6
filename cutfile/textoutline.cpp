#include "textoutline.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>

namespace ZRCut {

namespace {

// Glyphs are drawn this large (pixels) and scaled down: small sizes would round their outlines.
constexpr int drawnPixels = 200;

} // namespace

TextOutliner::TextOutliner(const ReadOptions& options)
    : m_options(options)
{ }

bool TextOutliner::available(QString* why) const
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return true;
    *why = QStringLiteral("the drawing holds text, and outlining it needs Qt's fonts, which a "
                          "program without a QGuiApplication lacks (on a machine without a "
                          "display, run it on the \"offscreen\" platform), or leave the text out");
    return false;
}

QFont TextOutliner::font(const QString& family)
{
    QFont chosen(family.isEmpty() ? m_options.fallbackFont : family);
    chosen.setPixelSize(drawnPixels);
    const QString found = QFontInfo(chosen).family();
    if (!family.isEmpty() && found.compare(family, Qt::CaseInsensitive) == 0)
        return chosen;
    chosen.setFamily(m_options.fallbackFont);
    const QString drawnIn = QFontInfo(chosen).family();
    if (!m_noted.contains(family)) {
        m_noted.insert(family);
        m_notes.append(family.isEmpty()
                ? QStringLiteral("text without a font of its own drawn in %1").arg(drawnIn)
                : QStringLiteral("font \"%1\" is not on this computer: drawn in %2")
                      .arg(family.left(60), drawnIn));
    }
    return chosen;
}

QPainterPath TextOutliner::line(
    const QString& text, const QFont& font, double capHeight, double widthFactor) const
{
    QPainterPath path;
    path.addText(QPointF(0, 0), font, text);
    const double scale = capHeight / QFontMetricsF(font).capHeight();
    // Qt's y runs downwards.
    return QTransform::fromScale(scale * widthFactor, -scale).map(path);
}

double TextOutliner::advance(
    const QString& text, const QFont& font, double capHeight, double widthFactor) const
{
    const QFontMetricsF metrics(font);
    return metrics.horizontalAdvance(text) * capHeight / metrics.capHeight() * widthFactor;
}

void TextOutliner::add(Drawing* drawing, const QPainterPath& path, const QTransform& transform,
    const QString& layer) const
{
    addPath(drawing, path, transform, layer, m_options.toleranceMm, true);
}

QPainterPath textBlock(const TextOutliner& text, const TextBlock& block, const QFont& font)
{
    const double spacing = block.lineSpacing > 0 ? block.lineSpacing : block.capHeight * 5 / 3;
    const double total = block.capHeight + spacing * (block.lines.size() - 1);
    const double shift[]
        = { 0, total - block.capHeight, total / 2 - block.capHeight, -block.capHeight };
    QPainterPath all;
    for (int i = 0; i < block.lines.size(); ++i) {
        const QString& line = block.lines.at(i);
        const double width = text.advance(line, font, block.capHeight, block.widthFactor);
        const QPointF at(
            -width * block.hAlign / 2, shift[qBound(0, block.vAlign, 3)] - i * spacing);
        all.addPath(QTransform(1, 0, block.slant, 1, at.x(), at.y())
                        .map(text.line(line, font, block.capHeight, block.widthFactor)));
    }
    return all;
}

void addPath(Drawing* drawing, const QPainterPath& path, const QTransform& transform,
    const QString& layer, double tolerance, bool filled)
{
    QVector<QPointF> points;
    const auto finish = [&]() {
        if (points.size() > 1) {
            Contour contour;
            contour.closed = points.first() == points.last() || filled;
            contour.points = std::move(points);
            contour.layer = layer;
            addContour(drawing, std::move(contour));
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

QStringList plainLines(const QString& text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('{') || c == QLatin1Char('}'))
            continue;
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar code = text.at(++i);
        if (code == QLatin1Char('P') || code == QLatin1Char('X')) {
            out += QLatin1Char('\n');
        } else if (code == QLatin1Char('~')) {
            out += QLatin1Char(' ');
        } else if (code == QLatin1Char('\\') || code == QLatin1Char('{')
            || code == QLatin1Char('}')) {
            out += code;
        } else if (QStringLiteral("fFHWQTACpS").contains(code)) {
            // Codes with a value up to ';' (\S stacks: 1^2 reads as 1/2).
            const int semicolon = text.indexOf(QLatin1Char(';'), i);
            if (code == QLatin1Char('S') && semicolon > i)
                out += text.mid(i + 1, semicolon - i - 1)
                           .replace(QLatin1Char('^'), QLatin1Char('/'));
            i = semicolon < 0 ? text.size() : semicolon;
        }
        // \L, \l, \O, \o, \K, \k: underline and the like, nothing to cut.
    }
    return out.split(QLatin1Char('\n'));
}

} // namespace ZRCut
