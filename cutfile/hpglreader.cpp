#include "textoutline.h"

#include <algorithm>
#include <cstring>
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

// HP-GL's character cell: a letter's advance is 1.5 letter widths, a line 2 letter heights.
constexpr double cellAdvance = 1.5;
constexpr double lineAdvance = 2.0;
// The size of letters (SI, cm) and the corners P1, P2 (plotter units) a file that sets none has.
constexpr double defaultLetterWidthCm = 0.187;
constexpr double defaultLetterHeightCm = 0.269;
const QRectF defaultCorners(QPointF(250, 596), QPointF(10250, 7796));
// The longest label taken; a file that runs on without its terminator ends it here.
constexpr int maxLabel = 4096;

class HpglReader {
public:
    HpglReader(const QByteArray& data, const ReadOptions& options)
        : m_data(data)
        , m_options(options)
        , m_text(options)
    { }

    bool read(Drawing* drawing, QString* error);

private:
    void command(char a, char b, const QVector<double>& numbers);
    void moveTo(const QPointF& point);
    void lineTo(const QPointF& point);
    void arc(const QPointF& center, double sweepDeg, double chordDeg);
    // The arc's points after its start: chords of chordDeg when the file gives them (0 when it
    // does not), else within the tolerance.
    QVector<QPointF> arcPoints(
        const QPointF& center, double radius, double start, double sweep, double chordDeg) const;
    void finishContour();
    void addClosed(QVector<QPointF> points);
    bool label(const char*& p, const char* end, QString* error);
    void drawLabel(const QString& text);
    QString layer() const { return QStringLiteral("pen %1").arg(m_pen); }
    // The size of letters in mm, and the direction of the label's baseline.
    QSizeF letterSize() const;
    QPointF direction() const;
    void reset();
    // User units (SC) to plotter units, from the scaling asked for and the corners P1, P2.
    void scale();

    const QByteArray& m_data;
    const ReadOptions& m_options;
    TextOutliner m_text;
    Drawing m_drawing;
    Contour m_contour;
    QPointF m_position;
    bool m_penDown = false;
    bool m_relative = false;
    int m_pen = 1;
    qint64 m_points = 0;
    qint64 m_stray = 0;
    // The clipping window (IW), in mm; null when none.
    QRectF m_window;
    // Label state.
    char m_terminator = '\x03';
    bool m_printTerminator = false;
    QPointF m_run { 1, 0 };
    bool m_relativeDirection = false;
    QSizeF m_letterCm { defaultLetterWidthCm, defaultLetterHeightCm };
    QSizeF m_letterPercent;
    double m_slant = 0;
    int m_origin = 1;
    QRectF m_corners = defaultCorners;
    QVector<double> m_scaling; // SC's numbers; empty when off
    QTransform m_user;
};

void HpglReader::scale()
{
    m_user = QTransform();
    const QVector<double>& n = m_scaling;
    if (n.size() < 4 || std::any_of(n.begin(), n.end(), [](double v) { return std::isnan(v); }))
        return;
    const int type = n.size() > 4 ? int(n.at(4)) : 0;
    const QRectF& p = m_corners;
    if (type == 2) {
        // Point factor: plotter units per user unit.
        m_user = QTransform(n.at(1), 0, 0, n.at(3), p.left() - n.at(0) * n.at(1),
            p.top() - n.at(2) * n.at(3));
        return;
    }
    if (n.at(1) == n.at(0) || n.at(3) == n.at(2))
        return;
    double sx = p.width() / (n.at(1) - n.at(0)), sy = p.height() / (n.at(3) - n.at(2));
    QPointF shift;
    if (type == 1) {
        // Isotropic: the smaller factor both ways, the spare room split as asked (50 % each).
        const double s = qMin(std::abs(sx), std::abs(sy));
        const QSizeF spare(p.width() - s * std::abs(n.at(1) - n.at(0)),
            p.height() - s * std::abs(n.at(3) - n.at(2)));
        shift = QPointF(spare.width() * (n.size() > 5 ? n.at(5) : 50) / 100,
            spare.height() * (n.size() > 6 ? n.at(6) : 50) / 100);
        sx = std::copysign(s, sx);
        sy = std::copysign(s, sy);
    }
    m_user = QTransform(
        sx, 0, 0, sy, p.left() - n.at(0) * sx + shift.x(), p.top() - n.at(2) * sy + shift.y());
}

