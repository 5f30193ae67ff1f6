#include "panelcommand.h"

#include "connectionbar.h"
#include "deviceplugin.h"
#include "embeddedmachine.h"
#include "parameterpanel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {

// Long enough for a slow machine to connect and answer every read.
constexpr int screenshotTimeoutMs = 20000;
// Lets the last refreshed editors paint before the window is grabbed.
constexpr int screenshotDelayMs = 300;

int fail(const QString& message)
{
    QTextStream(stderr) << "zrhost panel: " << message << "\n";
    return 2;
}

} // namespace

int runPanelCommand(int argc, char** argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The parameter panel of the ZR-TX4150V: connect, read and write the "
                       "machine's parameters, jog the head, pause, resume and stop jobs."));
    const QCommandLineOption help(
        { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Shows this help."));
    parser.addPositionalArgument(QStringLiteral("panel"), QStringLiteral("Opens the panel."));
    const QCommandLineOption ip(QStringLiteral("ip"),
        QStringLiteral("Connect over TCP to the machine at <address>."), QStringLiteral("address"));
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("TCP port of the machine (default 9100)."), QStringLiteral("port"));
    const QCommandLineOption usb(QStringLiteral("usb"),
        QStringLiteral("Connect over USB to the machine at <path>, e.g. /dev/ttyUSB0."),
        QStringLiteral("path"));
    const QCommandLineOption simulator(QStringLiteral("simulator"),
        QStringLiteral("Start a simulated machine in this program (TCP on 127.0.0.1, a free "
                       "port) and connect to it."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Once the values are read, save the window as <file> and quit."),
        QStringLiteral("file"));
    const QCommandLineOption plugins(QStringLiteral("plugins"),
        QStringLiteral("Load the device plugin from <folder>."), QStringLiteral("folder"));
    parser.addOptions({ help, ip, port, usb, simulator, screenshot, plugins });
    // Read before the application exists: help and mistakes need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        QCoreApplication textOnly(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("zrhost"));
        QTextStream(stdout) << parser.helpText().replace(
            QStringLiteral("[options] panel"), QStringLiteral("panel [options]"));
        return 0;
    }
    if (parser.positionalArguments().size() > 1)
        return fail(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().at(1)));

    quint16 tcpPort = 0;
    if (parser.isSet(port)) {
        bool ok = false;
        const uint value = parser.value(port).toUInt(&ok);
        if (!ok || value < 1 || value > 65535)
            return fail(QStringLiteral("--port wants a number from 1 to 65535, not \"%1\"")
                            .arg(parser.value(port)));
        tcpPort = quint16(value);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zrhost"));
    DevicePlugin plugin;
    if (!plugin.load(parser.value(plugins)))
        return fail(plugin.errorString());

    // The simulated machine outlives the panel, so the device closes its link to it first.
    std::unique_ptr<EmbeddedMachine> embedded;
    if (parser.isSet(simulator)) {
        embedded = std::make_unique<EmbeddedMachine>();
        if (!embedded->listenTcp())
            return fail(embedded->errorString());
    }

    ParameterPanel panel(plugin.factory());
    if (!panel.device())
        return fail(QStringLiteral("the plugin %1 gave no device").arg(plugin.fileName()));
    panel.show();

    if (embedded)
        panel.connectTcp(QStringLiteral("127.0.0.1"), embedded->tcpFront()->port());
    else if (parser.isSet(usb))
        panel.connectUsb(parser.value(usb));
    else if (parser.isSet(ip))
        panel.connectTcp(parser.value(ip), tcpPort ? tcpPort : 9100);
    else if (tcpPort)
        panel.connectionBar()->setTcp(QString(), tcpPort);

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        const auto save = [&panel, &app, file](bool read) {
            if (!panel.grab().save(file)) {
                fail(QStringLiteral("cannot write %1").arg(file));
                app.exit(1);
                return;
            }
            if (!read)
                QTextStream(stderr)
                    << "zrhost panel: no values were read; saved " << file << " anyway\n";
            app.exit(read ? 0 : 1);
        };
        QObject::connect(&panel, &ParameterPanel::readFinished, &app,
            [save] { QTimer::singleShot(screenshotDelayMs, [save] { save(true); }); });
        QTimer::singleShot(screenshotTimeoutMs, &app, [save] { save(false); });
    }
    return app.exec();
}
