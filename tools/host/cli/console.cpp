#include "console.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QVector>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int barWidth = 30;

// Terminal cells taken by one code point: two for the East Asian wide and full-width ranges,
// none for combining marks and format characters.
int cellsOf(uint code)
{
    const QChar::Category category = QChar::category(code);
    if (code == 0 || category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing
        || category == QChar::Other_Format)
        return 0;
    // clang-format off
    static const uint wide[][2] = {
        { 0x1100, 0x115F }, { 0x2E80, 0x303E }, { 0x3041, 0x33FF }, { 0x3400, 0x4DBF },
        { 0x4E00, 0x9FFF }, { 0xA000, 0xA4CF }, { 0xAC00, 0xD7A3 }, { 0xF900, 0xFAFF },
        { 0xFE30, 0xFE4F }, { 0xFF00, 0xFF60 }, { 0xFFE0, 0xFFE6 }, { 0x1F300, 0x1F64F },
        { 0x1F900, 0x1F9FF }, { 0x20000, 0x3FFFD },
    };
    // clang-format on
    for (const auto& range : wide) {
        if (code >= range[0] && code <= range[1])
            return 2;
    }
    return 1;
}

int displayWidth(const QString& text)
{
    int width = 0;
    for (uint code : text.toUcs4())
        width += cellsOf(code);
    return width;
}

QString elide(const QString& text, int width)
{
    if (width <= 0 || displayWidth(text) <= width)
        return text;
    QString result;
    int used = 0;
    for (uint code : text.toUcs4()) {
        used += cellsOf(code);
        if (used > width - 1)
            break;
        result += QString::fromUcs4(&code, 1);
    }
    return result + QChar(0x2026);
}

// Ctrl-C and SIGTERM reach the event loop through a socket pair: the handler only writes a
// byte, which is all a signal handler may safely do.
int signalSocket[2] = { -1, -1 };
int interruptCount = 0;

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalSocket[1], &byte, 1);
}

QSocketNotifier* interruptNotifier()
{
    static QSocketNotifier* notifier = nullptr;
    if (notifier
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0)
        return notifier;
    notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return notifier;
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
    return QStringLiteral("[%1%2] %3 %  copy %4/%5  %6 left  %7  %8")
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')),
            QStringLiteral("%1").arg(report.percent, 5, 'f', 1), QString::number(copy),
            QString::number(report.copies), report.timeLeft(), report.statusText(), fileName);
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

QString columns(const QList<QStringList>& rows, int elided, int width)
{
    QList<QStringList> cells = rows;
    QVector<int> widths;
    for (QStringList& row : cells) {
        for (int c = 0; row.size() > 1 && c < row.size(); ++c) {
            if (c == elided)
                row[c] = elide(row[c], width);
            widths.resize(qMax(widths.size(), c + 1));
            widths[c] = qMax(widths[c], displayWidth(row[c]));
        }
    }
    QString text;
    for (const QStringList& row : qAsConst(cells)) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            const int pad = c + 1 < row.size() ? widths[c] + 2 - displayWidth(row[c]) : 0;
            line += row[c] + QString(pad, QLatin1Char(' '));
        }
        // Trailing blanks of empty last cells serve nobody.
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

namespace Wait {

int interrupts()
{
    return interruptCount;
}

End until(
    const std::function<bool()>& done, int timeoutMs, const std::function<void(int)>& onInterrupt)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    End end = Done;
    if (QSocketNotifier* notifier = interruptNotifier()) {
        QObject::connect(notifier, &QSocketNotifier::activated, &loop, [&] {
            char bytes[16];
            for (ssize_t n; (n = ::read(signalSocket[0], bytes, sizeof bytes)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    ++interruptCount;
                    if (onInterrupt) {
                        onInterrupt(interruptCount);
                        continue;
                    }
                    end = Interrupted;
                    loop.quit();
                }
            }
        });
    }
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
        else if (timeoutMs >= 0 && clock.hasExpired(timeoutMs)) {
            end = TimedOut;
            loop.quit();
        }
    });
    clock.start();
    poll.start(5);
    if (!done())
        loop.exec();
    return end;
}

} // namespace Wait

TerminalKeys::TerminalKeys(const QByteArray& keys, const std::function<void(char)>& pressed)
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

TerminalKeys::~TerminalKeys()
{
    release();
}

void TerminalKeys::release()
{
    if (m_notifier)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    m_notifier.reset();
}

void TerminalKeys::read()
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