void HpglReader::reset()
{
    finishContour();
    m_penDown = false;
    m_relative = false;
    m_window = QRectF();
    m_terminator = '\x03';
    m_printTerminator = false;
    m_run = QPointF(1, 0);
    m_relativeDirection = false;
    m_letterCm = QSizeF(defaultLetterWidthCm, defaultLetterHeightCm);
    m_letterPercent = QSizeF();
    m_slant = 0;
    m_origin = 1;
    m_corners = defaultCorners;
    m_scaling.clear();
    m_user = QTransform();
}

void HpglReader::finishContour()
{
    if (m_points > maxDrawingPoints) {
        m_contour = Contour();
        return;
    }
    if (m_contour.points.size() > 1) {
        m_contour.closed = distance(m_contour.points.first(), m_contour.points.last()) < 1e-9;
        m_contour.layer = layer();
        m_points += m_contour.points.size();
        addContour(&m_drawing, std::move(m_contour));
    }
    m_contour = Contour();
}

void HpglReader::addClosed(QVector<QPointF> points)
{
    finishContour();
    if (m_points > maxDrawingPoints)
        return;
    m_contour.points = std::move(points);
    m_contour.closed = true;
    m_contour.layer = layer();
    m_points += m_contour.points.size();
    addContour(&m_drawing, std::move(m_contour));
    m_contour = Contour();
}

// A cut from the pen's position to point, within the clipping window.
void HpglReader::lineTo(const QPointF& point)
{
    QPointF a = m_position, b = point;
    if (!m_window.isNull()) {
        // Liang-Barsky: the part of the segment within the window, if any.
        double t0 = 0, t1 = 1;
        const QPointF d = b - a;
        const double p[] = { -d.x(), d.x(), -d.y(), d.y() };
        const double q[] = { a.x() - m_window.left(), m_window.right() - a.x(),
            a.y() - m_window.top(), m_window.bottom() - a.y() };
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0)
                    t1 = -1;
            } else if (p[i] < 0) {
                t0 = qMax(t0, q[i] / p[i]);
            } else {
                t1 = qMin(t1, q[i] / p[i]);
            }
        }
        if (t0 > t1) {
            finishContour();
            return;
        }
        if (t0 > 0)
            finishContour();
        a = m_position + d * t0;
        b = m_position + d * t1;
        if (m_contour.points.isEmpty() || m_contour.points.last() != a) {
            finishContour();
            m_contour.points.append(a);
        }
        m_contour.points.append(b);
        if (t1 < 1)
            finishContour();
        return;
    }
    if (m_contour.points.isEmpty())
        m_contour.points.append(a);
    m_contour.points.append(b);
}

void HpglReader::moveTo(const QPointF& point)
{
    if (!std::isfinite(point.x()) || !std::isfinite(point.y())) {
        ++m_drawing.droppedPoints;
        return;
    }
    if (m_penDown)
        lineTo(point);
    else
        finishContour();
    m_position = point;
}

QVector<QPointF> HpglReader::arcPoints(
    const QPointF& center, double radius, double start, double sweep, double chordDeg) const
{
    QVector<QPointF> points;
    chordDeg = std::abs(chordDeg);
    if (!(chordDeg >= 0.5 && chordDeg <= 180)
        || radius + std::abs(center.x()) + std::abs(center.y()) > maxCoordinateMm) {
        appendArc(&points, center, radius, start, sweep, m_options.toleranceMm);
        return points;
    }
    const int pieces = qMax(1, int(std::ceil(std::abs(sweep) * 180 / M_PI / chordDeg)));
    for (int i = 1; i <= pieces; ++i) {
        const double angle = start + sweep * i / pieces;
        points.append(center + QPointF(std::cos(angle), std::sin(angle)) * radius);
    }
    return points;
}

void HpglReader::arc(const QPointF& center, double sweepDeg, double chordDeg)
{
    const double radius = distance(center, m_position);
    const double start = std::atan2(m_position.y() - center.y(), m_position.x() - center.x());
    const double sweep = qBound(-360.0, sweepDeg, 360.0) * M_PI / 180;
    for (const QPointF& point : arcPoints(center, radius, start, sweep, chordDeg))
        moveTo(point);
}

