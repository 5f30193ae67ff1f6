#include "jobcheck.h"

#include <zrcutfile.h>

#include <charconv>
#include <cmath>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

bool JobCheck::plainExtent(const QByteArray& hpgl, QRectF* extent, bool* any)
{
    const char* p = hpgl.constData();
    const char* const end = p + hpgl.size();
    double x = 0, y = 0, minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool relative = false;
    bool down = false;
    *any = false;
    const auto reach = [&](double atX, double atY) {
        if (!*any) {
            minX = maxX = atX;
            minY = maxY = atY;
        }
        *any = true;
        minX = std::min(minX, atX);
        maxX = std::max(maxX, atX);
        minY = std::min(minY, atY);
        maxY = std::max(maxY, atY);
    };
    while (p < end) {
        if (isSpace(*p) || *p == ';') {
            ++p;
            continue;
        }
        if (end - p < 2 || !isLetter(p[0]) || !isLetter(p[1]))
            return false;
        const char a = char(p[0] & ~0x20), b = char(p[1] & ~0x20);
        p += 2;
        const bool moves = a == 'P' && (b == 'U' || b == 'D' || b == 'A' || b == 'R');
        if (a == 'I' && b == 'N') {
            x = y = 0;
            relative = down = false;
        } else if (moves) {
            relative = b == 'R' ? true : b == 'A' ? false : relative;
            down = b == 'D' ? true : b == 'U' ? false : down;
        } else if (!(a == 'S' && b == 'P')) {
            return false;
        }
        // The numbers up to the next instruction: pairs of coordinates for a move.
        double pair[2];
        int count = 0;
        while (p < end && !isLetter(*p) && *p != ';') {
            if (isSpace(*p)) {
                ++p;
                continue;
            }
            // The point is a point whatever the C library's locale says of decimals.
            const char* from = *p == '+' && p + 1 < end && p[1] != '-' ? p + 1 : p;
            double value = 0;
            const std::from_chars_result read = std::from_chars(from, end, value);
            if (read.ec != std::errc() || !std::isfinite(value))
                return false;
            p = read.ptr;
            if (!moves)
                continue;
            pair[count++] = value;
            if (count < 2)
                continue;
            count = 0;
            // A cut begins where the knife stands: at the origin, for the first.
            if (down)
                reach(x, y);
            x = relative ? x + pair[0] : pair[0];
            y = relative ? y + pair[1] : pair[1];
            reach(x, y);
        }
        if (count != 0)
            return false;
    }
    *extent = QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
    return true;
}

QString JobCheck::copies(qint64 count)
{
    return count >= 1 && count <= mostCopies
        ? QString()
        : QStringLiteral("copies are a whole number from 1 to %1").arg(mostCopies);
}

bool JobCheck::job(const QByteArray& hpgl, int copies, const QSizeF& table, QString* error)
{
    *error = JobCheck::copies(copies);
    if (!error->isEmpty() || !ZRCut::checkFrameSafe(hpgl, error))
        return false;
    if (!(table.width() > 0 && table.height() > 0)) {
        *error = QStringLiteral("the machine's table is not known: nothing is cut before it is");
        return false;
    }
    QRectF extent;
    bool any = false;
    if (plainExtent(hpgl, &extent, &any)) {
        const double per = ZRCut::hpglUnitsPerMm;
        if (!any) {
            *error = QStringLiteral("nothing to cut: the HP-GL moves the knife nowhere");
            return false;
        }
        if (extent.left() >= 0 && extent.top() >= 0 && extent.right() <= table.width() * per
            && extent.bottom() <= table.height() * per)
            return true;
        *error = QStringLiteral("the knife's path spans (%1, %2) to (%3, %4) mm, off the %5 x %6 "
                                "mm table")
                     .arg(extent.left() / per, 0, 'f', 1)
                     .arg(extent.top() / per, 0, 'f', 1)
                     .arg(extent.right() / per, 0, 'f', 1)
                     .arg(extent.bottom() / per, 0, 'f', 1)
                     .arg(table.width(), 0, 'f', 0)
                     .arg(table.height(), 0, 'f', 0);
        return false;
    }
    // Arcs, labels, scaling: as the machine draws them.
    ZRCut::Drawing drawing;
    ZRCut::CutOptions asWritten;
    asWritten.optimizeOrder = false;
    asWritten.checks.removeDuplicates = false;
    asWritten.workArea = table;
    ZRCut::CutJob planned;
    return ZRCut::readHpgl(hpgl, &drawing, error)
        && ZRCut::planCut(drawing, asWritten, &planned, error);
}
