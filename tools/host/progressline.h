#pragma once

#include "taskreport.h"

#include <QString>

#include <cstdio>

// Shows a job's progress: on a terminal as one line redrawn in place, otherwise as plain lines,
// one whenever the status or the finished copies change or the job moves on by a tenth.
class ProgressLine {
public:
    static constexpr int barWidth = 30;

    // stream is the caller's; interactive draws in place.
    ProgressLine(FILE* stream, bool interactive);

    void update(const TaskReport& report, qint64 elapsedMs);
    // Ends the line being redrawn, so that other output starts on a line of its own.
    void breakLine();

    // "[#########---------------------]  31.4 %  copy 1/2  0:03  cutting"
    static QString render(const TaskReport& report, qint64 elapsedMs);

private:
    void write(const QString& text);

    FILE* m_stream;
    bool m_interactive;
    bool m_open = false;
    int m_lastStatus = -1;
    int m_lastFinished = -1;
    int m_lastTenth = -1;
};
