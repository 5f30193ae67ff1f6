#pragma once

#include <QByteArray>
#include <QString>

// What the host relies on of the machine and the device beyond the SDK's own calls, in one
// place: the device's status lines, the answers it drops, the parameters that are commands, and
// the machine's progress reports.
namespace Protocol {

inline bool isLinkUp(const QString& line)
{
    return line == QLatin1String("TCP CONNECTED.") || line == QLatin1String("USB CONNECTED.");
}

inline bool isLinkDown(const QString& line)
{
    return line == QLatin1String("TCP DISCONNECTED.") || line == QLatin1String("USB DISCONNECTED.")
        || line == QLatin1String("USB ERROR.");
}

// Answers the device never stores: cut quality (27) and task control (125).
inline bool answerIsDropped(int number)
{
    return number == 27 || number == 125;
}

// Parameters that are commands to the machine rather than settings, and the request that
// sends each; empty for a setting.
inline QString commandOf(const QByteArray& name)
{
    if (name == "MOVE_X" || name == "MOVE_Y")
        return QStringLiteral("jog");
    if (name == "TASK_PAUSE" || name == "TASK_RESUME" || name == "TASK_STOP")
        return QStringLiteral("pause, resume or stop");
    if (name == "FLAG_POINT" || name == "BACK_FLAG_POINT")
        return QStringLiteral("origin");
    return QString();
}

// A time as "1:05" (minutes and seconds), or "-:--" when below 0 (unknown).
QString clockText(qint64 seconds);

// One progress report, as the device passes it on in message(DevTasK, text):
// "66,<status>,<file>,<copies>,<finished>,<percent>,<seconds>,<x>,<y>". Numbers are held wide
// enough that no field value can overflow what is computed from them.
struct TaskReport {
    enum Status { Cutting = 1, Paused = 2, Finished = 3, Stopped = 4 };

    int status = 0;
    QString fileName;
    qint64 copies = 0;
    qint64 finished = 0;
    double percent = 0; // 0 to 100
    qint64 seconds = 0; // of cutting, as the machine counts them

    // False for a text that is not a progress report. Numbers that do not parse read as 0.
    static bool parse(const QString& text, TaskReport* report);

    bool isOver() const { return status == Finished || status == Stopped; }
    bool isRunning() const { return status == Cutting || status == Paused; }
    bool allCut() const { return copies > 0 && finished >= copies; }
    // "cutting", "paused", "finished", "stopped" or "status 7".
    QString statusText() const;
    // From the machine's own cutting time and share done; -1 while unknown.
    qint64 secondsLeft() const;
    // That time as "1:05", or "-:--" while unknown.
    QString timeLeft() const { return clockText(secondsLeft()); }
};

} // namespace Protocol

using Protocol::TaskReport;
