#include "columntable.h"

#include <QChar>
#include <QVector>

namespace {

constexpr int gap = 2;

// Terminal cells taken by one code point: two for the East Asian wide and full-width ranges,
// none for combining marks and format characters.
int cellsOf(uint code)
{
    const QChar::Category category = QChar::category(code);
    if (code == 0 || category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing
        || category == QChar::Other_Format)
        return 0;
    // clang-format off
    static const uint wide[][2] = {
        { 0x1100, 0x115F }, { 0x2E80, 0x303E }, { 0x3041, 0x33FF }, { 0x3400, 0x4DBF },
        { 0x4E00, 0x9FFF }, { 0xA000, 0xA4CF }, { 0xAC00, 0xD7A3 }, { 0xF900, 0xFAFF },
        { 0xFE30, 0xFE4F }, { 0xFF00, 0xFF60 }, { 0xFFE0, 0xFFE6 }, { 0x1F300, 0x1F64F },
        { 0x1F900, 0x1F9FF }, { 0x20000, 0x3FFFD },
    };
    // clang-format on
    for (const auto& range : wide) {
        if (code >= range[0] && code <= range[1])
            return 2;
    }
    return 1;
}

} // namespace

ColumnTable::ColumnTable(const QStringList& header)
{
    if (!header.isEmpty())
        addRow(header);
}

void ColumnTable::addRow(const QStringList& cells)
{
    m_lines.append({ cells, false });
    m_columns = qMax(m_columns, cells.size());
}

void ColumnTable::addLine(const QString& line)
{
    m_lines.append({ QStringList { line }, true });
}

void ColumnTable::setMaxWidth(int column, int width)
{
    if (m_maxWidths.size() <= column)
        m_maxWidths.resize(column + 1);
    m_maxWidths[column] = width;
}

int ColumnTable::displayWidth(const QString& text)
{
    int width = 0;
    const QVector<uint> codes = text.toUcs4();
    for (uint code : codes)
        width += cellsOf(code);
    return width;
}

QString ColumnTable::elide(const QString& text, int width)
{
    if (width <= 0 || displayWidth(text) <= width)
        return text;
    QString result;
    int used = 0;
    const QVector<uint> codes = text.toUcs4();
    for (uint code : codes) {
        const int cells = cellsOf(code);
        if (used + cells > width - 1)
            break;
        result += QString::fromUcs4(&code, 1);
        used += cells;
    }
    return result + QChar(0x2026);
}

QString ColumnTable::padded(const QString& text, int width)
{
    const int missing = width - displayWidth(text);
    return missing > 0 ? text + QString(missing, QLatin1Char(' ')) : text;
}

QString ColumnTable::render() const
{
    QVector<int> widths(m_columns, 0);
    QVector<Line> lines = m_lines;
    for (Line& line : lines) {
        if (line.spanning)
            continue;
        for (int column = 0; column < line.cells.size(); ++column) {
            if (column < m_maxWidths.size())
                line.cells[column] = elide(line.cells[column], m_maxWidths[column]);
            widths[column] = qMax(widths[column], displayWidth(line.cells[column]));
        }
    }

    QString text;
    for (const Line& line : qAsConst(lines)) {
        if (line.spanning) {
            text += line.cells.first() + QLatin1Char('\n');
            continue;
        }
        QString row;
        for (int column = 0; column < line.cells.size(); ++column) {
            const bool last = column == line.cells.size() - 1;
            row += last ? line.cells[column] : padded(line.cells[column], widths[column] + gap);
        }
        // Trailing blanks of empty last cells serve nobody.
        while (row.endsWith(QLatin1Char(' ')))
            row.chop(1);
        text += row + QLatin1Char('\n');
    }
    return text;
}
