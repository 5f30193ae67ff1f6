// zrhost: the host kit's command line, its commands one table of name, synopsis, options and run.

#include "carriage.h"
#include "cloud.h"
#include "jobpage.h"
#include "panel.h"
#include "panelwindow.h"
#include "remote.h"
#include "service.h"
#include "session.h"
#include "simmachine.h"
#include "values.h"
#include "zrdeviceproperty.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSocketNotifier>
#include <QTime>
#include <QTimer>
#include <QTranslator>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <locale.h>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <wchar.h>

namespace {

enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,
    ExitUsage = 2,
    ExitNoPlugin = 3,
    ExitNoMachine = 4,
    ExitLinkLost = 5,
    ExitInterrupted = 130,
};

const char exitCodes[] = R"(Exit codes:
  0    done: every value read or confirmed, the job finished
  1    the machine refused, did not answer, is busy with another job, or ended the job unfinished
  2    bad command line, unknown parameter, value that does not fit or read-only, unusable cut file
  3    no device plugin could be loaded (see --plugin-dir)
  4    the machine (or the machine service of --server) could not be reached (see --timeout)
  5    the link went down, the machine went silent past --lost-after, or the service went away
  130  stopped by the user (Ctrl-C); a job is stopped cleanly first
)";

bool verboseOutput = false;

// The device writes diagnostics to Qt's debug output; they are for --verbose.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verboseOutput)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Terminal cells taken by one code point, as the C library's UTF-8 locale knows them: two for
// the East Asian wide and full-width characters, none for combining marks and format characters.
int cellsOf(uint code)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    const locale_t previous = ::uselocale(utf8);
    const int cells = ::wcwidth(wchar_t(code));
    ::uselocale(previous);
    return qMax(0, cells);
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
    if (displayWidth(text) <= width)
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

// Ctrl-C and SIGTERM are only counted here (all a handler may safely do); waitUntil() takes them.
std::atomic<int> signalsCaught { 0 };
int interruptCount = 0; // those waitUntil() has taken

void onSignal(int)
{
    ++signalsCaught;
}

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
            write(json, Values::printable(text) + QLatin1Char('\n'));
    }
    void error(const QString& text)
    {
        write(true, QStringLiteral("zrhost: ") + Values::printable(text) + QLatin1Char('\n'));
    }

    // "[#########---------------------]  31.4 %  copy 1/2  0:12 left  cutting  gasket.plt"
    static QString progressLine(const TaskReport& report, const QString& fileName)
    {
        constexpr int barWidth = 30;
        const int filled = int(std::floor(report.percent / 100.0 * barWidth));
        // The copy being cut, or the last one once all are done.
        const qint64 copy = qMin(report.finished + (report.status == TaskReport::Finished ? 0 : 1),
            qMax(report.copies, qint64(1)));
        return QStringLiteral("[%1%2] %3 %  copy %4/%5  %6 left  %7  %8")
            .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('-')),
                QStringLiteral("%1").arg(report.percent, 5, 'f', 1), QString::number(copy),
                QString::number(report.copies), report.timeLeft(), report.statusText(), fileName);
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
QString columns(QList<QStringList> rows, int elided = -1, int width = 0)
{
    QVector<int> widths;
    for (QStringList& row : rows) {
        for (int c = 0; row.size() > 1 && c < row.size(); ++c) {
            if (c == elided)
                row[c] = elide(row[c], width);
            widths.resize(qMax(widths.size(), c + 1));
            widths[c] = qMax(widths[c], displayWidth(row[c]));
        }
    }
    QString text;
    for (const QStringList& row : qAsConst(rows)) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            const int pad = c + 1 < row.size() ? widths[c] + 2 - displayWidth(row[c]) : 0;
            line += row[c] + QString(pad, QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

// The command line's one way to wait: it runs the event loop until done() holds, the time runs
// out (timeoutMs < 0: no limit) or Ctrl-C (SIGINT or SIGTERM) arrives. With onInterrupt the
// interrupt is handed to it and the wait goes on. True when Ctrl-C ended the wait.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = -1,
    const std::function<void()>& onInterrupt = {})
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    bool interrupted = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        for (; interruptCount < signalsCaught; ++interruptCount) {
            if (onInterrupt)
                onInterrupt();
            else
                interrupted = true;
        }
        if (interrupted || done() || (timeoutMs >= 0 && clock.hasExpired(timeoutMs)))
            loop.quit();
    });
    clock.start();
    poll.start(5);
    if (!done())
        loop.exec();
    return interrupted;
}

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

// One command-line option: a flag, a text or a number within limits.
struct Option {
    QString name; // "copies"
    QString value; // the value's name in the help ("n"); empty for a flag
    QString help;
    double min = 0; // a number when min < max
    double max = 0;
    QChar letter {}; // a short form, such as 'q'
};

// The options of one command line, parsed against the options the command takes. Numbers are
// checked against their limits here, with one error text for all.
struct Arguments {
    QHash<QString, QString> values; // the options given, by name
    QStringList positional;

    bool isSet(const QString& name) const { return values.contains(name); }
    QString text(const QString& name) const { return values.value(name); }
    double number(const QString& name, double fallback) const
    {
        return isSet(name) ? values.value(name).toDouble() : fallback;
    }

    bool parse(const QStringList& arguments, const QList<Option>& allowed, QString* error)
    {
        QCommandLineParser parser;
        for (const Option& option : allowed) {
            const QStringList names = option.letter.isNull()
                ? QStringList { option.name }
                : QStringList { option.letter, option.name };
            parser.addOption(QCommandLineOption(names, option.help, option.value));
        }
        if (!parser.parse(QStringList { QStringLiteral("zrhost") } + arguments)) {
            const QString unknown = parser.unknownOptionNames().value(0);
            *error = unknown.isEmpty() ? parser.errorText()
                                       : QStringLiteral("there is no option %1%2")
                                             .arg(unknown.size() == 1 ? "-" : "--", unknown);
            return false;
        }
        positional = parser.positionalArguments();
        for (const Option& option : allowed) {
            if (!parser.isSet(option.name))
                continue;
            const QString value = parser.value(option.name);
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (option.min < option.max
                && (!ok || !(number >= option.min && number <= option.max))) {
                *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                             .arg(option.name, QString::number(option.min),
                                 QString::number(option.max), Values::printable(value));
                return false;
            }
            values.insert(option.name, value);
        }
        return true;
    }
};

// The options as the help shows them, one to a line.
QString optionLines(const QList<Option>& options)
{
    QList<QStringList> rows;
    for (const Option& option : options) {
        QString call = option.letter.isNull() ? QStringLiteral("      ")
                                              : QStringLiteral("  -%1, ").arg(option.letter);
        call += QStringLiteral("--") + option.name;
        if (!option.value.isEmpty())
            call += QStringLiteral(" <%1>").arg(option.value);
        rows.append({ call, option.help });
    }
    return columns(rows);
}

