#pragma once

#include "protocol.h"

#include <QString>

// zrhost's output. Results go to standard output, errors to standard error with the program's
// name; notes (what is going on) are left out under --quiet and go to standard error under
// --json, so that standard output holds the JSON alone; details only under --verbose.
class Console {
public:
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool progress = true;

    void print(const QString& text);
    void line(const QString& text) { print(text + QLatin1Char('\n')); }
    void note(const QString& text);
    void detail(const QString& text);
    void error(const QString& text);

    // A job's progress: on a terminal one line redrawn in place, otherwise a line whenever the
    // status or the copies change or the job moves on by a tenth.
    void showProgress(const TaskReport& report, const QString& fileName);
    void endProgress();
    // "[#########---------------------]  31.4 %  copy 1/2  0:12 left  cutting  gasket.plt"
    static QString progressLine(const TaskReport& report, const QString& fileName);

    static bool isTerminal(int fd);

private:
    void write(bool error, const QString& text, bool redraw = false);

    bool m_open = false;
    QString m_lastShown;
};
