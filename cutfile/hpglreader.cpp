#include "geometry.h"

#include <algorithm>
#include <cmath>

namespace ZRCut {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Reads one number at p: an optional sign, digits, an optional fraction. Leaves p after it and
// returns false, with p unmoved, when no digit is there.
bool readNumber(const char*& p, const char* end, double* value)
{
    const char* q = p;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
    }
    double number = 0;
    bool digits = false;
    while (q < end && isDigit(*q)) {
        number = number * 10 + (*q - '0');
        digits = true;
        ++q;
    }
    if (q < end && *q == '.') {
        ++q;
        double scale = 0.1;
        while (q < end && isDigit(*q)) {
            number += (*q - '0') * scale;
            scale /= 10;
            digits = true;
            ++q;
        }
    }
    if (!digits)
        return false;
    p = q;
    *value = negative ? -number : number;
    return true;
}

// Coordinates beyond this (25 km) are damage, not drawing; they would swamp every length.
constexpr double maxUnits = 1e9;
constexpr qint64 checkEveryBytes = 1 << 18;

bool isFrameByte(char c)
{
    return c == '\x02' || c == '\x03';
}

int lineAt(const QByteArray& data, qint64 offset)
{
    return int(std::count(data.constData(), data.constData() + offset, '\n')) + 1;
}

QString frameByteText(const QByteArray& data, qint64 offset)
{
    return QStringLiteral("byte 0x%1 at offset %2 (line %3) cannot be sent to the machine")
        .arg(int(data.at(int(offset))), 2, 16, QLatin1Char('0'))
        .arg(offset)
        .arg(lineAt(data, offset));
}

class HpglReader {
public:
    HpglReader(const QByteArray& data, const ReadOptions& options)
        : m_data(data)
        , m_options(options)
    { }

    bool read(Drawing* drawing, QString* error);

private:
    void command(char a, char b, const QVector<double>& numbers);
    void moveTo(const QPointF& point);
    void arc(const QPointF& center, double sweepDeg);
    void finishContour();
    QString layer() const { return QStringLiteral("pen %1").arg(m_pen); }

    const QByteArray& m_data;
    const ReadOptions& m_options;
    Drawing m_drawing;
    Contour m_contour;
    QPointF m_position;
    bool m_penDown = false;
    bool m_relative = false;
    int m_pen = 1;
};

void HpglReader::finishContour()
{
    if (m_contour.points.size() > 1) {
        m_contour.closed = distance(m_contour.points.first(), m_contour.points.last()) < 1e-9;
        m_contour.layer = layer();
        addContour(&m_drawing, std::move(m_contour));
    }
    m_contour = Contour();
}

void HpglReader::moveTo(const QPointF& point)
{
    if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
        return;
    if (m_penDown) {
        if (m_contour.points.isEmpty())
            m_contour.points.append(m_position);
        m_contour.points.append(point);
    } else {
        finishContour();
    }
    m_position = point;
}

void HpglReader::arc(const QPointF& center, double sweepDeg)
{
    const double radius = distance(center, m_position);
    const double start = std::atan2(m_position.y() - center.y(), m_position.x() - center.x());
    const double sweep = qBound(-360.0, sweepDeg, 360.0) * M_PI / 180;
    QVector<QPointF> points;
    appendArc(&points, center, radius, start, sweep, m_options.toleranceMm);
    for (const QPointF& point : qAsConst(points))
        moveTo(point);
}