// The options every command takes: where the machine is, its time-outs, the output, the cloud.
// clang-format off
QList<Option> commonOptions()
{
    return {
        { "ip", "address", "The machine's IP address or host name; connects over TCP." },
        { "port", "port", "The machine's TCP port (default 9100).", 1, 65535 },
        { "usb", "path", "The machine's USB port, a character device such as /dev/ttyACM0." },
        { "plugin-dir", "dir", "Folder holding the device plugin (default: beside the program)." },
        { "heartbeat", "seconds", "Heartbeat period, set on the device and told to the machine.", 1, 600 },
        { "speed", "mm/s", "Cutting speed of the embedded simulator (default: its station 1 speed).", 0.001, 1e7 },
        { "timeout", "seconds", "How long to wait for the machine to connect (default 10).", 0.1, 3600 },
        { "reply-timeout", "ms", "How long to wait for each answer of the machine (default 1000).", 1, 600000 },
        { "lost-after", "seconds", "How long the machine may send nothing before it counts as lost (default 10).", 1, 86400 },
        { "quiet", QString(), "Print only results and errors.", 0, 0, QLatin1Char('q') },
        { "verbose", QString(), "Also print the device's diagnostics and the simulator's log.", 0, 0, QLatin1Char('v') },
        { "no-progress", QString(), "No progress line during a job." },
        { "cloud", "url", "HTTP base of a cloud service, such as http://127.0.0.1:8700/api/: the device registers there." },
        { "cloud-ws", "url", "WebSocket base of that service, such as ws://127.0.0.1:8701/api/, for the remote channel." },
        { "cloud-token", "token", "Bearer token sent with every request to the cloud service." },
        { "device-code", "code", "The machine's device code for the cloud service (default: its machine number)." },
        { "cloud-embedded", QString(), "Start the project's local cloud service in this program and use it." },
        { "cloud-timeout", "seconds", "How long to wait for each answer of the cloud service (default 5).", 0.1, 600 },
        { "server", "url", "Work through a machine service (zrhost serve), such as ws://127.0.0.1:9190; ZRHOST_SERVER gives it too." },
        { "token", "token", "The token the machine service wants (ZRHOST_TOKEN gives it too); for serve, the one it wants of clients." },
    };
}
// clang-format on

// How job and preview place, order and cut a file.
// clang-format off
QList<Option> cutOptions()
{
    return {
        { "scale", "factor", "Scale the design (default 1).", 0.001, 1000 },
        { "rotate", "degrees", "Turn the design counter-clockwise about its lower-left corner.", -360, 360 },
        { "mirror", QString(), "Turn the design over (x mirrored)." },
        { "move-x", "mm", "Move the design to the right.", -100000, 100000 },
        { "move-y", "mm", "Move the design away from the front edge.", -100000, 100000 },
        { "fit", QString(), "Scale the design (all copies) to the largest size that fits the table." },
        { "rows", "n", "Copies on the table in this many rows (default 1).", 1, 1000 },
        { "columns", "n", "... and this many columns (default 1).", 1, 1000 },
        { "gap", "mm", "Between copies on the table (default 5).", 0, 1000 },
        { "keep-order", QString(), "Cut in the file's own order (default: holes first, shortest travel)." },
        { "station", "n", "The station that cuts, 1 or 2 (default 1): its tool and speed count.", 1, 2 },
        { "blade-offset", "mm", "Drag knife only: compensate a blade tip this far behind the holder.", 0, 10 },
        { "swivel", "degrees", "Drag knife only: swivel at corners sharper than this (default 30).", 1, 179 },
        { "overcut", "mm", "Drag knife only: cut closed contours this much past their start.", 0, 50 },
    };
}
// clang-format on

// The address given as --name, if it has one of the schemes and a host; else the error in *error.
QUrl address(const QString& text, const char* name, const QStringList& schemes,
    const QString& wanted, QString* error)
{
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && schemes.contains(url.scheme()) && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment())
        return url;
    *error = QStringLiteral("--%1 wants %2, not \"%3\"").arg(name, wanted, Values::printable(text));
    return QUrl();
}

// A token goes into a header as it is.
bool isPlainToken(const QString& token)
{
    return std::none_of(token.cbegin(), token.cend(),
        [](QChar ch) { return ch.isSpace() || ch.unicode() < 0x20 || ch.unicode() == 0x7f; });
}

QString cloudOptions(const Arguments& a, CloudOptions* cloud)
{
    cloud->embedded = a.isSet("cloud-embedded");
    if (cloud->embedded && (a.isSet("cloud") || a.isSet("cloud-ws")))
        return QStringLiteral(
            "--cloud-embedded starts a cloud service of its own; give it or --cloud, not both");
    if (!cloud->embedded && !a.isSet("cloud")) {
        for (const char* name : { "cloud-ws", "cloud-token", "device-code", "cloud-timeout" }) {
            if (a.isSet(name))
                return QStringLiteral("--%1 needs --cloud or --cloud-embedded").arg(name);
        }
        return QString();
    }
    QString error;
    if (a.isSet("cloud"))
        cloud->httpBase = address(a.text("cloud"), "cloud", { "http", "https" },
            "an http:// or https:// address such as http://127.0.0.1:8700/api/", &error);
    if (a.isSet("cloud-ws") && error.isEmpty()) {
        QUrl ws = address(a.text("cloud-ws"), "cloud-ws", { "ws", "wss" },
            "a ws:// or wss:// address such as ws://127.0.0.1:8701/api/", &error);
        // The device appends its code without a separator; the base is a folder.
        if (!ws.path().endsWith(QLatin1Char('/')))
            ws.setPath(ws.path() + QLatin1Char('/'));
        cloud->wsBase = ws.toString();
    }
    if (!error.isEmpty())
        return error;
    cloud->token = a.text("cloud-token");
    if (!isPlainToken(cloud->token))
        return QStringLiteral("--cloud-token may not hold spaces or control characters");
    cloud->deviceCode = a.text("device-code");
    if (a.isSet("device-code") && !CloudOptions::isValidDeviceCode(cloud->deviceCode))
        return QStringLiteral(
            "--device-code wants letters, digits, '-', '_' and '.' (at most 64), not \"%1\"")
            .arg(Values::printable(cloud->deviceCode));
    cloud->requestTimeoutMs = int(a.number("cloud-timeout", 5) * 1000);
    return QString();
}

// The session the options describe; the reason when they do not fit together.
QString sessionOptions(const Arguments& a, SessionOptions* s)
{
    if (a.isSet("ip") && a.isSet("usb"))
        return QStringLiteral("--ip and --usb name two machines; give one");
    if (a.isSet("ip") && a.text("ip").trimmed().isEmpty())
        return QStringLiteral("--ip wants an address");
    if (a.isSet("usb"))
        s->target = MachineTarget::usb(a.text("usb"));
    else if (a.isSet("ip"))
        s->target = MachineTarget::tcp(a.text("ip").trimmed(), quint16(a.number("port", 9100)));
    else if (a.isSet("port"))
        return QStringLiteral("--port needs --ip");
    if (a.isSet("speed") && s->target.kind != MachineTarget::Embedded)
        return QStringLiteral(
            "--speed is for the embedded simulator; a machine cuts at its own speed");
    s->pluginDir = a.text("plugin-dir");
    s->heartbeatSeconds = int(a.number("heartbeat", 0));
    s->simulator.speedMmPerSecond = a.number("speed", 0);
    // Progress worth watching: the embedded machine reports four times a second.
    s->simulator.reportIntervalMs = 250;
    s->connectTimeoutMs = int(a.number("timeout", 10) * 1000);
    s->replyTimeoutMs = int(a.number("reply-timeout", 1000));
    s->lostAfterMs = int(a.number("lost-after", 10) * 1000);
    if (!isPlainToken(a.text("token")))
        return QStringLiteral("--token may not hold spaces or control characters");
    return cloudOptions(a, &s->cloud);
}

// A machine service to work through: --server, or ZRHOST_SERVER unless the command names a
// machine itself; it holds the machine, the simulator and the cloud service.
QString serverOptions(const Arguments& a, QUrl* server, QString* token)
{
    const QString given
        = a.isSet("server") ? a.text("server") : qEnvironmentVariable("ZRHOST_SERVER");
    *token = a.isSet("token") ? a.text("token") : qEnvironmentVariable("ZRHOST_TOKEN");
    if (!a.isSet("server") && (given.isEmpty() || a.isSet("ip") || a.isSet("usb")))
        return QString();
    QString error;
    *server = address(given, "server", { "ws", "wss" },
        QStringLiteral("a ws:// address such as ws://127.0.0.1:%1")
            .arg(ServiceOptions::defaultPort),
        &error);
    if (!error.isEmpty())
        return error;
    for (const char* name : { "ip", "usb", "speed", "heartbeat", "cloud", "cloud-embedded" }) {
        if (a.isSet(name))
            return QStringLiteral("--%1 is for the machine service (zrhost serve), which holds the "
                                  "machine; not for a command given --server")
                .arg(name);
    }
    return QString();
}

