#include "console.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int barWidth = 30;

QString clock(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

bool Console::isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

void Console::write(bool error, const QString& text, bool redraw)
{
    if (!redraw)
        endProgress();
    const QByteArray bytes = text.toLocal8Bit();
    FILE* stream = error ? stderr : stdout;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void Console::print(const QString& text)
{
    write(false, text);
}

void Console::note(const QString& text)
{
    if (!quiet)
        write(json, text + QLatin1Char('\n'));
}

void Console::detail(const QString& text)
{
    if (verbose)
        write(true, text + QLatin1Char('\n'));
}

void Console::error(const QString& text)
{
    write(true, QStringLiteral("zrhost: %1\n").arg(text));
}

QString Console::progressLine(const TaskReport& report, const QString& fileName)
{
    const int filled = int(std::floor(report.percent / 100.0 * barWidth));
    // The copy being cut, or the last one once all are done.
    const qint64 copy = qMin(report.finished + (report.status == TaskReport::Finished ? 0 : 1),
        qMax(report.copies, qint64(1)));
    const qint64 left = report.secondsLeft();
    return QStringLiteral("[%1%2] %3 %  copy %4/%5  %6  %7  %8")
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')),
            QStringLiteral("%1").arg(report.percent, 5, 'f', 1), QString::number(copy),
            QString::number(report.copies),
            left < 0 ? QStringLiteral("-:-- left") : clock(left) + QStringLiteral(" left"),
            report.statusText(), fileName);
}

void Console::showProgress(const TaskReport& report, const QString& fileName)
{
    if (!progress || quiet)
        return;
    const QString text = progressLine(report, fileName);
    if (isTerminal(STDOUT_FILENO)) {
        write(false, QStringLiteral("\r") + text + QStringLiteral("\x1b[K"), true);
        m_open = true;
        return;
    }
    const QString key = QStringLiteral("%1/%2/%3")
                            .arg(report.status)
                            .arg(report.finished)
                            .arg(int(report.percent / 10));
    if (key == m_lastShown)
        return;
    m_lastShown = key;
    write(false, text + QLatin1Char('\n'));
}

void Console::endProgress()
{
    if (!m_open)
        return;
    m_open = false;
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
