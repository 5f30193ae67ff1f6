#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Rows of text laid out in aligned columns for a terminal. Widths are counted in terminal cells:
// CJK and other wide characters take two, combining marks none, so Chinese and Japanese labels
// line up with Latin ones.
class ColumnTable {
public:
    explicit ColumnTable(const QStringList& header = QStringList());

    void addRow(const QStringList& cells);
    // A line of its own, such as a section title, that does not take part in the columns.
    void addLine(const QString& line);
    bool isEmpty() const { return m_lines.isEmpty(); }
    // Cells of this column longer than width cells are cut, with "…" at the end.
    void setMaxWidth(int column, int width);

    // The table, each line ending in '\n'; the last column is not padded.
    QString render() const;

    static int displayWidth(const QString& text);
    static QString elide(const QString& text, int width);
    static QString padded(const QString& text, int width);

private:
    struct Line {
        QStringList cells;
        bool spanning = false;
    };
    QVector<Line> m_lines;
    QVector<int> m_maxWidths;
    int m_columns = 0;
};