struct Context;

struct Command {
    QString name;
    QString synopsis;
    QString summary;
    QString description;
    QList<Option> options;
    int (*run)(Context&);

    // "job FILE.plt [--copies N]"
    QString call() const { return (name + QLatin1Char(' ') + synopsis).trimmed(); }
};

const Option jsonOption { "json", QString(), "Print the result as JSON." };
const Option rawOption { "raw", QString(),
    "Values in the machine's own numbers, not the editors' units (gf, mm, list items, signed)." };

QString copiesText(qint64 copies)
{
    return copies == 1 ? QStringLiteral("1 copy") : QStringLiteral("%1 copies").arg(copies);
}

QString jsonText(const QJsonValue& value)
{
    const QJsonDocument document
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(document.toJson());
}

// What a command runs with: its arguments, the output, and the session once it is opened.
struct Context {
    const Command& command;
    Arguments args;
    Console console;
    SessionOptions options;
    QUrl server; // through a machine service when set
    QString token;
    std::unique_ptr<Session> session;
    bool cloudTried = false;
    bool infoRead = false;

    explicit Context(const Command& c)
        : command(c)
    { }
    ZRDeviceInterface* device() const { return session->device(); }

    int usage(const QString& text)
    {
        console.error(QStringLiteral("%1; see zrhost %2 --help").arg(text, command.name));
        return ExitUsage;
    }

    int open()
    {
        if (session)
            return ExitOk;
        session.reset(server.isEmpty() ? new Session : new RemoteSession(server, token));
        if (!session->open(options)) {
            console.error(
                QStringLiteral("cannot load the device plugin: %1").arg(session->errorString()));
            return ExitNoPlugin;
        }
        QObject::connect(
            session.get(), &Session::notice, [this](const QString& line) { console.note(line); });
        QObject::connect(session.get(), &Session::answeringChanged, [this](bool answering) {
            console.error(answering ? "the machine answers again" : "machine not answering");
        });
        return ExitOk;
    }

    int connectMachine()
    {
        if (const int opened = open())
            return opened;
        if (session->isUp())
            return ExitOk;
        session->connectMachine();
        if (waitUntil([this] { return session->link() != Session::Connecting; }))
            return ExitInterrupted;
        if (!session->isUp()) {
            const char* through = server.isEmpty() ? "" : " through the machine service";
            console.error(QStringLiteral("cannot reach the machine%1: %2")
                              .arg(through, session->errorString()));
            return session->linkOpened() ? ExitFailed : ExitNoMachine;
        }
        // The simulator's log is a diagnostic like the device's: for --verbose.
        if (session->embedded())
            QObject::connect(session->embedded(), &SimMachine::logLine,
                [](const QString& line) { qInfo().noquote() << "simulator:" << line; });
        console.note(QStringLiteral("Connected to %1.").arg(session->machineName()));
        return ExitOk;
    }

    // Attaches to the machine service (whether or not it has the machine), then asks as ask() does.
    int askService(const Request& request, Result* result)
    {
        if (server.isEmpty())
            return usage(QStringLiteral("%1 works through a machine service; give --server")
                             .arg(command.name));
        if (const int opened = open())
            return opened;
        auto* remote = static_cast<RemoteSession*>(session.get());
        remote->connectMachine();
        if (waitUntil(
                [remote] { return remote->isAttached() || remote->link() != Session::Connecting; }))
            return ExitInterrupted;
        if (remote->isAttached())
            return finish(session->send(request), result);
        console.error(
            QStringLiteral("cannot reach the machine service: %1").arg(session->errorString()));
        return ExitNoMachine;
    }

    // Connects, then attaches the cloud service when one is asked for.
    int connect()
    {
        const int connected = connectMachine();
        return connected ? connected : attachCloud();
    }

    // Waits for the reply (Ctrl-C cancels it) and tells what went wrong; the exit code, *result.
    int finish(Reply* reply, Result* result = nullptr)
    {
        waitUntil([reply] { return reply->isFinished(); }, -1, [reply] { reply->cancel(); });
        const Result::Outcome outcome = reply->result().outcome;
        if (outcome != Result::Done && outcome != Result::Stopped)
            console.error(reply->result().reason);
        if (result)
            *result = reply->result();
        // In the order of the outcomes; a stop is the user's when Ctrl-C asked for it.
        static const int codes[] = { ExitOk, ExitFailed, ExitLinkLost, ExitFailed, ExitFailed,
            ExitFailed, ExitUsage, ExitUsage, ExitUsage, ExitInterrupted };
        return outcome == Result::Stopped && interruptCount > 0 ? ExitInterrupted : codes[outcome];
    }

    // Connects, sends the request and waits for its end, as finish().
    int ask(const Request& request, Result* result = nullptr)
    {
        const int code = connect();
        return code ? code : finish(session->send(request), result);
    }

    int read(const QStringList& names)
    {
        return finish(session->send(Request::of(Request::Read, names)));
    }

    // The machine's information, read once though info and the cloud service both want it.
    int readInfo()
    {
        const int code = infoRead ? int(ExitOk) : read({ "DEVICE_INFO", "DEVICE_UNIQUE_ID" });
        infoRead = code == ExitOk;
        return code;
    }

    int showInfo()
    {
        const int code = readInfo();
        if (code == ExitOk)
            printParameters({ { QString(),
                { "DEVICE_MODEL_NAME", "DEVICE_MODEL", "DEVICE_ID", "PCB_ID", "PCB_VERSION",
                    "FIRMWARE", "DEVICE_CONFIG_NO", "DEVICE_UNIQUE_ID" } } });
        return code;
    }

    int attachCloud()
    {
        if (!options.cloud.isSet() || cloudTried)
            return ExitOk;
        cloudTried = true;
        if (!session->startCloud()) {
            console.error(QStringLiteral("cloud: %1; going on without the cloud service")
                              .arg(session->errorString()));
            return ExitOk;
        }
        Cloud* cloud = session->cloud();
        QObject::connect(
            cloud, &Cloud::notice, [this](const QString& line) { console.note(line); });
        QObject::connect(cloud, &Cloud::problem,
            [this](const QString& line) { console.error(QStringLiteral("cloud: ") + line); });
        QObject::connect(
            cloud, &Cloud::result, [this](const QString& text) { console.print(text); });
        // The device registers with what it knows of its machine: board, firmware, number.
        if (const int info = readInfo())
            return info == ExitFailed ? ExitOk : info;
        cloud->attach(device());
        return waitUntil([cloud] { return cloud->isSettled(); }) ? ExitInterrupted : ExitOk;
    }

    // Work on a cut file off this thread, with a progress line; Ctrl-C cancels it. Tells what
    // went wrong; the exit code.
    int work(const QString& what, const CutWork::Work& job)
    {
        CutWork work;
        bool ok = false;
        // "Reading nest.plt   40 %", a line for each tenth where it cannot be redrawn.
        const auto stage = [&](int percent) {
            console.show(QStringLiteral("%1 %2 %").arg(what).arg(percent, 4),
                what + QString::number(percent / 10));
        };
        QObject::connect(&work, &CutWork::progress, &work, stage);
        QObject::connect(&work, &CutWork::finished, &work, [&](bool done) { ok = done; });
        stage(0);
        work.start(job);
        waitUntil([&] { return !work.isRunning(); }, -1, [&] { work.cancel(); });
        if (ok)
            stage(100);
        console.endProgress();
        if (work.isCancelled())
            return ExitInterrupted;
        if (!ok)
            console.error(work.errorString());
        return ok ? ExitOk : ExitUsage;
    }

