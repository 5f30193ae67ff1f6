#include "hostoptions.h"

#include <QCommandLineParser>

namespace {

bool number(const QCommandLineParser& parser, const QString& name, double min, double max,
    double* value, QString* error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double parsed = parser.value(name).toDouble(&ok);
    if (!ok || !(parsed >= min && parsed <= max)) {
        *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                     .arg(name)
                     .arg(min)
                     .arg(max)
                     .arg(parser.value(name));
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

QList<QCommandLineOption> HostOptions::options()
{
    // clang-format off
    const QList<QCommandLineOption> machine {
        { "ip", "The machine's IP address (or host name); connects over TCP.", "address" },
        { "port", "The machine's TCP port (default 9100).", "port" },
        { "usb", "The machine's USB port, its character device such as /dev/ttyACM0.", "path" },
        { "plugin-dir", "Folder holding the device plugin (default: beside the program).", "dir" },
        { "heartbeat", "Heartbeat period in seconds, set on the device and told to the machine.", "seconds" },
        { "speed", "Cutting speed of the embedded simulator in mm/s (default: its station 1 speed, 300).", "mm/s" },
        { "timeout", "Seconds to wait for the machine to connect (default 10).", "seconds" },
        { "reply-timeout", "Milliseconds to wait for each answer of the machine (default 1000).", "ms" },
        { { "q", "quiet" }, "Print only results and errors." },
        { { "v", "verbose" }, "Also print the device's diagnostics and the embedded simulator's log." },
        { "no-progress", "No progress line during a job." },
    };
    // clang-format on
    return machine + CloudOptions::options();
}

bool HostOptions::read(const QCommandLineParser& parser, HostOptions* options, QString* error)
{
    SessionOptions& session = options->session;
    options->quiet = parser.isSet("quiet");
    options->verbose = parser.isSet("verbose");
    options->progress = !parser.isSet("no-progress") && !options->quiet;
    session.pluginDir = parser.value("plugin-dir");

    if (parser.isSet("ip") && parser.isSet("usb")) {
        *error = QStringLiteral("--ip and --usb name two machines; give one");
        return false;
    }
    double port = 9100;
    if (!number(parser, "port", 1, 65535, &port, error))
        return false;
    if (parser.isSet("usb")) {
        session.target = MachineTarget::usb(parser.value("usb"));
    } else if (parser.isSet("ip")) {
        session.target = MachineTarget::tcp(parser.value("ip"), quint16(port));
    } else if (parser.isSet("port")) {
        *error = QStringLiteral("--port needs --ip");
        return false;
    }

    double heartbeat = 0;
    double speed = 0;
    double timeout = defaultConnectTimeoutS;
    double reply = defaultReplyTimeoutMs;
    if (!number(parser, "heartbeat", 1, 600, &heartbeat, error)
        || !number(parser, "speed", 0.001, 1e7, &speed, error)
        || !number(parser, "timeout", 0.1, 3600, &timeout, error)
        || !number(parser, "reply-timeout", 1, 600000, &reply, error))
        return false;
    if (parser.isSet("speed") && session.target.kind != MachineTarget::Embedded) {
        *error = QStringLiteral(
            "--speed is for the embedded simulator; a machine cuts at its own speed");
        return false;
    }
    session.heartbeatSeconds = int(heartbeat);
    session.simulator.speedMmPerSecond = speed;
    // Progress worth watching: the embedded machine reports four times a second.
    session.simulator.reportIntervalMs = 250;
    session.connectTimeoutMs = int(timeout * 1000);
    options->replyTimeoutMs = int(reply);
    return CloudOptions::read(parser, &session.cloud, error);
}