QSizeF HpglReader::letterSize() const
{
    if (!m_letterPercent.isEmpty())
        return QSizeF(m_letterPercent.width() * m_corners.width(),
                   m_letterPercent.height() * m_corners.height())
            / 100 / hpglUnitsPerMm;
    return m_letterCm * 10;
}

QPointF HpglReader::direction() const
{
    QPointF run = m_run;
    if (m_relativeDirection)
        run = QPointF(run.x() * m_corners.width(), run.y() * m_corners.height());
    const double length = std::hypot(run.x(), run.y());
    return length > 0 ? run / length : QPointF(1, 0);
}

void HpglReader::drawLabel(const QString& text)
{
    ++m_drawing.textItems;
    finishContour();
    const QSizeF letter = letterSize();
    const QPointF along = direction();
    const QPointF up(-along.y(), along.x());
    const QPointF cell = along * letter.width() * cellAdvance;
    const QPointF line = -up * letter.height() * lineAdvance;
    // The label's origin (LO): where the pen stands against the first line's cells; 11 to 19
    // stand half a letter further off.
    const int origin = m_origin > 10 ? m_origin - 10 : m_origin;
    const double off = m_origin > 10 ? 0.5 : 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    const double width = (lines.first().size() * cellAdvance - 0.5) * letter.width();
    const double across[] = { -off * letter.width(), -width / 2, off * letter.width() - width };
    const double upwards[] = { -off * letter.height(), -letter.height() / 2,
        off * letter.height() - letter.height() };
    const QPointF shift = along * across[(origin - 1) / 3] + up * upwards[(origin - 1) % 3];

    const QFont font = m_text.font(QString());
    const double glyphWidth = m_text.advance(QStringLiteral("0"), font, letter.height());
    QPointF lineStart = m_position + shift;
    QPointF pen = lineStart;
    for (const QChar c : text) {
        if (c == QLatin1Char('\r')) {
            pen = lineStart;
        } else if (c == QLatin1Char('\n')) {
            lineStart += line;
            pen += line;
        } else if (c == QLatin1Char('\b')) {
            pen -= cell;
        } else if (c.isPrint()) {
            if (m_options.text == TextMode::Outline && !c.isSpace()) {
                const QPainterPath glyph = m_text.line(
                    QString(c), font, letter.height(), letter.width() / qMax(glyphWidth, 1e-9));
                const QTransform place(along.x(), along.y(), up.x() + m_slant * along.x(),
                    up.y() + m_slant * along.y(), pen.x(), pen.y());
                const int before = m_drawing.contours.size();
                m_text.add(&m_drawing, glyph, place, layer());
                for (int i = before; i < m_drawing.contours.size(); ++i)
                    m_points += m_drawing.contours.at(i).points.size();
            }
            pen += cell;
        }
    }
    // The pen ends where the next letter would go, as if the label stood at LO 1.
    m_position = pen - shift;
}

bool HpglReader::label(const char*& p, const char* end, QString* error)
{
    const char* const from = p;
    while (p < end && *p != m_terminator && p - from < maxLabel)
        ++p;
    QString text = QString::fromLatin1(from, int(p - from));
    if (p < end && *p == m_terminator) {
        if (m_printTerminator)
            text += QLatin1Char(m_terminator);
        ++p;
    }
    QString why;
    if (m_options.text == TextMode::Outline && !m_text.available(&why)) {
        *error = QStringLiteral("line %1: a text label (LB): %2").arg(lineAt(m_data, from - m_data.constData())).arg(why);
        return false;
    }
    drawLabel(text);
    return true;
}