    // The cut file named on the command line, read; or the exit code of why there is none.
    int readCut(CutFile* file)
    {
        const QString path = args.positional.first();
        return work(QStringLiteral("Reading %1").arg(QFileInfo(path).fileName()),
            [=](const ZRCut::Progress& progress, QString* error) {
                return file->read(path, error, progress);
            });
    }

    // Places and orders the file for the table and station, tells the figures, and writes it.
    int planCut(CutFile* file, bool write)
    {
        const int station = int(args.number("station", 1));
        if (const int code = read(CutMachine::names(station)))
            return code;
        CutSettings settings;
        ZRCut::Placement& placement = settings.placement;
        placement.scale = args.number("scale", 1);
        placement.rotationDeg = args.number("rotate", 0);
        placement.mirror = args.isSet("mirror");
        placement.move = QPointF(args.number("move-x", 0), args.number("move-y", 0));
        placement.fit = args.isSet("fit");
        placement.columns = int(args.number("columns", 1));
        placement.copies = int(args.number("rows", 1)) * placement.columns;
        placement.gapMm = args.number("gap", 5);
        settings.optimizeOrder = !args.isSet("keep-order");
        settings.knife.bladeOffsetMm = args.number("blade-offset", 0);
        settings.knife.swivelThresholdDeg = args.number("swivel", 30);
        settings.knife.overcutMm = args.number("overcut", 0);
        const CutMachine machine = CutMachine::of(device(), station);
        if (const int code = work(QStringLiteral("Ordering %1").arg(file->name()),
                [=](const ZRCut::Progress& progress, QString* error) {
                    return file->plan(settings, machine, error, progress);
                }))
            return code;
        const ZRCut::CutJob& job = file->job();
        const double seconds = file->seconds();
        console.note(
            QStringLiteral("%1: %2 × %3 mm, %4 mm to cut, %5 mm pen-up travel, %6.")
                .arg(file->name(), QString::number(job.bounds.width(), 'f', 1),
                    QString::number(job.bounds.height(), 'f', 1),
                    QString::number(job.cutLengthMm, 'f', 1),
                    QString::number(job.travelLengthMm, 'f', 1),
                    seconds < 0 ? QStringLiteral("time unknown (no speeds from the machine)")
                                : QStringLiteral("about %1 a copy")
                                      .arg(Protocol::clockText(qint64(std::ceil(seconds))))));
        if (!write)
            return ExitOk;
        return work(QStringLiteral("Writing %1").arg(file->name()),
            [=](const ZRCut::Progress& progress, QString* error) {
                return file->write(error, progress);
            });
    }

    // The named parameters with their members, as a table or as JSON.
    void printParameters(const QList<QPair<QString, QList<QByteArray>>>& sections)
    {
        const bool raw = args.isSet("raw");
        const int cells = args.isSet("commands") ? 5 : 4; // COMMAND only with --commands
        QJsonArray array;
        QList<QStringList> rows;
        QList<QByteArray> shown;
        for (const auto& section : sections) {
            const QList<Values::Entry> entries = Values::tree(device(), section.second, &shown);
            if (entries.isEmpty())
                continue;
            if (!section.first.isEmpty())
                rows.append({ (rows.isEmpty() ? QString() : QStringLiteral("\n")) + section.first
                    + QLatin1Char(':') });
            rows.append(QStringList { "NAME", "LABEL", "VALUE", "UNIT", "COMMAND" }.mid(0, cells));
            for (const Values::Entry& entry : entries) {
                ZRDeviceProperty* p = device()->property_ptr(entry.name.constData());
                const bool group = !Values::members(device(), entry.name).isEmpty();
                const QString value = group ? QString() : Values::shown(p, raw);
                const QString label = Values::printable(p->label().trimmed());
                const QString unit = raw ? QString() : Values::printable(p->uint());
                array.append(
                    QJsonObject { { "name", QString::fromLatin1(entry.name) }, { "label", label },
                        { "value", value }, { "raw", group ? QString() : Values::shown(p, true) },
                        { "unit", unit }, { "depth", entry.depth } });
                const QStringList row { QString(entry.depth * 2, QLatin1Char(' ')) + entry.name,
                    label, value, unit, commandText(p) };
                rows.append(row.mid(0, cells));
            }
        }
        console.print(
            args.isSet("json") ? jsonText(array) : columns(rows, args.isSet("full") ? -1 : 2, 40));
    }

    static QString commandText(ZRDeviceProperty* p)
    {
        if (p->cmd_type() == ZRDeviceInterface::UnCMD)
            return QStringLiteral("-");
        const auto number = [](int n) { return n ? QString::number(n) : QStringLiteral("-"); };
        const char* kind
            = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceCMDType>().valueToKey(p->cmd_type());
        return QStringLiteral("%1 %2/%3%4")
            .arg(QString::fromLatin1(kind), number(p->get_cmd_int()), number(p->set_cmd_int()),
                p->cmd_len() > 1 ? QStringLiteral(" ×%1").arg(p->cmd_len()) : QString());
    }
};

int runList(Context& c)
{
    if (const int code = c.args.isSet("read") ? c.connect() : c.open())
        return code;
    ZRDeviceInterface* device = c.device();
    if (c.args.isSet("read")) {
        if (const int code = c.read(device->sysProperty() + device->userProperty()))
            return code;
    }
    QList<QByteArray> others;
    for (const QByteArray& name : Values::names(device)) {
        if (Values::groupOf(device, name).isEmpty())
            others.append(name);
    }
    c.printParameters(
        { { QStringLiteral("System parameters"), Values::latin1(device->sysProperty()) },
            { QStringLiteral("User parameters"), Values::latin1(device->userProperty()) },
            { QStringLiteral("Other parameters"), others } });
    return ExitOk;
}

int runInfo(Context& c)
{
    const int code = c.connect();
    return code ? code : c.showInfo();
}

int runGet(Context& c)
{
    if (c.args.positional.isEmpty())
        return c.usage(QStringLiteral("get needs at least one parameter name"));
    if (const int code = c.open())
        return code;
    QStringList names;
    for (const QString& name : qAsConst(c.args.positional))
        names.append(name.toUpper());
    const Request request = Request::of(Request::Read, names);
    QString error;
    if (c.session->check(request, &error) != Result::Done)
        return c.usage(error);
    Result result;
    if (const int code = c.ask(request, &result))
        return code;
    for (const QString& name : qAsConst(result.local))
        c.console.note(QStringLiteral(
            "%1 cannot be read from the machine: the value shown is the device's own")
                           .arg(name));
    c.printParameters({ { QString(), Values::latin1(names) } });
    return ExitOk;
}

int runSet(Context& c)
{
    if (c.args.positional.isEmpty())
        return c.usage(QStringLiteral("set needs at least one NAME=VALUE"));
    if (const int code = c.open())
        return code;
    // Every value is checked before anything is sent, so that a typing error sends nothing.
    Request request = Request::of(Request::Write);
    request.raw = c.args.isSet("raw");
    for (const QString& argument : qAsConst(c.args.positional)) {
        const int equals = argument.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return c.usage(
                QStringLiteral("\"%1\" is not NAME=VALUE").arg(Values::printable(argument)));
        request.names.append(argument.left(equals).trimmed().toUpper());
        request.values.append(argument.mid(equals + 1));
    }
    QString error;
    if (c.session->check(request, &error) != Result::Done) {
        c.console.error(error);
        return ExitUsage;
    }
    Result result;
    const int code = c.ask(request, &result);
    for (const QString& name : qAsConst(request.names)) {
        if (result.refused.contains(name) || result.unanswered.contains(name)
            || (result.outcome != Result::Done && result.outcome != Result::Refused
                && result.outcome != Result::NoAnswer))
            continue;
        ZRDeviceProperty* p = c.device()->property_ptr(name.toLatin1().constData());
        const QString unit
            = request.raw || p->uint().isEmpty() ? QString() : QLatin1Char(' ') + p->uint();
        c.console.line(
            QStringLiteral("%1 = %2%3  (%4)")
                .arg(name, Values::shown(p, request.raw), unit,
                    result.local.contains(name) ? "sent; the machine's answer cannot be seen"
                                                : "confirmed"));
    }
    return code;
}

