#include "progressline.h"

#include <cmath>

ProgressLine::ProgressLine(FILE* stream, bool interactive)
    : m_stream(stream)
    , m_interactive(interactive)
{ }

QString ProgressLine::render(const TaskReport& report, qint64 elapsedMs)
{
    const double percent = qBound(0.0, report.percent, 100.0);
    const int filled = int(std::floor(percent / 100.0 * barWidth));
    const qint64 seconds = elapsedMs / 1000;
    // The copy being cut, or the last one once all are done.
    const int copy = qMin(report.finished + 1, qMax(report.copies, 1));
    return QStringLiteral("[%1%2] %3 %  copy %4/%5  %6:%7  %8")
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')))
        .arg(percent, 5, 'f', 1)
        .arg(report.status == TaskReport::Finished ? report.finished : copy)
        .arg(report.copies)
        .arg(seconds / 60)
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(report.statusText());
}

void ProgressLine::update(const TaskReport& report, qint64 elapsedMs)
{
    const QString line = render(report, elapsedMs);
    if (m_interactive) {
        // Back to the start of the line and clear what is left of the previous one.
        write(QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
        m_open = true;
        return;
    }
    const int tenth = int(report.percent / 10);
    if (report.status == m_lastStatus && report.finished == m_lastFinished && tenth == m_lastTenth)
        return;
    m_lastStatus = report.status;
    m_lastFinished = report.finished;
    m_lastTenth = tenth;
    write(line + QLatin1Char('\n'));
}

void ProgressLine::breakLine()
{
    if (!m_open)
        return;
    write(QStringLiteral("\n"));
    m_open = false;
}

void ProgressLine::write(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}
