#pragma once

#include "session.h"

#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

class QJsonValue;
class QMessageLogContext;

// zrhost's terminal: what it prints and how, the one wait, Ctrl-C and single keys.

// Diagnostics (Qt's debug output, the device's among them) are shown only under --verbose.
extern bool verboseOutput;
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text);

// Ctrl-C and SIGTERM are only counted in the handler (all a handler may safely do); waitUntil()
// takes them.
extern int interruptCount; // those waitUntil() has taken
void onSignal(int);

// zrhost's output: results to standard output, errors to standard error; notes (what is going on)
// are left out under --quiet and go to standard error under --json, which keeps stdout JSON alone.
class Console {
public:
    bool quiet = false;
    bool json = false;
    bool progress = true;

    void print(const QString& text) { write(false, text); }
    void line(const QString& text) { print(text + QLatin1Char('\n')); }
    // Notes and errors carry what machines and services say: control characters are shown, not
    // obeyed.
    void note(const QString& text)
    {
        if (!quiet)
            write(json, ZRDevice::printable(text) + QLatin1Char('\n'));
    }
    void error(const QString& text)
    {
        write(true, QStringLiteral("zrhost: ") + ZRDevice::printable(text) + QLatin1Char('\n'));
    }

    // "[#########---------------------]  31.4 %  copy 1/2  0:12 left  cutting  gasket.plt"
    static QString progressLine(const TaskReport& report, const QString& job)
    {
        constexpr int barWidth = 30;
        const int filled = int(std::floor(report.percent / 100.0 * barWidth));
        return QStringLiteral("[%1%2] %3")
            .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')),
                Protocol::reportText(report, job));
    }

    // Progress: on a terminal one line redrawn in place, otherwise a line whenever key changes.
    void show(const QString& text, const QString& key)
    {
        if (!progress || quiet)
            return;
        if (::isatty(STDOUT_FILENO)) {
            write(false, QStringLiteral("\r") + text + QStringLiteral("\x1b[K"), true);
            m_open = true;
        } else if (key != m_lastShown) {
            write(false, text + QLatin1Char('\n'));
        }
        m_lastShown = key;
    }

    void endProgress()
    {
        if (m_open)
            std::fputc('\n', stdout);
        std::fflush(stdout);
        m_open = false;
    }

private:
    void write(bool error, const QString& text, bool redraw = false)
    {
        if (!redraw)
            endProgress();
        const QByteArray bytes = text.toLocal8Bit();
        FILE* stream = error ? stderr : stdout;
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        std::fflush(stream);
    }

    bool m_open = false;
    QString m_lastShown;
};

// Rows in aligned columns (a row of one cell is a title line), widths in terminal cells so that
// wide characters line up. Cells of column `elided` longer than `width` cells end in "…".
QString columns(QList<QStringList> rows, int elided = -1, int width = 0);

// The command line's one way to wait: it runs the event loop until done() holds, the time runs
// out (timeoutMs < 0: no limit) or Ctrl-C (SIGINT or SIGTERM) arrives. With onInterrupt the
// interrupt is handed to it and the wait goes on. True when Ctrl-C ended the wait.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = -1,
    const std::function<void()>& onInterrupt = {});

// A line the person types on standard input, read while the event loop runs (at most 4 KiB of
// it kept): its text, or empty at the input's end. *interrupted tells whether Ctrl-C came first.
QByteArray typedLine(bool* interrupted);

// Key presses on the terminal that is standard input (if it is one), without Enter or echo: each of
// the given keys goes to pressed. Anything else is typing for what comes after the job: it is put
// back on the terminal's input and keys are off from then on. Settings come back with the object.
class TerminalKeys {
public:
    TerminalKeys(const QByteArray& keys, const std::function<void(char)>& pressed)
        : m_keys(keys)
        , m_pressed(pressed)
    {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios raw = m_saved;
        raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0)
            return;
        m_notifier.reset(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read));
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { read(); });
    }
    ~TerminalKeys() { release(); }

private:
    void release()
    {
        if (m_notifier)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
        m_notifier.reset();
    }

    void read()
    {
        // One byte at a time, so that what is not a key stays for whoever reads next.
        char key = 0;
        if (::read(STDIN_FILENO, &key, 1) != 1)
            return release();
        if (m_keys.contains(key))
            return m_pressed(key);
        // Put it back in order: take the rest of what waits, then return it all.
        QByteArray typed(1, key);
        char rest[4096];
        const ssize_t n = ::read(STDIN_FILENO, rest, sizeof rest);
        if (n > 0)
            typed.append(rest, int(n));
        release();
        for (char c : qAsConst(typed))
            ::ioctl(STDIN_FILENO, TIOCSTI, &c);
    }

    QByteArray m_keys;
    std::function<void(char)> m_pressed;
    std::unique_ptr<QSocketNotifier> m_notifier;
    termios m_saved {};
};

// "1 copy", "3 copies".
QString copiesText(qint64 copies);
// An object or array as indented JSON text.
QString jsonText(const QJsonValue& value);
// Writes text to stdout or stderr; the exit code that goes with it (0, or 2 for a usage error).
int write(FILE* stream, const QString& text);
