#include "taskreport.h"

#include <QStringList>

#include <cmath>

namespace {

// The last field arrives with whatever follows it in the frame, such as its ETX.
QString field(const QStringList& fields, int index)
{
    QString text = fields.value(index).trimmed();
    while (!text.isEmpty() && text.back().unicode() < 0x20)
        text.chop(1);
    return text;
}

int integer(const QStringList& fields, int index)
{
    bool ok = false;
    const int number = field(fields, index).toInt(&ok);
    return ok ? number : 0;
}

} // namespace

bool TaskReport::parse(const QString& text, TaskReport* report)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() < 9 || field(fields, 0) != QLatin1String("66"))
        return false;
    report->status = integer(fields, 1);
    report->fileName = field(fields, 2);
    report->copies = integer(fields, 3);
    report->finished = integer(fields, 4);
    bool ok = false;
    const double percent = field(fields, 5).toDouble(&ok);
    report->percent = ok && std::isfinite(percent) ? qBound(0.0, percent, 100.0) : 0.0;
    report->seconds = integer(fields, 6);
    return true;
}

QString TaskReport::statusText() const
{
    switch (status) {
    case Cutting:
        return QStringLiteral("cutting");
    case Paused:
        return QStringLiteral("paused");
    case Finished:
        return QStringLiteral("finished");
    case Stopped:
        return QStringLiteral("stopped");
    default:
        return QStringLiteral("status %1").arg(status);
    }
}
