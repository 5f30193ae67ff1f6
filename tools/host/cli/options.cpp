#include "options.h"

#include "console.h"
#include "service.h"
#include "zrdevicehost.h"

namespace {

const char exitCodes[] = R"(Exit codes:
  0    done: every value read or confirmed, the job finished
  1    the machine refused, did not answer a request, is busy with another job, or ended the job
       unfinished
  2    bad command line, no machine given, unknown parameter, value that does not fit or read-only,
       unusable cut file or settings file
  3    no device plugin could be loaded (see --plugin-dir)
  4    the machine or its machine service could not be reached or did not answer (see --timeout),
       or a machine service holds the machine (see --take-over)
  5    the link went down, the machine went silent past --lost-after, or the service went away
  130  stopped by the user (Ctrl-C); a job is stopped cleanly first
)";

// The address given as --name, if it has one of the schemes and a host; else the error in *error.
QUrl address(const QString& text, const char* name, const QStringList& schemes,
    const QString& wanted, QString* error)
{
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && schemes.contains(url.scheme()) && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment())
        return url;
    *error
        = QStringLiteral("--%1 wants %2, not \"%3\"").arg(name, wanted, ZRDevice::printable(text));
    return QUrl();
}

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

} // namespace

// The options every command takes: where the machine is, its time-outs, the output, the cloud.
// clang-format off
QList<Option> commonOptions()
{
    return {
        { "ip", "address", "The machine's IP address or host name; connects to it directly over TCP." },
        { "port", "port", "The machine's TCP port (default 9100).", 1, 65535 },
        { "usb", "path", "The machine's USB port, a character device such as /dev/ttyACM0; connects to it directly." },
        { "direct", QString(), "Connect directly to the machine the settings name, not through the machine service." },
        { "simulator", QString(), "Start the simulated machine inside this program and connect to it." },
        { "take-over", QString(), "Connect directly even to a machine a machine service holds (its link goes)." },
        { "plugin-dir", "dir", "Folder holding the device plugin (default: beside the program)." },
        { "heartbeat", "seconds", "Heartbeat period, set on the device and told to the machine.", 1, 600 },
        { "speed", "mm/s", "Cutting speed of the simulated machine (default: its station 1 speed).", 0.001, 1e7 },
        { "timeout", "seconds", "How long to wait for the machine to connect (default 10).", 0.1, 3600 },
        { "reply-timeout", "ms", "How long to wait for each answer of the machine (default 1000).", 1, 600000 },
        { "lost-after", "seconds", "How long the machine may send nothing before it counts as lost (default 10).", 1, 86400 },
        { "quiet", QString(), "Print only results and errors.", 0, 0, QLatin1Char('q') },
        { "verbose", QString(), "Also print the device's diagnostics and the simulator's log.", 0, 0, QLatin1Char('v') },
        { "no-progress", QString(), "No progress line during a job." },
        { "units", "mm|inch", "Show and take lengths in mm or inches (default: the settings' units, else mm)." },
        { "cloud", "url", "HTTP base of a cloud service, such as http://127.0.0.1:8700/api/: the device registers there." },
        { "cloud-ws", "url", "WebSocket base of that service, such as ws://127.0.0.1:8701/api/, for the remote channel." },
        { "cloud-token", "token", "Bearer token sent with every request to the cloud service." },
        { "device-code", "code", "The machine's device code for the cloud service (default: its machine number)." },
        { "cloud-embedded", QString(), "Start the project's local cloud service in this program and use it." },
        { "cloud-timeout", "seconds", "How long to wait for each answer of the cloud service (default 5).", 0.1, 600 },
        { "server", "url", "Work through this machine service (zrhost serve), such as ws://127.0.0.1:9190; ZRHOST_SERVER gives it too\n(default: the settings' service)." },
        { "token", "token", "The token the machine service wants (ZRHOST_TOKEN gives it too; default: the settings'); for serve,\nthe one it wants of clients." },
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
        { "place", "where", "origin: the design's lower-left corner at the table's origin plus the margin (the default); center: in the middle of the table; keep: where the file has it." },
        { "margin", "mm", "Between the table's origin and the design placed there (default 5).", 0, 1000 },
        { "fit", QString(), "Shrink the design (all copies) to the largest size that fits the table, if it does not." },
        { "enlarge", QString(), "With --fit: enlarge a smaller design to that size too." },
        { "text", "mode", "outline: cut text along its letters (the default); skip: leave it out (and say how much)." },
        { "layers", "names", "Cut only these layers, pens or colours (a,b; see zrhost layers)." },
        { "skip-layers", "names", "Leave these layers out." },
        { "layer-order", "names", "Cut these layers first, one after the other, each ordered on its own." },
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

static QString cloudOptions(const Arguments& a, CloudOptions* cloud)
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
            .arg(ZRDevice::printable(cloud->deviceCode));
    cloud->requestTimeoutMs = int(a.number("cloud-timeout", 5) * 1000);
    return QString();
}

QString sessionOptions(const Arguments& a, SessionOptions* s)
{
    s->pluginDir = a.text("plugin-dir");
    s->heartbeatSeconds = int(a.number("heartbeat", 0));
    s->simulator.speedMmPerSecond = a.number("speed", 0);
    // Progress worth watching: the embedded machine reports four times a second.
    s->simulator.reportIntervalMs = 250;
    s->connectTimeoutMs = int(a.number("timeout", 10) * 1000);
    s->replyTimeoutMs = int(a.number("reply-timeout", 1000));
    s->lostAfterMs = int(a.number("lost-after", 10) * 1000);
    return cloudOptions(a, &s->cloud);
}

QString placeOptions(const Arguments& a, bool serving, Settings* settings, SessionOptions* s,
    QUrl* server, QString* token, bool* given)
{
    QString error;
    if (!Settings::read(settings, &error))
        return error;
    if (a.isSet("ip") && a.isSet("usb"))
        return QStringLiteral("--ip and --usb name two machines; give one");
    const bool named = a.isSet("ip") || a.isSet("usb");
    const bool direct = named || a.isSet("direct") || a.isSet("simulator");
    if (int(named) + a.isSet("direct") + a.isSet("simulator") + a.isSet("server") > 1)
        return QStringLiteral("--ip or --usb, --direct, --simulator and --server are ways to the "
                              "machine; give one");
    if (a.isSet("ip") && a.text("ip").trimmed().isEmpty())
        return QStringLiteral("--ip wants an address");
    if (a.isSet("port") && !a.isSet("ip"))
        return QStringLiteral("--port needs --ip");
    if (a.isSet("speed") && !a.isSet("simulator"))
        return QStringLiteral(
            "--speed is for the simulated machine (--simulator); a machine cuts at its own speed");
    if (a.isSet("take-over") && !serving && !(named || a.isSet("direct")))
        return QStringLiteral("--take-over is for a command that connects to the machine itself "
                              "(--ip, --usb or --direct)");
    *given = true;
    if (a.isSet("usb"))
        s->target = MachineTarget::usb(a.text("usb"));
    else if (a.isSet("ip"))
        s->target = MachineTarget::tcp(a.text("ip").trimmed(), quint16(a.number("port", 9100)));
    else if (a.isSet("simulator"))
        s->target = MachineTarget();
    else if (a.isSet("direct") || serving)
        *given = settings->hasMachine;
    if (*given && (a.isSet("direct") || (serving && !direct)))
        s->target = settings->machine;
    if (a.isSet("direct") && !settings->hasMachine)
        return QStringLiteral("--direct connects to the machine the settings name, and %1 names "
                              "none (zrhost config machine=ADDRESS[:PORT] names it)")
            .arg(Settings::path());
    // Serving, the token is the one clients must show.
    *token = a.isSet("token") ? a.text("token")
        : serving             ? QString()
                              : qEnvironmentVariable("ZRHOST_TOKEN");
    if (!isPlainToken(*token))
        return QStringLiteral("--token may not hold spaces or control characters");
    if (direct || serving) {
        if (token->isEmpty() && serving)
            *token = settings->token;
        return QString();
    }
    const QString asked
        = a.isSet("server") ? a.text("server") : qEnvironmentVariable("ZRHOST_SERVER");
    *server = asked.isEmpty() ? settings->serviceUrl()
                              : address(asked, "server", { "ws", "wss" },
                                  QStringLiteral("a ws:// address such as ws://127.0.0.1:%1")
                                      .arg(Settings::defaultServicePort),
                                  &error);
    if (!error.isEmpty())
        return error;
    *given = !server->isEmpty();
    // The settings' token goes to the settings' service, not to one named elsewhere.
    if (token->isEmpty() && *server == settings->serviceUrl())
        *token = settings->token;
    for (const char* name : { "heartbeat", "cloud", "cloud-embedded" }) {
        if (*given && a.isSet(name))
            return QStringLiteral("--%1 is for the machine service (zrhost serve), which holds the "
                                  "machine; not for a command that works through it (--direct "
                                  "connects to the machine itself)")
                .arg(name);
    }
    return QString();
}

QString mainHelp()
{
    QList<QStringList> rows;
    for (const Command& command : commands())
        rows.append({ QStringLiteral("  ") + command.call(), command.summary });
    return QStringLiteral(R"(Usage: zrhost COMMAND [arguments] [options]

The project's host for the ZR-TX4150V device plugin. It loads the plugin as any host does and
drives the machine through a device. Every command works through the machine service (zrhost
serve) the settings file names (see zrhost config), or the one --server names; it connects to a
machine itself only with --ip, --usb or --direct (the settings' machine), or to the simulated
machine it starts inside itself with --simulator. With --cloud (or --cloud-embedded) the device
registers with a cloud service; what fails with the service is told and does not stop the command.

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
