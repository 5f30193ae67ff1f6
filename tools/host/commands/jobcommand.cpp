#include "jobcommand.h"

#include "cutfile.h"
#include "exitcode.h"
#include "hostcontext.h"
#include "infocommand.h"
#include "jobrunner.h"
#include "parametertext.h"
#include "progressline.h"
#include "terminalkeys.h"

#include <QCommandLineParser>
#include <QJsonDocument>

#include <memory>
#include <unistd.h>

namespace {

QString copiesText(int copies)
{
    return copies == 1 ? QStringLiteral("1 copy") : QStringLiteral("%1 copies").arg(copies);
}

} // namespace

QString JobCommand::summary() const
{
    return QStringLiteral("cut a file with progress; keys p, r, s pause, resume, stop");
}

QString JobCommand::description() const
{
    return QStringLiteral(
        "Runs a cutting job as a host does: connects, shows the machine information, describes\n"
        "the file to the device (size, path length, preview), sends the copies and the cut data,\n"
        "starts the task and follows the machine's progress reports until it reports the job\n"
        "finished. Then the task is closed and the final task record and a summary are printed.\n"
        "\n"
        "On a terminal the keys p, r and s pause, resume and stop the job. Ctrl-C stops it\n"
        "cleanly: the machine is told to stop and the task is closed once it has (a second\n"
        "Ctrl-C closes it at once). If the link goes down the task record is printed as the\n"
        "last report left it.\n"
        "\n"
        "With a cloud service (--cloud, or --cloud-embedded for the project's local service in\n"
        "this program) the device registers before the job, sends a runtime report on its\n"
        "remote channel after each progress report, and posts its work record when the task is\n"
        "closed after at least one finished copy. The job then tells what the service answered;\n"
        "with --cloud-embedded it prints the work record the service received and how many\n"
        "runtime reports it collected. A service that fails is reported and the job runs on.");
}

QList<QCommandLineOption> JobCommand::options() const
{
    return { { "copies", "Copies to cut (default 1, at most 9999).", "n", "1" } };
}

int JobCommand::run(
    HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
{
    Console& console = context.console();
    if (arguments.size() != 1) {
        console.error(QStringLiteral("job needs one cut file"));
        return ExitUsage;
    }
    bool ok = false;
    const int copies = parser.value("copies").toInt(&ok);
    if (!ok || copies < 1 || copies > maxCopies) {
        console.error(QStringLiteral("--copies wants a number from 1 to %1, not \"%2\"")
                          .arg(maxCopies)
                          .arg(parser.value("copies")));
        return ExitUsage;
    }
    QString error;
    const CutFile file = CutFile::read(arguments.first(), &error);
    if (!file.isValid()) {
        console.error(error);
        return ExitUsage;
    }

    const int connected = context.connectMachine();
    if (connected != ExitOk)
        return connected;
    if (!console.isQuiet()) {
        const int info = InfoCommand::readAndPrint(context);
        if (info != ExitOk)
            return info;
    }
    const int attached = context.attachCloud();
    if (attached != ExitOk)
        return attached;

    console.note(QStringLiteral("Cutting %1: %2 × %3 mm, %4 mm to cut, %5.")
                     .arg(file.name())
                     .arg(file.outline().widthMm(), 0, 'f', 1)
                     .arg(file.outline().heightMm(), 0, 'f', 1)
                     .arg(file.outline().penDownLengthMm(), 0, 'f', 1)
                     .arg(copiesText(copies)));

    JobRunner runner(context.device());
    std::unique_ptr<ProgressLine> progress;
    if (context.options().progress) {
        progress.reset(new ProgressLine(stdout, Console::isTerminal(STDOUT_FILENO)));
        console.setProgress(progress.get());
        QObject::connect(&runner, &JobRunner::progress,
            [&](const TaskReport& report) { progress->update(report, runner.elapsedMs()); });
    }
    QObject::connect(&runner, &JobRunner::notice, [&](const QString& line) { console.note(line); });
    QObject::connect(
        &context.interrupts(), &InterruptWatcher::interrupted, &runner, &JobRunner::stop);

    std::unique_ptr<TerminalKeys> keys;
    if (!console.isQuiet() && Console::isTerminal(STDIN_FILENO)) {
        keys.reset(new TerminalKeys);
        QObject::connect(keys.get(), &TerminalKeys::keyPressed, &runner, [&](char key) {
            switch (key) {
            case 'p':
                runner.pause();
                break;
            case 'r':
                runner.resume();
                break;
            case 's':
            case 'q':
                runner.stop();
                break;
            default:
                break;
            }
        });
        console.note(QStringLiteral("Keys: p pause, r resume, s stop (Ctrl-C stops too)."));
    }

    if (!runner.start(file, copies)) {
        console.error(QStringLiteral("the device has no task parameters to run a job with"));
        return ExitFailed;
    }
    const JobRunner::Outcome outcome = runner.waitForEnd();
    keys.reset();
    if (progress)
        progress->breakLine();
    console.setProgress(nullptr);

    if (outcome == JobRunner::LinkLost)
        console.note(
            QStringLiteral("The machine may still be cutting; the task record is as the last "
                           "report left it."));
    console.line(QStringLiteral("Task record: %1")
                     .arg(ParameterText::printable(QString::fromUtf8(
                         QJsonDocument(runner.record()).toJson(QJsonDocument::Compact)))));
    console.line(runner.summary() + QLatin1Char('.'));
    if (const EmbeddedMachine* embedded = context.session().embedded()) {
        const SimCounters& counted = embedded->machine()->counters();
        console.line(QStringLiteral("Simulator counted: %1 cut, %2 mm cut, jobs: %3 finished, "
                                    "%4 stopped; %5 frames received.")
                         .arg(copiesText(counted.copiesCut))
                         .arg(counted.pathCutMm, 0, 'f', 1)
                         .arg(counted.jobsFinished)
                         .arg(counted.jobsStopped)
                         .arg(counted.framesReceived));
    }
    // Closing the task posted the work record, if the device had one to post.
    if (CloudAttachment* cloud = context.session().cloud())
        cloud->reportJob(outcome != JobRunner::LinkLost, runner.record().value("Finished").toInt());

    switch (outcome) {
    case JobRunner::Finished:
        return ExitOk;
    case JobRunner::LinkLost:
        return ExitLinkLost;
    case JobRunner::Stopped:
        // Stopped here (Ctrl-C or the s key), or at the machine.
        return runner.stopRequested() ? ExitInterrupted : ExitFailed;
    default:
        return ExitFailed;
    }
}