int runJob(Context& c)
{
    Console& console = c.console;
    if (c.args.positional.size() != 1)
        return c.usage(QStringLiteral("job needs one cut file"));
    CutFile file;
    if (const int code = c.readCut(&file))
        return code;
    if (const int code = c.connectMachine())
        return code;
    if (const int code = console.quiet || console.json ? ExitOk : c.showInfo())
        return code;
    if (const int code = c.attachCloud())
        return code;
    if (const int code = c.planCut(&file, true))
        return code;
    // What the pictures need stays with the job; the drawing as read can go.
    file.dropSource();
    const int copies = int(c.args.number("copies", 1));
    const double perCopy = file.job().cutLengthMm;
    console.note(QStringLiteral("Cutting %1 of %2.").arg(copiesText(copies), file.name()));
    Reply* reply = c.session->send(file.request(copies));
    // A line whenever the status or the copies change or the job moves on by a tenth.
    QObject::connect(reply, &Reply::progress, [&](const TaskReport& report) {
        console.show(Console::progressLine(report, file.name()),
            QStringLiteral("%1/%2/%3")
                .arg(report.status)
                .arg(report.finished)
                .arg(int(report.percent / 10)));
    });
    // Keys act only on a terminal; a stop asks first.
    std::unique_ptr<TerminalKeys> keys;
    bool confirming = false;
    if (!console.quiet && !console.json && ::isatty(STDIN_FILENO)) {
        keys.reset(new TerminalKeys("prsyn", [&](char key) {
            const bool confirmed = confirming && key == 'y';
            confirming = key == 's';
            if (key == 'p' || key == 'r')
                c.session->send(Request::of(key == 'p' ? Request::Pause : Request::Resume))
                    ->deleteLater();
            else if (confirming)
                console.note("Stop the job? Press y to stop, any other key to go on.");
            else if (confirmed)
                reply->cancel();
        }));
        console.note("Keys: p pause, r resume, s stop (Ctrl-C stops too).");
    }
    const int code = c.finish(reply);
    keys.reset();
    console.endProgress();

    const Result& result = reply->result();
    const bool finished = result.outcome == Result::Done;
    const double cut = perCopy * copies * (finished ? 1.0 : result.last.percent / 100.0);
    if (console.json) {
        console.print(jsonText(QJsonObject {
            { "outcome",
                finished ? QStringLiteral("finished") : Carriage::outcomeName(result.outcome) },
            { "file", file.name() }, { "copies", copies },
            { "finished", double(result.last.finished) }, { "percent", result.last.percent },
            { "machine_seconds", double(result.last.seconds) },
            { "elapsed_ms", double(result.elapsedMs) }, { "cut_mm", cut },
            { "record", result.record }, { "reason", result.reason } }));
    } else {
        static const QHash<int, QString> what { { Result::Done, "Job finished" },
            { Result::Stopped, "Job stopped" }, { Result::LinkLost, "Link lost" },
            { Result::Busy, "Job not started" }, { Result::Cancelled, "Stop not confirmed" } };
        if (result.outcome == Result::LinkLost)
            console.note(QStringLiteral("The machine may still be cutting; the task record is as "
                                        "the last report left it."));
        console.line(QStringLiteral("Task record: %1")
                         .arg(Values::printable(Carriage::messageText(result.record))));
        console.line(QStringLiteral(
            "%1: %2 of %3 of %4 in %5 s (machine: %6 s cutting), %7%8 mm cut (%9 mm a copy).")
                         .arg(what.value(result.outcome, QStringLiteral("Job not finished")),
                             QString::number(result.last.finished), copiesText(copies), file.name(),
                             QString::number(result.elapsedMs / 1000.0, 'f', 1),
                             QString::number(result.last.seconds), finished ? "" : "about ",
                             QString::number(cut, 'f', 1), QString::number(perCopy, 'f', 1)));
    }
    if (const SimMachine* simulated = c.session->embedded()) {
        const SimCounters& counted = simulated->counters();
        console.note(
            QStringLiteral("Simulator counted: %1 cut, %2 mm cut, jobs: %3 finished, %4 stopped; "
                           "%5 frames received.")
                .arg(copiesText(counted.copiesCut), QString::number(counted.pathCutMm, 'f', 1),
                    QString::number(counted.jobsFinished), QString::number(counted.jobsStopped),
                    QString::number(counted.framesReceived)));
    }
    if (Cloud* cloud = c.session->cloud()) {
        cloud->reportJob(finished || result.outcome == Result::Stopped, result.last.finished);
        waitUntil([cloud] { return cloud->isJobReported(); });
    }
    return code;
}

int runControl(Context& c, Request::Kind kind)
{
    if (c.options.target.kind == MachineTarget::Embedded && c.server.isEmpty())
        return c.usage(
            QStringLiteral("%1 acts on a job a machine is running; give its --ip or --usb (the "
                           "embedded simulator runs no job; during \"zrhost job\" press p, r or s)")
                .arg(c.command.name));
    Result result;
    if (const int code = c.ask(Request::of(kind), &result))
        return code;
    const TaskReport& seen = result.last;
    c.console.line(QStringLiteral("%1: %2, %3 %, %4 of %5 finished.")
                       .arg(seen.statusText(), Values::printable(seen.fileName),
                           QString::number(seen.percent, 'f', 1), QString::number(seen.finished),
                           copiesText(seen.copies)));
    return ExitOk;
}

QString position(const QPointF& mm)
{
    return QStringLiteral("(%1, %2) mm").arg(mm.x(), 0, 'f', 1).arg(mm.y(), 0, 'f', 1);
}

int runJog(Context& c)
{
    const QStringList& a = c.args.positional;
    const QString axis = a.value(0).toLower();
    if (a.size() != 2 || (axis != "x" && axis != "y") || (a[1] != "+" && a[1] != "-"))
        return c.usage(QStringLiteral("jog wants an axis (x or y) and a direction (+ or -)"));
    const int ms = int(c.args.number("ms", 500));
    if (const int code = c.connect())
        return code;
    const SimMachine* simulated = c.session->embedded();
    const QPointF before = simulated ? simulated->headPosition() : QPointF();
    Request move = Request::of(Request::Jog);
    (axis == "x" ? move.x : move.y) = a[1] == "+" ? 1 : -1;
    Result moving;
    const int code = c.ask(move, &moving);
    QElapsedTimer clock;
    clock.start();
    const bool early = code == ExitOk && waitUntil([] { return false; }, ms);
    const qint64 moved = qMin(clock.elapsed(), qint64(ms));
    // Whatever became of the move, the head is told to stop unless the machine said no to it.
    const Result::Outcome outcome = moving.outcome;
    if (outcome == Result::Done || outcome == Result::NoAnswer || outcome == Result::Cancelled) {
        if (const int stopped = c.finish(c.session->send(Request::of(Request::Jog)))) {
            c.console.error(QStringLiteral("the stop was not confirmed: check the machine"));
            return stopped;
        }
    }
    if (code != ExitOk)
        return code;
    c.console.line(QStringLiteral("Jogged %1 %2 for %3 ms%4.")
                       .arg(axis, a.value(1), QString::number(early ? moved : ms),
                           early ? " (stopped early)" : ""));
    if (simulated)
        c.console.line(QStringLiteral("Simulated head: %1 -> %2.")
                           .arg(position(before), position(simulated->headPosition())));
    return early ? ExitInterrupted : ExitOk;
}