void HpglReader::command(char a, char b, const QVector<double>& numbers)
{
    // Arcs, circles and rectangles with a damaged number are left out whole; a move drops the
    // damaged point only.
    const bool damaged
        = std::any_of(numbers.begin(), numbers.end(), [](double n) { return std::isnan(n); });
    if (damaged && (a == 'C' || a == 'A' || a == 'E'))
        return;
    // A point in user units, and a step from the pen (PR, AR, ER) in them.
    const auto point = [&](int i) {
        return m_user.map(QPointF(numbers.at(i), numbers.at(i + 1))) / hpglUnitsPerMm;
    };
    const auto step = [&](int i) { return point(i) - m_user.map(QPointF()) / hpglUnitsPerMm; };
    const int pairs = numbers.size() / 2;
    const auto usable = [&](int count) { return numbers.size() >= count && !damaged; };
    if ((a == 'I' && b == 'N') || (a == 'D' && b == 'F')) {
        reset();
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
            moveTo(m_relative ? m_position + step(2 * i) : point(2 * i));
    } else if (a == 'C' && b == 'I' && !numbers.isEmpty()) {
        const double radius = std::abs(numbers.first() * m_user.m11()) / hpglUnitsPerMm;
        const QPointF center = m_position;
        QVector<QPointF> points { center + QPointF(radius, 0) };
        points += arcPoints(center, radius, 0, 2 * M_PI, numbers.value(1));
        addClosed(points);
        if (m_penDown)
            m_contour.points.append(center);
    } else if (a == 'A' && (b == 'A' || b == 'R') && numbers.size() >= 3) {
        const QPointF center = b == 'A' ? point(0) : m_position + step(0);
        arc(center, numbers.at(2), numbers.value(3));
    } else if (a == 'E' && b == 'W' && numbers.size() >= 3) {
        // A wedge's edge: from the centre out, round the arc and back, or a whole circle.
        const double radius = std::abs(numbers.at(0) * m_user.m11()) / hpglUnitsPerMm;
        const double start = (numbers.at(0) < 0 ? 180 : 0) + numbers.at(1);
        const double sweep = qBound(-360.0, numbers.at(2), 360.0);
        const QPointF center = m_position;
        const QPointF first
            = center + QPointF(std::cos(start * M_PI / 180), std::sin(start * M_PI / 180)) * radius;
        QVector<QPointF> points;
        if (std::abs(sweep) < 360)
            points.append(center);
        points.append(first);
        points += arcPoints(center, radius, start * M_PI / 180, sweep * M_PI / 180, numbers.value(3));
        addClosed(points);
        if (m_penDown)
            m_contour.points.append(center);
    } else if (a == 'E' && (b == 'A' || b == 'R') && pairs >= 1) {
        const QPointF corner = b == 'A' ? point(0) : m_position + step(0);
        const QPointF start = m_position;
        addClosed(
            { start, QPointF(corner.x(), start.y()), corner, QPointF(start.x(), corner.y()) });
        if (m_penDown)
            m_contour.points.append(start);
    } else if (a == 'I' && b == 'W') {
        finishContour();
        m_window = usable(4) ? QRectF(point(0), point(2)).normalized() : QRectF();
    } else if (a == 'I' && b == 'P' && usable(4)) {
        m_corners = QRectF(QPointF(numbers.at(0), numbers.at(1)),
            QPointF(numbers.at(2), numbers.at(3)));
        scale();
    } else if (a == 'S' && b == 'C') {
        m_scaling = numbers.mid(0, 7);
        scale();
    } else if (a == 'D' && (b == 'I' || b == 'R')) {
        m_relativeDirection = b == 'R';
        m_run = usable(2) && (numbers.at(0) != 0 || numbers.at(1) != 0)
            ? QPointF(numbers.at(0), numbers.at(1))
            : QPointF(1, 0);
    } else if (a == 'S' && (b == 'I' || b == 'R')) {
        const QSizeF size = usable(2) ? QSizeF(numbers.at(0), numbers.at(1)) : QSizeF();
        const bool sane = size.width() > 0 && size.height() > 0 && size.width() < 1000
            && size.height() < 1000;
        if (b == 'I') {
            m_letterPercent = QSizeF();
            m_letterCm = sane ? size : QSizeF(defaultLetterWidthCm, defaultLetterHeightCm);
        } else {
            m_letterPercent = sane ? size : QSizeF(0.75, 1.5);
        }
    } else if (a == 'S' && b == 'L') {
        m_slant = usable(1) ? qBound(-100.0, numbers.first(), 100.0) : 0;
    } else if (a == 'L' && b == 'O') {
        const int origin = usable(1) ? int(numbers.first()) : 1;
        m_origin = (origin >= 1 && origin <= 9) || (origin >= 11 && origin <= 19) ? origin : 1;
    } else if (a == 'C' && b == 'P') {
        // Pen up, by letter cells and lines; without numbers, to the start of the next line.
        finishContour();
        const QSizeF letter = letterSize();
        const QPointF along = direction();
        const QPointF up(-along.y(), along.x());
        if (usable(2)) {
            m_position += along * numbers.at(0) * letter.width() * cellAdvance
                + up * numbers.at(1) * letter.height() * lineAdvance;
        } else {
            m_position -= up * letter.height() * lineAdvance;
        }
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
        if (p >= nextCheck || m_points > maxDrawingPoints) {
            if (!tracker.step(p - begin))
                return fail(cancelledText());
            if (m_points + m_contour.points.size() > maxDrawingPoints)
                return fail(QStringLiteral("line %1: the drawing makes more than %2 million points")
                                .arg(lineAt(m_data, p - begin))
                                .arg(maxDrawingPoints / 1000000));
            nextCheck = p + checkEveryBytes;
        }
        if (*p == '\x1b') {
            // An escape sequence of the plotter or the printer around it: ESC . and one letter
            // with parameters up to ':', or ESC and anything up to a letter.
            const char* const from = p++;
            if (p < end && *p == '.') {
                p += 2;
                const char* colon = static_cast<const char*>(memchr(p, ':', size_t(qMax<qint64>(0, qMin<qint64>(end - p, 32)))));
                if (colon && std::all_of(p, colon, [](char c) { return isDigit(c) || c == ';'; }))
                    p = colon + 1;
            } else {
                while (p < end && !isLetter(*p))
                    ++p;
                ++p;
            }
            p = qMin(p, end);
            m_stray += p - from;
            continue;
        }
        if (*p == '@' && end - p >= 4 && qstrncmp(p, "@PJL", 4) == 0) {
            const char* const from = p;
            while (p < end && *p != '\n')
                ++p;
            m_stray += p - from;
            continue;
        }
        if (!isLetter(*p) || p + 1 >= end || !isLetter(p[1])) {
            const char c = *p;
            if (!(c == ';' || c == ',' || c == ' ' || c == '\r' || c == '\n' || c == '\t'))
                ++m_stray;
            ++p;
            continue;
        }
        const char* const at = p;
        const char a = upper(p[0]), b = upper(p[1]);
        p += 2;
        if (a == 'L' && b == 'B') {
            if (!label(p, end, error))
                return false;
            continue;
        }
        if (a == 'D' && b == 'T') {
            // The label terminator: the one byte that follows, if any; mode 0 prints it.
            if (p < end && *p != ';' && *p != '\n') {
                m_terminator = *p++;
                const char* const from = p;
                double mode = 1;
                if (p < end && *p == ',')
                    ++p;
                if (p > from && readNumber(p, end, &mode))
                    m_printTerminator = mode == 0;
                else
                    m_printTerminator = false;
            } else {
                m_terminator = '\x03';
                m_printTerminator = false;
            }
            continue;
        }
        // Encoded polylines would read as a jumble of other commands.
        if (a == 'P' && b == 'E') {
            return fail(QStringLiteral("line %1: encoded polylines (PE) are not supported; export "
                                       "plain PU and PD moves")
                            .arg(lineAt(m_data, at - begin)));
        }

        // Parameters run to the next letter, ';' or line break.
        numbers.clear();
        while (p < end && !isLetter(*p) && *p != ';' && *p != '\n' && *p != '\x1b') {
            double value;
            if (readNumber(p, end, &value)) {
                numbers.append(std::abs(value) <= maxUnits ? value : qQNaN());
                continue;
            }
            ++p;
        }
        command(a, b, numbers);
    }
    finishContour();
    if (m_points > maxDrawingPoints)
        return fail(QStringLiteral("the drawing makes more than %1 million points")
                        .arg(maxDrawingPoints / 1000000));
    if (m_stray > 0)
        m_drawing.warnings.append(
            QStringLiteral("%1 bytes outside instructions skipped").arg(m_stray));
    m_drawing.warnings += m_text.notes();
    if (!finishRead(&m_drawing, m_options, QStringLiteral("no pen-down move"), error))
        return false;
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
    return guarded([&] { return HpglReader(data, options).read(drawing, error); }, error);
}

} // namespace ZRCut
