// zrsim: a simulated ZR-TX4150V cutter on TCP and/or a pseudo-terminal, for trying the host and
// the device plugin without a machine. simmachine.h lists what it answers.

#include "simmachine.h"
#include "simptyfront.h"
#include "simtcpfront.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

// Quits the application cleanly on SIGINT and SIGTERM.
void quitOnSignals(QCoreApplication* app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        app->quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct Arguments {
    SimOptions options;
    bool tcp = true;
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 9100;
    bool pty = false;
    QString ptyLink;
    bool verbose = false;
};

[[noreturn]] void fail(const QString& message)
{
    QTextStream(stderr) << "zrsim: " << message << "\n";
    std::exit(2);
}

double number(const QCommandLineParser& parser, const QString& name, double min, double max)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < min || value > max)
        fail(QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(min)
                 .arg(max)
                 .arg(parser.value(name)));
    return value;
}

Arguments parseArguments(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a ZR-TX4150V flatbed cutter for the device plugin and its host: register reads and\n"
        "writes, heartbeat, machine information, cutting jobs with progress reports paced by the\n"
        "cut path, QR-code jobs, pause/resume/stop and jogging. It listens on TCP and/or serves a\n"
        "pseudo-terminal that the USB transport opens like the machine's tty. Fault options make\n"
        "it a difficult machine on purpose, for tests. Stop it with Ctrl+C."));
    parser.addHelpOption();

    // clang-format off
    const QList<QCommandLineOption> options = {
        { { "p", "port" }, "TCP port to listen on (default 9100; 0 picks a free port and prints it).", "port", "9100" },
        { { "a", "address" }, "Address to listen on (default 127.0.0.1; 0.0.0.0 for every interface).", "address", "127.0.0.1" },
        { "no-tcp", "Do not listen on TCP (use with --pty)." },
        { "pty", "Also serve the machine on a pseudo-terminal and print its slave path, the path to hand to the host as the USB device." },
        { "pty-link", "Keep a symbolic link at <path> to the pseudo-terminal's slave, which changes after a hang-up (implies --pty).", "path" },
        { { "s", "speed" }, "Cutting speed in mm/s that paces jobs (default: station 1's speed register 1, 300 mm/s at start).", "mm/s" },
        { "report-interval", "Milliseconds between progress reports while cutting (default 500, at least 10).", "ms", "500" },
        { "heartbeat", "Heartbeat period in seconds that the machine's heartbeat reply asks for (default 2).", "seconds", "2" },
        { "qr-names", "Comma-separated QR-code texts the machine reads, one per copy, in turn (default qr-0001.plt, qr-0002.plt, ...).", "names" },
        { "qr-delay", "Milliseconds the machine takes to read a QR code (default 300).", "ms", "300" },
        { "machine-number", "Machine number reported by the information read (CCMD 2).", "text" },
        { "board-number", "Board number reported by the information read.", "text" },
        { "board-version", "Board version reported by the information read.", "text" },
        { "firmware", "Firmware version reported by the information read.", "text" },
        { "config-number", "Configuration number reported by the information read.", "text" },
        { "unique-id", "Unique id reported by CCMD 57.", "text" },
        { "seed", "Seed of every random choice the faults make; the same seed repeats a run byte for byte (default 1).", "n", "1" },
        { "chunks", "Fault: write output in random pieces of 1 to <max> bytes.", "max", "0" },
        { "chunk-gap", "Milliseconds between those pieces (default 1).", "ms", "1" },
        { "junk", "Fault: put 1 to <max> random bytes (never STX) before every frame.", "max", "0" },
        { "drop-after", "Fault: hang up a link once it has received <n> frames (each new link counts afresh).", "n", "0" },
        { "drop-at", "Fault: hang up every link once a job reaches <percent> (once per job; the job goes on cutting).", "percent" },
        { "delay", "Fault: every frame leaves <ms> after it was made.", "ms", "0" },
        { "malformed-every", "Fault: after every <n> good frames send one malformed frame (too short, unknown head, no ';' before ETX, register number not a number, in turn).", "n", "0" },
        { "silent-after", "Fault: the machine hangs once a link has received <n> frames: the connection stays up, but it reads nothing, answers nothing and its job stands still.", "n", "0" },
        { "silent-at", "Fault: the machine hangs like that once a job reaches <percent>.", "percent" },
        { "restart-at", "Fault: the machine restarts once a job reaches <percent>: links hang up, the job is gone, file jobs are numbered from 1 again.", "percent" },
        { "noise", "Fault: send noise instead of the machine's frames: 'unterminated' (an STX and a frame's start, then bytes without ETX, without end) or 'garbage' (random bytes).", "kind" },
        { "noise-after", "Start the noise once a link has received <n> frames (default 0: at once).", "n", "0" },
        { "noise-rate", "Bytes of noise per second (default 1048576).", "bytes", "1048576" },
        { { "v", "verbose" }, "Log every frame in and out, and what the machine does." },
    };
    // clang-format on
    parser.addOptions(options);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\"; see --help")
                 .arg(parser.positionalArguments().first()));

    Arguments args;
    SimOptions& o = args.options;
    args.port = quint16(number(parser, "port", 0, 65535));
    args.address = parser.value("address");
    args.tcp = !parser.isSet("no-tcp");
    args.ptyLink = parser.value("pty-link");
    args.pty = parser.isSet("pty") || !args.ptyLink.isEmpty();
    args.verbose = parser.isSet("verbose");
    if (!args.tcp && !args.pty)
        fail(QStringLiteral("--no-tcp leaves nothing to serve; add --pty"));
    if (parser.isSet("speed"))
        o.speedMmPerSecond = number(parser, "speed", 0.001, 1e7);
    o.reportIntervalMs = int(number(parser, "report-interval", 10, 3600000));
    o.heartbeatSeconds = int(number(parser, "heartbeat", 1, 3600));
    if (parser.isSet("qr-names"))
        o.qrNames = parser.value("qr-names").split(',', Qt::SkipEmptyParts);
    o.qrScanMs = int(number(parser, "qr-delay", 0, 3600000));
    const auto text = [&](const char* name, QString* field) {
        if (parser.isSet(name))
            *field = parser.value(name);
    };
    text("machine-number", &o.machineNumber);
    text("board-number", &o.boardNumber);
    text("board-version", &o.boardVersion);
    text("firmware", &o.firmware);
    text("config-number", &o.configNumber);
    text("unique-id", &o.uniqueId);
    o.seed = quint32(number(parser, "seed", 0, 4294967295.0));
    o.chunkMax = int(number(parser, "chunks", 0, 1 << 20));
    o.chunkGapMs = int(number(parser, "chunk-gap", 0, 60000));
    o.junkMax = int(number(parser, "junk", 0, 1 << 20));
    o.dropAfterFrames = int(number(parser, "drop-after", 0, 1e9));
    if (parser.isSet("drop-at"))
        o.dropAtPercent = number(parser, "drop-at", 0, 100);
    o.replyDelayMs = int(number(parser, "delay", 0, 3600000));
    o.malformedEvery = int(number(parser, "malformed-every", 0, 1e9));
    o.silentAfterFrames = int(number(parser, "silent-after", 0, 1e9));
    if (parser.isSet("restart-at"))
        o.restartAtPercent = number(parser, "restart-at", 0, 100);
    if (parser.isSet("silent-at"))
        o.silentAtPercent = number(parser, "silent-at", 0, 100);
    if (parser.isSet("noise")) {
        const QString kind = parser.value("noise");
        if (kind == QLatin1String("unterminated"))
            o.noise = SimOptions::Noise::Unterminated;
        else if (kind == QLatin1String("garbage"))
            o.noise = SimOptions::Noise::Garbage;
        else
            fail(QStringLiteral("--noise is unterminated or garbage, not \"%1\"").arg(kind));
    }
    o.noiseAfterFrames = int(number(parser, "noise-after", 0, 1e9));
    o.noiseBytesPerSecond = int(number(parser, "noise-rate", 100, 1e9));
    return args;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrsim"));
    const Arguments args = parseArguments(app);
    quitOnSignals(&app);

    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    const auto print = [&](const QString& line) {
        out << QStringLiteral("[%1] ").arg(clock.elapsed() / 1000.0, 9, 'f', 3) << line << Qt::endl;
    };

    SimMachine machine(args.options);
    if (args.verbose) {
        QObject::connect(&machine, &SimMachine::logLine, &app, print);
    } else {
        QObject::connect(&machine, &SimMachine::jobStarted, &app, [&](const QByteArray& name) {
            print(QStringLiteral("job started %1").arg(QString::fromUtf8(name)));
        });
        QObject::connect(
            &machine, &SimMachine::jobEnded, &app, [&](const QByteArray& name, int status) {
                print(QStringLiteral("job %1 %2")
                          .arg(QString::fromUtf8(name),
                              status == SimMachine::Finished ? "finished" : "stopped"));
            });
    }

    SimTcpFront tcp(&machine);
    if (args.tcp) {
        QHostAddress address;
        if (!address.setAddress(args.address))
            fail(QStringLiteral("\"%1\" is not an IP address").arg(args.address));
        if (!tcp.listen(address, args.port))
            fail(QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(args.address)
                     .arg(args.port)
                     .arg(tcp.errorString()));
        print(QStringLiteral("%1 listening on tcp %2:%3")
                  .arg(QString::fromLatin1(machine.model()), tcp.address().toString())
                  .arg(tcp.port()));
    }
    SimPtyFront pty(&machine);
    if (args.pty) {
        pty.setLinkPath(args.ptyLink);
        QObject::connect(&pty, &SimPtyFront::slavePathChanged, &app, [&](const QString& path) {
            print(QStringLiteral("%1 on pty %2%3")
                      .arg(QString::fromLatin1(machine.model()), path,
                          args.ptyLink.isEmpty() ? QString()
                                                 : QStringLiteral(" (link %1)").arg(args.ptyLink)));
        });
        if (!pty.open())
            fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(pty.errorString()));
    }

    const int status = app.exec();
    const SimCounters& c = machine.counters();
    print(QStringLiteral("stopped: %1 frames in (%2 rejected), %3 out, %4 links (%5 dropped), "
                         "%6 jobs (%7 finished, %8 stopped), %9 copies, %10 mm cut")
              .arg(c.framesReceived)
              .arg(c.framesRejected)
              .arg(c.framesSent)
              .arg(c.linksOpened)
              .arg(c.linksDropped)
              .arg(c.jobsStarted)
              .arg(c.jobsFinished)
              .arg(c.jobsStopped)
              .arg(c.copiesCut)
              .arg(c.pathCutMm, 0, 'f', 1));
    return status;
}