int runOrigin(Context& c)
{
    const QString what = c.args.positional.value(0, QStringLiteral("set"));
    const bool set = what == QLatin1String("set");
    if (c.args.positional.size() > 1 || (!set && what != QLatin1String("back")))
        return c.usage(QStringLiteral("origin wants set or back"));
    if (const int code = c.ask(Request::of(set ? Request::Origin : Request::BackToOrigin)))
        return code;
    c.console.line(set ? "Origin set at the head." : "Head back at the origin.");
    return ExitOk;
}

int runMonitor(Context& c)
{
    if (const int code = c.open())
        return code;
    // Listening starts before connecting, so that the link's own status line is shown.
    const QMetaEnum kinds = QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceMessage>();
    QObject listening; // the printing ends with this command, though the device goes on
    QObject::connect(
        c.session.get(), &Session::message, &listening, [&](int kind, const QString& text) {
            const QString time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
            const QString name = QString::fromLatin1(kinds.valueToKey(kind));
            QJsonObject json { { "time", time }, { "kind", name }, { "text", text } };
            QString shown = Values::printable(text);
            TaskReport report;
            if (kind == ZRDeviceInterface::DevTasK && TaskReport::parse(text, &report)) {
                shown = Console::progressLine(report, Values::printable(report.fileName)).mid(33);
                json.insert("status", report.statusText());
                json.insert("file", report.fileName);
                json.insert("copies", double(report.copies));
                json.insert("finished", double(report.finished));
                json.insert("percent", report.percent);
                json.insert("seconds_left", double(report.secondsLeft()));
            }
            c.console.print(c.args.isSet("json")
                    ? Carriage::messageText(json) + QLatin1Char('\n')
                    : QStringLiteral("%1  %2  %3\n").arg(time, name.leftJustified(9), shown));
        });
    if (const int code = c.connect())
        return code;
    c.console.note(QStringLiteral("Monitoring; Ctrl-C ends."));
    const double seconds = c.args.number("seconds", -1);
    // Through a service the link comes back by itself; it ends when the service is gone.
    const auto gone = [&c] {
        return c.session->link() == Session::Lost || c.session->link() == Session::Failed;
    };
    waitUntil(gone, seconds > 0 ? int(seconds * 1000) : -1);
    return gone() ? ExitLinkLost : ExitOk;
}

int runPreview(Context& c)
{
    if (c.args.positional.size() != 1 || !c.args.isSet("output"))
        return c.usage(QStringLiteral("preview needs one cut file and -o OUT.png"));
    CutFile file;
    QImage image;
    if (const int code = c.readCut(&file))
        return code;
    if (const int code = c.connect())
        return code;
    if (const int code = c.planCut(&file, false))
        return code;
    if (const int code = c.work(QStringLiteral("Drawing %1").arg(file.name()),
            [&](const ZRCut::Progress& progress, QString* error) {
                image = file.picture(int(c.args.number("size", 256)), true, progress);
                if (image.isNull())
                    *error = QStringLiteral("no room to draw the cut");
                return !image.isNull();
            }))
        return code;
    if (!image.save(c.args.text("output"), "PNG")) {
        c.console.error(QStringLiteral("cannot write %1").arg(c.args.text("output")));
        return ExitFailed;
    }
    c.console.line(QStringLiteral("Wrote %1 (%2 × %3 px).")
                       .arg(c.args.text("output"), QString::number(image.width()),
                           QString::number(image.height())));
    return ExitOk;
}

// The panel, an application of its own; without a display it says so and ends with 1.
int runPanelCommand(Context& c)
{
    if (c.args.positional.size() > 1)
        return c.usage(QStringLiteral("panel opens one cut file"));
    if (c.args.isSet("cut") && c.args.positional.isEmpty())
        return c.usage(QStringLiteral("--cut needs a FILE"));
    // Without a display the platform would abort the program.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if ((platform.isEmpty() || platform.startsWith("xcb")) && qEnvironmentVariableIsEmpty("DISPLAY")
        && (!platform.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))) {
        c.console.error(QStringLiteral("the panel needs a display, and DISPLAY is not set; start "
                                       "it on a desktop (QT_QPA_PLATFORM=offscreen draws without "
                                       "one)"));
        return ExitFailed;
    }
    static int argc = 1;
    static char name[] = "zrhost";
    static char* argv[] = { name, nullptr };
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zrhost"));
    QTranslator translator;
    const auto load = [&translator](const QString& folder) {
        return translator.load(
            QLocale::system(), QStringLiteral("zrhost_panel"), QStringLiteral("_"), folder);
    };
    if (load(QCoreApplication::applicationDirPath() + QStringLiteral("/translations"))
        || load(QStringLiteral(ZRDEVICE_TRANSLATIONS_DIR)))
        QCoreApplication::installTranslator(&translator);
    if (const int code = c.open())
        return code;
    Session& session = *c.session;
    PanelWindow window;
    Panel panel(&session, &window);
    JobPage jobs(&session, &window);
    window.setWindowTitle(
        QCoreApplication::translate("Panel", "%1 parameter panel")
            .arg(session.device()->property_ptr("DEVICE_MODEL")->value().toString()));
    window.show();
    // The head must not keep moving after the window is gone.
    QObject::connect(&app, &QApplication::lastWindowClosed, &session,
        [&session] { session.device()->move(0, 0); });
    const MachineTarget& target = c.options.target;
    window.address->setText(c.server.isEmpty() ? target.address : c.server.toString());
    window.usbPath->setText(target.usbPath);
    (target.kind == MachineTarget::Usb ? window.usb : window.tcp)->setChecked(true);
    window.port->setValue(target.port);
    // Through a service the address is the service's, which holds the machine.
    for (QWidget* machineOnly :
        std::initializer_list<QWidget*> { window.port, window.usb, window.usbPath })
        machineOnly->setEnabled(c.server.isEmpty());
    if (c.args.isSet("simulator") || target.kind != MachineTarget::Embedded || !c.server.isEmpty())
        session.connectMachine();
    // With --screenshot: once the values are read and painted, or the file drawn, or the job
    // cut; or after a long while.
    const auto saveSoon = [&](bool done) {
        QTimer::singleShot(300, &app, [&, done] {
            app.exit(window.grab().save(c.args.text("screenshot")) && done ? ExitOk : ExitFailed);
        });
    };
    const bool cut = c.args.isSet("cut");
    if (c.args.isSet("screenshot")) {
        if (cut)
            QObject::connect(&jobs, &JobPage::jobEnded, &app,
                [&](int outcome) { saveSoon(outcome == Result::Done); });
        else if (!c.args.positional.isEmpty())
            QObject::connect(&jobs, &JobPage::planned, &app, saveSoon);
        else
            QObject::connect(&panel, &Panel::readFinished, &app, saveSoon);
        QTimer::singleShot(cut ? 120000 : 20000, &app, [&saveSoon] { saveSoon(false); });
    }
    // With --cut: cut once, as soon as the file is drawn and the machine can take it.
    bool started = false;
    if (cut)
        QObject::connect(&jobs, &JobPage::planned, &jobs, [&] {
            if (!started && jobs.form.start->isEnabled()) {
                started = true;
                jobs.start();
            }
        });
    if (!c.args.positional.isEmpty())
        jobs.open(c.args.positional.first());
    return app.exec();
}

// Jobs of the service's queue or history, one to a row.
QString jobTable(const QJsonArray& jobs)
{
    QList<QStringList> rows { { "ID", "SUBMITTED", "FILE", "COPIES", "STATUS", "CUT MM", "TOOK",
        "BY", "CLOUD" } };
    for (const QJsonValue& job : jobs)
        rows.append(Carriage::jobRow(job.toObject()));
    return columns(rows, 2, 32);
}

