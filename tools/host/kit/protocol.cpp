#include "protocol.h"

#include <QStringList>

#include <cmath>

namespace Protocol {

namespace {

// The last field arrives with whatever follows it in the frame, such as its ETX.
QString field(const QStringList& fields, int index)
{
    QString text = fields.value(index).trimmed();
    while (!text.isEmpty() && text.back().unicode() < 0x20)
        text.chop(1);
    return text;
}

qint64 number(const QStringList& fields, int index, qint64 max)
{
    bool ok = false;
    const qint64 value = field(fields, index).toLongLong(&ok);
    return ok ? qBound(qint64(0), value, max) : 0;
}

} // namespace

bool TaskReport::parse(const QString& text, TaskReport* report)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() < 9 || field(fields, 0) != QLatin1String("66"))
        return false;
    constexpr qint64 limit = qint64(1) << 40;
    report->status = int(number(fields, 1, 1000));
    report->fileName = field(fields, 2).left(256);
    report->copies = number(fields, 3, limit);
    report->finished = number(fields, 4, limit);
    bool ok = false;
    const double percent = field(fields, 5).toDouble(&ok);
    report->percent = ok && std::isfinite(percent) ? qBound(0.0, percent, 100.0) : 0.0;
    report->seconds = number(fields, 6, limit);
    return true;
}

QString TaskReport::statusText() const
{
    static const char* const names[] = { "cutting", "paused", "finished", "stopped" };
    return status >= Cutting && status <= Stopped ? QString::fromLatin1(names[status - Cutting])
                                                  : QStringLiteral("status %1").arg(status);
}

qint64 TaskReport::secondsLeft() const
{
    if (status == Finished)
        return 0;
    if (percent <= 0 || seconds <= 0)
        return -1;
    return qint64(std::llround(double(seconds) * (100.0 - percent) / percent));
}

QString clockText(qint64 seconds)
{
    return seconds < 0
        ? QStringLiteral("-:--")
        : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace Protocol
