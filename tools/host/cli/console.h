#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <termios.h>

class QSocketNotifier;

// zrhost's terminal: what it writes, how it waits, and the keys it takes during a job.

// Results go to standard output, errors to standard error with the program's name; notes (what
// is going on) are left out under --quiet and go to standard error under --json, so that
// standard output holds the JSON alone; details only under --verbose.
class Console {
public:
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool progress = true;

    void print(const QString& text) { write(false, text); }
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

// Rows in aligned columns, each line ending in '\n'; a row of one cell is a line of its own (a
// section title). Widths are counted in terminal cells: CJK and other wide characters take two,
// combining marks none, so Chinese and Japanese labels line up with Latin ones. Cells of column
// `elided` longer than `width` cells are cut, with "…" at the end.
QString columns(const QList<QStringList>& rows, int elided = -1, int width = 0);

// The command line's one way to wait: it runs the event loop until done() holds, the time runs
// out (timeoutMs < 0: no limit) or Ctrl-C (SIGINT or SIGTERM) arrives. With onInterrupt the
// interrupt is handed to it (with its count, 1 for the first) and the wait goes on.
namespace Wait {

enum End { Done, TimedOut, Interrupted };

End until(const std::function<bool()>& done, int timeoutMs = -1,
    const std::function<void(int count)>& onInterrupt = {});
// Interrupts seen so far.
int interrupts();

} // namespace Wait

// Key presses on the terminal the program was started from, while a job runs: the terminal stops
// waiting for Enter and stops echoing, and each of the given keys goes to pressed. Anything else
// is typing meant for what comes after the job: it is put back on the terminal's input and keys
// are off from then on, so nothing of it is lost. Ctrl-C still interrupts. The terminal gets its
// settings back when the object goes. Nothing happens when standard input is not a terminal.
class TerminalKeys {
public:
    TerminalKeys(const QByteArray& keys, const std::function<void(char)>& pressed);
    ~TerminalKeys();

private:
    void read();
    void release();

    QByteArray m_keys;
    std::function<void(char)> m_pressed;
    std::unique_ptr<QSocketNotifier> m_notifier;
    termios m_saved {};
};