// The machine service, serving this machine until Ctrl-C.
int runServe(Context& c)
{
    if (c.args.isSet("server"))
        return c.usage(QStringLiteral("serve is the machine service; --server is for its clients"));
    ServiceOptions options;
    options.session = c.options;
    options.token = c.args.text("token");
    options.database = c.args.text("database");
    if (c.args.isSet("token-file")) {
        QFile file(c.args.text("token-file"));
        options.token = file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.read(4096)).section(QLatin1Char('\n'), 0, 0).trimmed()
            : QString();
        if (options.token.isEmpty() || !isPlainToken(options.token))
            return c.usage(QStringLiteral("--token-file %1 holds no token on its first line")
                               .arg(file.fileName()));
    }
    if (c.args.isSet("listen")) {
        const QString listen = c.args.text("listen");
        const int colon = listen.lastIndexOf(QLatin1Char(':'));
        QString host = listen.left(qMax(colon, 0));
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint port = listen.mid(colon + 1).toUInt(&ok);
        options.address = host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                             : QHostAddress(host);
        options.port = quint16(port);
        if (colon < 0 || !ok || port > 65535 || options.address.isNull())
            return c.usage(
                QStringLiteral("--listen wants ADDRESS:PORT, such as 127.0.0.1:%1, not \"%2\"")
                    .arg(QString::number(ServiceOptions::defaultPort), Values::printable(listen)));
    }
    MachineService service;
    QObject::connect(&service, &MachineService::log, [&c](const QString& line) {
        c.console.note(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz  ")) + line);
    });
    QString error;
    int code = ExitOk;
    if (!service.start(options, &error, &code)) {
        c.console.error(error);
        return code;
    }
    waitUntil([] { return false; });
    return ExitInterrupted;
}

int runHistory(Context& c)
{
    QJsonArray jobs;
    if (!c.server.isEmpty()) {
        Result result;
        if (const int code = c.askService(Request::of(Request::History), &result))
            return code;
        jobs = result.jobs;
    } else {
        const QString path
            = c.args.isSet("database") ? c.args.text("database") : Store::defaultPath();
        Store store;
        QString error;
        if (!QFile::exists(path)) {
            c.console.note(
                QStringLiteral("No jobs: there is no database %1 (zrhost serve keeps it).")
                    .arg(path));
        } else if (!store.open(path, &error)) {
            c.console.error(error);
            return ExitFailed;
        } else {
            jobs = store.jobs();
        }
    }
    while (jobs.size() > c.args.number("limit", 20))
        jobs.removeLast();
    c.console.print(c.args.isSet("json") ? jsonText(jobs) : jobTable(jobs));
    return ExitOk;
}

int runStatus(Context& c)
{
    Result result;
    if (const int code = c.ask(Request::of(Request::Status), &result))
        return code;
    const TaskReport& state = result.last;
    if (c.args.isSet("json")) {
        c.console.print(jsonText(QJsonObject { { "machine", c.session->machineName() },
            { "answering", c.session->isAnswering() },
            { "state", state.status ? QJsonValue(Carriage::fromReport(state)) : QJsonValue() },
            { "jobs", result.jobs } }));
        return ExitOk;
    }
    c.console.line(QStringLiteral("Machine: %1, %2.")
                       .arg(c.session->machineName(),
                           c.session->isAnswering() ? "answering" : "not answering"));
    c.console.line(state.status == 0
            ? QStringLiteral("No job reported since the link came up.")
            : QStringLiteral("Job: %1").arg(
                Console::progressLine(state, Values::printable(state.fileName)).mid(33)));
    if (!result.jobs.isEmpty())
        c.console.print(QStringLiteral("\nThe service's job and queue:\n") + jobTable(result.jobs));
    return ExitOk;
}

int runQueue(Context& c)
{
    const QStringList& a = c.args.positional;
    const bool move = a.value(0) == QLatin1String("move");
    bool ok = false;
    bool placed = !move;
    Request request = Request::of(move ? Request::MoveQueued : Request::CancelQueued);
    request.job = a.value(1).toLongLong(&ok);
    request.position = move ? a.value(2).toInt(&placed) : 1;
    if (!ok || !placed || request.job < 1 || request.position < 1 || a.size() != (move ? 3 : 2)
        || (!move && a.value(0) != QLatin1String("cancel")))
        return c.usage(QStringLiteral("queue wants move ID PLACE, or cancel ID"));
    Result result;
    if (const int code = c.askService(request, &result))
        return code;
    c.console.line(move
            ? QStringLiteral("Job %1 moved to place %2.").arg(request.job).arg(request.position)
            : QStringLiteral("Job %1 taken out of the queue.").arg(request.job));
    c.console.print(jobTable(result.jobs));
    return ExitOk;
}