void HpglReader::command(char a, char b, const QVector<double>& numbers)
{
    // Arcs, circles and rectangles with a damaged number are left out whole; a move drops the
    // damaged point only.
    const bool damaged
        = std::any_of(numbers.begin(), numbers.end(), [](double n) { return std::isnan(n); });
    if (damaged && (a == 'C' || a == 'A' || a == 'E'))
        return;
    const auto point
        = [&](int i) { return QPointF(numbers.at(i), numbers.at(i + 1)) / hpglUnitsPerMm; };
    const int pairs = numbers.size() / 2;
    if ((a == 'I' && b == 'N') || (a == 'D' && b == 'F')) {
        finishContour();
        m_penDown = false;
        m_relative = false;
    } else if (a == 'S' && b == 'P') {
        finishContour();
        m_pen = numbers.isEmpty() || std::isnan(numbers.first()) ? 0 : int(numbers.first());
    } else if (a == 'P' && (b == 'U' || b == 'D' || b == 'A' || b == 'R')) {
        if (b == 'U') {
            m_penDown = false;
            finishContour();
        } else if (b == 'D') {
            m_penDown = true;
        } else {
            m_relative = b == 'R';
        }
        for (int i = 0; i < pairs; ++i)
            moveTo(m_relative ? m_position + point(2 * i) : point(2 * i));
    } else if (a == 'C' && b == 'I' && !numbers.isEmpty()) {
        const double radius = std::abs(numbers.first()) / hpglUnitsPerMm;
        const QPointF center = m_position;
        finishContour();
        m_contour.points.append(center + QPointF(radius, 0));
        appendArc(&m_contour.points, center, radius, 0, 2 * M_PI, m_options.toleranceMm);
        finishContour();
        if (m_penDown)
            m_contour.points.append(center);
    } else if (a == 'A' && (b == 'A' || b == 'R') && numbers.size() >= 3) {
        const QPointF center = b == 'A' ? point(0) : m_position + point(0);
        arc(center, numbers.at(2));
    } else if (a == 'E' && (b == 'A' || b == 'R') && pairs >= 1) {
        const QPointF corner = b == 'A' ? point(0) : m_position + point(0);
        const QPointF start = m_position;
        finishContour();
        m_contour.points
            = { start, QPointF(corner.x(), start.y()), corner, QPointF(start.x(), corner.y()) };
        m_contour.closed = true;
        m_contour.layer = layer();
        addContour(&m_drawing, std::move(m_contour));
        m_contour = Contour();
        if (m_penDown)
            m_contour.points.append(start);
    }
}

bool HpglReader::read(Drawing* drawing, QString* error)
{
    ProgressTracker tracker(m_options.progress, m_data.size());
    const char* const begin = m_data.constData();
    const char* const end = begin + m_data.size();
    const char* p = begin;
    const char* nextCheck = p;
    QVector<double> numbers;
    const auto fail = [&](const QString& text) {
        *error = text;
        return false;
    };

    while (p < end) {
        if (p >= nextCheck) {
            if (!tracker.step(p - begin))
                return fail(cancelledText());
            nextCheck = p + checkEveryBytes;
        }
        if (!isLetter(*p) || p + 1 >= end || !isLetter(p[1])) {
            if (isFrameByte(*p))
                return fail(frameByteText(m_data, p - begin));
            ++p;
            continue;
        }
        const char* const at = p;
        const char a = upper(p[0]), b = upper(p[1]);
        p += 2;
        if (a == 'L' && b == 'B') {
            return fail(QStringLiteral("line %1: a text label (LB) cannot be cut; turn the text "
                                       "into outlines in the drawing program")
                            .arg(lineAt(m_data, at - begin)));
        }
        // Encoded polylines would read as a jumble of other commands.
        if (a == 'P' && b == 'E') {
            return fail(QStringLiteral("line %1: encoded polylines (PE) are not supported; export "
                                       "plain PU and PD moves")
                            .arg(lineAt(m_data, at - begin)));
        }

        // Parameters run to the next letter, ';' or line break.
        numbers.clear();
        while (p < end && !isLetter(*p) && *p != ';' && *p != '\n') {
            double value;
            if (readNumber(p, end, &value)) {
                numbers.append(std::abs(value) <= maxUnits ? value : qQNaN());
                continue;
            }
            if (isFrameByte(*p))
                return fail(frameByteText(m_data, p - begin));
            ++p;
        }
        if (a == 'S' && b == 'C' && !numbers.isEmpty()) {
            return fail(QStringLiteral("line %1: user scaling (SC) is not supported; export the "
                                       "drawing in plotter units")
                            .arg(lineAt(m_data, at - begin)));
        }
        command(a, b, numbers);
    }
    finishContour();
    if (m_drawing.contours.isEmpty())
        return fail(QStringLiteral("nothing to cut: no pen-down move"));
    tracker.step(m_data.size());
    *drawing = std::move(m_drawing);
    return true;
}

} // namespace

bool checkFrameSafe(const QByteArray& data, QString* error)
{
    for (int i = 0; i < data.size(); ++i) {
        if (isFrameByte(data.at(i))) {
            *error = frameByteText(data, i);
            return false;
        }
    }
    return true;
}

bool readHpgl(const QByteArray& data, Drawing* drawing, QString* error, const ReadOptions& options)
{
    return HpglReader(data, options).read(drawing, error);
}

} // namespace ZRCut
