#pragma once

// Text as the knife cuts it: the outlines of its letters from Qt's font engine, in millimetres,
// y upwards. The readers share it for SVG's, DXF's and HP-GL's text.

#include "geometry.h"

#include <QFont>
#include <QPainterPath>
#include <QSet>
#include <QTransform>

namespace ZRCut {

class TextOutliner {
public:
    explicit TextOutliner(const ReadOptions& options);

    // Whether text can be drawn here (fonts need a QGuiApplication); false with the reason.
    bool available(QString* why) const;

    // The font to draw family in: itself when this computer has it, else the fallback, and the
    // stand-in is noted once. An empty family is the fallback, noted as such.
    QFont font(const QString& family);
    // One line of text, its baseline from (0, 0) along +x, scaled so that capital letters stand
    // capHeight high; widthFactor stretches it along the line.
    QPainterPath line(
        const QString& text, const QFont& font, double capHeight, double widthFactor = 1) const;
    // The width of a line as line() draws it.
    double advance(
        const QString& text, const QFont& font, double capHeight, double widthFactor = 1) const;
    // Adds the path's outlines to the drawing through transform, in chords within tolerance.
    void add(Drawing* drawing, const QPainterPath& path, const QTransform& transform,
        const QString& layer) const;

    // The stand-ins found, for the drawing's warnings.
    QStringList notes() const { return m_notes; }

private:
    const ReadOptions& m_options;
    QSet<QString> m_noted;
    QStringList m_notes;
};

// DXF's MTEXT with its formatting taken out: paragraphs become lines, groups and codes go.
QStringList plainLines(const QString& text);

// Lines of text set against an anchor at (0, 0): hAlign 0 left, 1 centre, 2 right; vAlign 0 the
// first line's baseline, 1 the last line's bottom, 2 the middle, 3 the first line's top.
struct TextBlock {
    QStringList lines;
    double capHeight = 2.5;
    double lineSpacing = 0; // baseline to baseline; 0 for 5/3 of capHeight
    double widthFactor = 1;
    double slant = 0; // tangent of the letters' lean
    int hAlign = 0;
    int vAlign = 0;
};

// The outline of a block of text in font, in the block's frame (y upwards).
QPainterPath textBlock(const TextOutliner& text, const TextBlock& block, const QFont& font);

// Adds the contours of a QPainterPath (move, line and cubic elements) mapped by transform;
// filled closes every subpath.
void addPath(Drawing* drawing, const QPainterPath& path, const QTransform& transform,
    const QString& layer, double tolerance, bool filled);

} // namespace ZRCut