// clang-format off
const QList<Command>& commands()
{
    static const QList<Command> table {
        { "list", "[--read]", "print the parameters with labels, values and units",
          "Prints every parameter of a device built by the plugin: the system and user parameters first, each group\n"
          "with its members beneath it, then all the others. Without --read nothing is connected and the values are\n"
          "the device's defaults.",
          { { "read", QString(), "Connect first and read the system and user parameters from the machine." },
            { "commands", QString(), "Add the command that reads and writes each parameter (kind get/set)." },
            { "full", QString(), "Do not shorten long values." }, rawOption, jsonOption }, runList },
        { "info", QString(), "connect and show the machine information",
          "Connects, reads the machine's information (model, numbers, board, firmware, configuration, unique id)\n"
          "and prints it.", { jsonOption }, runInfo },
        { "get", "NAME...", "read parameters from the machine and print them",
          "Reads the named parameters from the machine and prints them. A group is read member by member; a\n"
          "parameter the machine reports within a group (FIRMWARE in DEVICE_INFO) through the group. A machine\n"
          "that does not answer is an error (exit 1): nothing is printed as if it had been read.",
          { rawOption, jsonOption }, runGet },
        { "set", "NAME=VALUE...", "write parameters to the machine and wait for its answers",
          "Writes each NAME=VALUE to the machine and waits for its echo or status. VALUE is as the editors take it\n"
          "(a list item by name or number) within their limits. Read-only values, motion registers (see jog) and\n"
          "task commands are refused. Every value is checked before anything is sent.", { rawOption }, runSet },
        { "job", "FILE [--copies N]", "cut an SVG, DXF or PLT file with progress; keys p, r, s pause, resume, stop",
          "Runs a cutting job: reads the file (SVG, DXF or HP-GL), connects, reads the machine's table, the\n"
          "station's tool and the speeds, places and orders the cut and tells its figures, reads the machine's\n"
          "state (a machine busy with another job is an error naming it), sends the copies and the cut data,\n"
          "follows this job's progress reports with the time left\n"
          "the machine's reports give, and closes the task when the machine reports it finished or stopped.\n"
          "On a terminal the keys p and r pause and resume, s asks to stop (y confirms). Ctrl-C stops: the job\n"
          "counts as stopped only once the machine has confirmed it (a second Ctrl-C gives up waiting). With a\n"
          "cloud service the device registers first and posts its work record when the task is closed.",
          QList<Option> { { "copies", "n", "Copies the machine cuts one after the other (default 1).", 1, 9999 }, jsonOption } + cutOptions(), runJob },
        { "pause", QString(), "pause the job the machine is running",
          "Pauses the job a machine given by --ip or --usb (or the service given by --server) is running and\n"
          "waits for its report.", {}, [](Context& c) { return runControl(c, Request::Pause); } },
        { "resume", QString(), "resume the job the machine is running",
          "Resumes the job a machine given by --ip or --usb (or the service given by --server) is running and\n"
          "waits for its report.", {}, [](Context& c) { return runControl(c, Request::Resume); } },
        { "stop", QString(), "stop the job the machine is running",
          "Stops the job a machine given by --ip or --usb (or the service given by --server) is running and\n"
          "waits for its report.", {}, [](Context& c) { return runControl(c, Request::Stop); } },
        { "jog", "x|y +|- [--ms N]", "move the head along x or y for a moment",
          "Moves the head along one axis for --ms milliseconds, then stops it. A machine that is cutting does\n"
          "not jog: that is an error. Ctrl-C stops at once.",
          { { "ms", "ms", "How long to move (default 500).", 1, 10000 } }, runJog },
        { "origin", "[set|back]", "set the origin at the head, or move the head back to it",
          "Sets the origin where the head is (set, the default) or moves the head back to it (back). Not while\n"
          "the machine is cutting.", {}, runOrigin },
        { "monitor", QString(), "print the device's messages until Ctrl-C",
          "Connects and prints every message the device sends: link status lines, progress reports (decoded)\n"
          "and QR-code texts. Ends with Ctrl-C, after --seconds, or when the link goes down (exit 5).",
          { { "seconds", "seconds", "Stop after this many seconds.", 0.001, 1e9 }, jsonOption }, runMonitor },
        { "preview", "FILE -o OUT.png", "write the picture of a cut as the job would cut it",
          "Reads the file, places and orders it as job does for the machine's table and station, tells the\n"
          "figures and writes the picture: the cuts dark, the pen-up travel red, on white.",
          QList<Option> { { "output", "file", "The PNG file to write.", 0, 0, QLatin1Char('o') },
            { "size", "pixels", "Pixels on the longer side (default 256).", 16, 4096 } } + cutOptions(), runPreview },
        { "panel", "[FILE]", "open the parameter panel window",
          "Opens the parameter panel: the machine's parameters in their editors, read and write, jog, origin,\n"
          "pause, resume and stop, a job page that opens, places and cuts a file, and a log. With --ip, --usb\n"
          "or --simulator it connects at start. A FILE (SVG, DXF or HP-GL) is opened on the job page.",
          { { "simulator", QString(), "Start the embedded simulator and connect to it." },
            { "cut", QString(), "Cut FILE once it is drawn on the machine's table." },
            { "screenshot", "file", "Save the window as file and quit once the values are read (with FILE: once it\n"
                                    "is drawn; with --cut: once the job has ended)." } }, runPanelCommand },
        { "status", QString(), "show the machine's state, and through a service its job and queue",
          "Connects and shows the machine's state: the job it reports, how far it is and the time left. Through a\n"
          "machine service (--server) also the job the service runs and the jobs waiting in its queue.",
          { jsonOption }, runStatus },
        { "serve", "[--listen ADDRESS:PORT]", "hold the machine and serve many clients (--server)",
          "Runs the machine service: it holds the machine (--ip, --usb or the embedded simulator) and its cloud\n"
          "service, and serves any number of clients over a WebSocket: every command and the panel work through\n"
          "it with --server ws://ADDRESS:PORT. Jobs wait in a queue and run one at a time; each is kept in a\n"
          "database (history) with the work record sent to the cloud service, which is sent again until the\n"
          "service takes it. A lost link is opened again and a job the machine goes on cutting is followed, never\n"
          "sent twice; a service started again after a crash follows the job it left. Ctrl-C ends it.",
          { { "listen", "address:port", "Where to listen (default 127.0.0.1:9190); beyond 127.0.0.1 a token is required." },
            { "token-file", "file", "Read the token clients must show from the file's first line." },
            { "database", "file", "The database file (default: service.sqlite in the user's data folder)." } }, runServe },
        { "queue", "move ID PLACE | cancel ID", "reorder or cancel a job waiting in the service's queue",
          "Moves a queued job of the machine service (--server) to another place in its queue (1 is next), or takes\n"
          "it out of the queue. zrhost status lists the queue.", {}, runQueue },
        { "history", "[--limit N]", "list the jobs the machine service was given, newest first",
          "Lists the jobs the machine service (--server) was given: when, the file, copies done and ordered, how\n"
          "it ended, the length cut, how long it took, who sent it, and whether the cloud service took its work\n"
          "record. Without --server it reads the service's database file (--database) directly.",
          { { "limit", "n", "At most this many jobs (default 20, at most 1000).", 1, 1000 },
            { "database", "file", "The database file to read (default: the service's)." }, jsonOption }, runHistory },
    };
    return table;
}
// clang-format on

QString mainHelp()
{
    QList<QStringList> rows;
    for (const Command& command : commands())
        rows.append({ QStringLiteral("  ") + command.call(), command.summary });
    return QStringLiteral(R"(Usage: zrhost COMMAND [arguments] [options]

The project's host for the ZR-TX4150V device plugin. It loads the plugin as any host does and
drives the machine through a device. Without --ip or --usb it starts the project's simulated
machine inside itself on 127.0.0.1. With --cloud (or --cloud-embedded) the device registers with
a cloud service; what fails with the service is told and does not stop the command.

Commands:
)") + columns(rows)
        + QStringLiteral("\nOptions of every command:\n")
        + optionLines(commonOptions() << Option { "version", QString(), "Show the version." })
        + QLatin1Char('\n') + QString::fromLatin1(exitCodes)
        + QStringLiteral("\n\"zrhost COMMAND --help\" tells more about a command.\n");
}

QString commandHelp(const Command& command)
{
    return QStringLiteral("Usage: zrhost %1 [options]\n\n%2\n\n")
               .arg(command.call(), command.description)
        + (command.options.isEmpty() ? QString()
                                     : QStringLiteral("Options:\n") + optionLines(command.options))
        + QStringLiteral(
            "\nWhere the machine is, the cloud service and the output: zrhost --help.\n\n")
        + QString::fromLatin1(exitCodes);
}

int write(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    return stream == stdout ? int(ExitOk) : int(ExitUsage);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString name = arguments.value(0);
    if (name == QLatin1String("--version"))
        return write(stdout, QStringLiteral("zrhost %1\n").arg(QStringLiteral(ZRHOST_VERSION)));
    if (name == QLatin1String("--help") || name == QLatin1String("-h"))
        return write(stdout, mainHelp());
    if (name.isEmpty())
        return write(stderr, QStringLiteral("zrhost: no command given; see zrhost --help\n"));
    const Command* command = nullptr;
    for (const Command& candidate : commands())
        command = candidate.name == name ? &candidate : command;
    if (!command)
        return write(stderr,
            QStringLiteral("zrhost: there is no command \"%1\"; see zrhost --help\n")
                .arg(Values::printable(name)));
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h")))
        return write(stdout, commandHelp(*command));

    Context c(*command);
    QString error;
    if (!c.args.parse(arguments.mid(1), command->options + commonOptions(), &error)
        || !(error = sessionOptions(c.args, &c.options)).isEmpty()
        || (name != QLatin1String("serve")
            && !(error = serverOptions(c.args, &c.server, &c.token)).isEmpty()))
        return write(
            stderr, QStringLiteral("zrhost %1: %2; see zrhost %1 --help\n").arg(name, error));
    // A command whose synopsis names no argument takes none.
    if (!c.args.positional.isEmpty()
        && (command->synopsis.isEmpty() || command->synopsis.startsWith(QLatin1String("[--"))))
        return write(stderr,
            QStringLiteral("zrhost %1: %1 takes no arguments; see zrhost %1 --help\n").arg(name));
    c.console.quiet = c.args.isSet("quiet");
    verboseOutput = c.args.isSet("verbose");
    c.console.json = c.args.isSet("json");
    c.console.progress = !c.args.isSet("no-progress") && !c.console.json;
    qInstallMessageHandler(messageHandler);
    // The panel is a window with an application of its own.
    if (name == QLatin1String("panel"))
        return command->run(c);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrhost"));
    // glibc's signal() restarts the calls a signal interrupts.
    for (const int signal : { SIGINT, SIGTERM })
        std::signal(signal, onSignal);
    const int code = command->run(c);
    if (code == ExitOk && c.options.cloud.isSet() && !c.cloudTried)
        c.console.error(
            QStringLiteral("%1 does not connect to a machine, so no cloud service was used")
                .arg(name));
    // What is still on its way to the machine leaves before the link closes.
    if (c.session && c.session->isUp())
        waitUntil([] { return false; }, 100);
    return code;
}
