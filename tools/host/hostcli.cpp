#include "hostcli.h"

#include "columntable.h"
#include "commands/getcommand.h"
#include "commands/infocommand.h"
#include "commands/jobcommand.h"
#include "commands/jogcommand.h"
#include "commands/listcommand.h"
#include "commands/monitorcommand.h"
#include "commands/previewcommand.h"
#include "commands/setcommand.h"
#include "commands/taskcontrolcommand.h"
#include "exitcode.h"
#include "hostcommand.h"
#include "hostcontext.h"
#include "hostoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

bool verboseOutput = false;

// The device writes diagnostics to Qt's debug output; they are for --verbose.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verboseOutput)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString exitCodesText()
{
    return QStringLiteral(
        "Exit codes:\n"
        "  0    done (the job finished, every value was read or confirmed)\n"
        "  1    the machine refused, did not answer, or ended the job unfinished\n"
        "  2    bad command line, unknown parameter, value that does not fit, unusable cut file\n"
        "  3    no device plugin could be loaded (see --plugin-dir)\n"
        "  4    the machine could not be reached within the time-out (see --timeout)\n"
        "  5    the link to the machine went down while the command ran\n"
        "  130  stopped by the user (Ctrl-C, or the s key during a job); a job is stopped "
        "cleanly\n");
}

// The option lines of Qt's help text for these options.
QString optionLines(const QList<QCommandLineOption>& options)
{
    QCommandLineParser parser;
    parser.addOptions(options);
    parser.addHelpOption();
    const QString text = parser.helpText();
    const int at = text.indexOf(QLatin1String("Options:"));
    return at < 0 ? QString() : text.mid(at).trimmed() + QLatin1Char('\n');
}

QString usage(const QString& command)
{
    return QStringLiteral("Usage: zrhost [options] %1\n").arg(command);
}

} // namespace

HostCli::HostCli()
{
    m_commands.emplace_back(new ListCommand);
    m_commands.emplace_back(new InfoCommand);
    m_commands.emplace_back(new GetCommand);
    m_commands.emplace_back(new SetCommand);
    m_commands.emplace_back(new JobCommand);
    m_commands.emplace_back(new TaskControlCommand(TaskControlCommand::Pause));
    m_commands.emplace_back(new TaskControlCommand(TaskControlCommand::Resume));
    m_commands.emplace_back(new TaskControlCommand(TaskControlCommand::Stop));
    m_commands.emplace_back(new JogCommand);
    m_commands.emplace_back(new MonitorCommand);
    m_commands.emplace_back(new PreviewCommand);
}

HostCli::~HostCli() = default;

HostCommand* HostCli::command(const QString& name) const
{
    for (const auto& command : m_commands) {
        if (command->name() == name)
            return command.get();
    }
    return nullptr;
}

QString HostCli::helpText() const
{
    ColumnTable commands;
    for (const auto& command : m_commands) {
        const QString call = (command->name() + QLatin1Char(' ') + command->synopsis()).trimmed();
        commands.addRow({ QStringLiteral("  ") + call, command->summary() });
    }
    commands.addRow({ QStringLiteral("  panel [options]"),
        QStringLiteral("open the parameter panel window (zrhost panel --help)") });
    return usage(QStringLiteral("COMMAND [arguments]"))
        + QStringLiteral(
            "\n"
            "The project's command-line host for the ZR-TX4150V device plugin. It loads the "
            "plugin\n"
            "as any host does, builds a device and drives the machine through it. Without --ip or\n"
            "--usb it starts the project's simulated machine inside itself, on 127.0.0.1 (the\n"
            "embedded simulator); --speed sets how fast that machine cuts.\n"
            "\n"
            "With --cloud URL (and --cloud-ws URL) the device registers with that cloud service\n"
            "once connected, under --device-code or else the machine number read from the\n"
            "machine, opens its remote channel, and posts a work record when a job is closed.\n"
            "--cloud-embedded starts the project's local cloud service in the program instead.\n"
            "What fails with the service is told and does not stop the command.\n"
            "\n"
            "Commands:\n")
        + commands.render() + QStringLiteral("\n")
        + optionLines(HostOptions::options()
            + QList<QCommandLineOption> { { "version", "Show the version." } })
        + QStringLiteral("\n") + exitCodesText()
        + QStringLiteral("\n\"zrhost COMMAND --help\" tells more about a command.\n");
}

QString HostCli::helpText(const HostCommand& command) const
{
    return usage((command.name() + QLatin1Char(' ') + command.synopsis()).trimmed())
        + QStringLiteral("\n") + command.description() + QStringLiteral("\n\n")
        + optionLines(command.options() + HostOptions::options()) + QStringLiteral("\n")
        + exitCodesText();
}

int HostCli::run(const QStringList& arguments)
{
    // Which command it is decides which options there are, so a first pass knows them all.
    QList<QCommandLineOption> every = HostOptions::options();
    for (const auto& command : m_commands)
        every += command->options();
    QCommandLineParser scan;
    scan.addOptions(every);
    scan.addHelpOption();
    scan.addOption({ QStringLiteral("version"), QStringLiteral("Show the version.") });
    const bool scanned = scan.parse(arguments);
    const QString name = scan.positionalArguments().value(0);

    if (name.isEmpty()) {
        if (scanned && scan.isSet(QStringLiteral("version"))) {
            write(
                stdout, QStringLiteral("zrhost %1\n").arg(QCoreApplication::applicationVersion()));
            return ExitOk;
        }
        if (scanned && scan.isSet(QStringLiteral("help"))) {
            write(stdout, helpText());
            return ExitOk;
        }
        write(stderr,
            scanned ? QStringLiteral("zrhost: no command given; see zrhost --help\n")
                    : QStringLiteral("zrhost: %1; see zrhost --help\n").arg(scan.errorText()));
        return ExitUsage;
    }
    HostCommand* command = this->command(name);
    // The panel is a window with an application of its own, decided before any other starts.
    if (name == QLatin1String("panel")) {
        write(stderr,
            QStringLiteral(
                "zrhost: the panel opens with \"zrhost panel [options]\", panel first\n"));
        return ExitUsage;
    }
    if (!command) {
        write(stderr,
            QStringLiteral("zrhost: there is no command \"%1\"; see zrhost --help\n").arg(name));
        return ExitUsage;
    }

    QCommandLineParser parser;
    parser.addOptions(command->options() + HostOptions::options());
    parser.addHelpOption();
    if (!parser.parse(arguments)) {
        write(stderr,
            QStringLiteral("zrhost %1: %2; see zrhost %1 --help\n").arg(name, parser.errorText()));
        return ExitUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        write(stdout, helpText(*command));
        return ExitOk;
    }
    HostOptions options;
    QString error;
    if (!HostOptions::read(parser, &options, &error)) {
        write(stderr, QStringLiteral("zrhost: %1\n").arg(error));
        return ExitUsage;
    }
    verboseOutput = options.verbose;
    qInstallMessageHandler(messageHandler);

    HostContext context(options);
    const int code = command->run(context, parser, parser.positionalArguments().mid(1));
    if (code == ExitOk && options.session.cloud.isSet() && !context.cloudTried()) {
        write(stderr,
            QStringLiteral("zrhost: %1 does not connect to a machine, so no cloud service was "
                           "used\n")
                .arg(name));
    }
    // What is still on its way to the machine leaves before the link closes.
    if (context.session().connector() && context.session().connector()->isConnected()) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return code;
}
