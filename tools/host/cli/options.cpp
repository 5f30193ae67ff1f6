#include "options.h"

#include "console.h"
#include "values.h"

#include <algorithm>

bool Arguments::parse(const QStringList& arguments, const QList<Option>& allowed, QString* error)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("-") || !argument.startsWith(QLatin1Char('-'))
            || argument.at(1).isDigit()) {
            positional.append(argument);
            continue;
        }
        const bool isLong = argument.startsWith(QLatin1String("--"));
        const int equals = isLong ? argument.indexOf(QLatin1Char('=')) : -1;
        const QString name = argument.mid(isLong ? 2 : 1, equals < 0 ? -1 : equals - 2);
        const auto option = std::find_if(allowed.cbegin(), allowed.cend(),
            [&](const Option& o) { return isLong ? o.name == name : QString(o.letter) == name; });
        if (option == allowed.cend()) {
            *error = QStringLiteral("there is no option %1").arg(argument);
            return false;
        }
        QString value = equals < 0 ? QString() : argument.mid(equals + 1);
        if (!option->value.isEmpty() && equals < 0) {
            if (++i >= arguments.size()) {
                *error = QStringLiteral("--%1 wants a value").arg(option->name);
                return false;
            }
            value = arguments.at(i);
        }
        bool ok = true;
        const double number = option->isNumber() ? value.toDouble(&ok) : 0;
        if (option->isNumber() && (!ok || !(number >= option->min && number <= option->max))) {
            *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                         .arg(option->name, QString::number(option->min),
                             QString::number(option->max), value);
            return false;
        }
        m_values.insert(option->name, value);
    }
    return true;
}

double Arguments::number(const QString& name, double fallback) const
{
    return isSet(name) ? m_values.value(name).toDouble() : fallback;
}

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
    };
}
// clang-format on

namespace {

// The address in the option, if it is one of the schemes with a host; invalid otherwise.
QUrl address(const Arguments& a, const char* name, const QStringList& schemes)
{
    const QUrl url(a.text(name), QUrl::StrictMode);
    return url.isValid() && schemes.contains(url.scheme()) && !url.host().isEmpty()
            && !url.hasQuery() && !url.hasFragment()
        ? url
        : QUrl();
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
    const QString unlike = QStringLiteral("--%1 wants %2 address such as %3, not \"%4\"");
    if (a.isSet("cloud")) {
        cloud->httpBase = address(a, "cloud", { "http", "https" });
        if (cloud->httpBase.isEmpty())
            return unlike.arg(QStringLiteral("cloud"), QStringLiteral("an http:// or https://"),
                QStringLiteral("http://127.0.0.1:8700/api/"), Values::printable(a.text("cloud")));
    }
    if (a.isSet("cloud-ws")) {
        QUrl ws = address(a, "cloud-ws", { "ws", "wss" });
        if (ws.isEmpty())
            return unlike.arg(QStringLiteral("cloud-ws"), QStringLiteral("a ws:// or wss://"),
                QStringLiteral("ws://127.0.0.1:8701/api/"), Values::printable(a.text("cloud-ws")));
        // The device appends its code without a separator; the base is a folder.
        if (!ws.path().endsWith(QLatin1Char('/')))
            ws.setPath(ws.path() + QLatin1Char('/'));
        cloud->wsBase = ws.toString();
    }
    cloud->token = a.text("cloud-token");
    for (const QChar ch : qAsConst(cloud->token)) {
        if (ch.isSpace() || ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            return QStringLiteral("--cloud-token may not hold spaces or control characters");
    }
    cloud->deviceCode = a.text("device-code");
    if (a.isSet("device-code") && !CloudOptions::isValidDeviceCode(cloud->deviceCode))
        return QStringLiteral(
            "--device-code wants letters, digits, '-', '_' and '.' (at most 64), not \"%1\"")
            .arg(Values::printable(cloud->deviceCode));
    cloud->requestTimeoutMs = int(a.number("cloud-timeout", 5) * 1000);
    return QString();
}

QString machineOptions(const Arguments& a, SessionOptions* s)
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
    return QString();
}

} // namespace

bool sessionOptions(const Arguments& arguments, SessionOptions* options, QString* error)
{
    *error = machineOptions(arguments, options);
    if (error->isEmpty())
        *error = cloudOptions(arguments, &options->cloud);
    return error->isEmpty();
}
