#include "commands.h"

#include "jobpage.h"
#include "panel.h"
#include "panelwindow.h"
#include "service_commands.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTime>
#include <QTranslator>

#include <csignal>

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
                QStringLiteral("\"%1\" is not NAME=VALUE").arg(ZRDevice::printable(argument)));
        const QString name = argument.left(equals).trimmed().toUpper();
        QString value = argument.mid(equals + 1);
        QString error;
        if (!c.device()->property_ptr(name.toLatin1().constData()))
            error = Values::unknownText(c.device(), name);
        else if (!request.raw)
            Values::typed(c.device(), name.toLatin1(), value, c.units, &value, &error);
        if (!error.isEmpty()) {
            c.console.error(error);
            return ExitUsage;
        }
        request.names.append(name);
        request.values.append(value);
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
        const QString unit = Values::unitOf(c.device(), name.toLatin1(), request.raw, c.units);
        c.console.line(
            QStringLiteral("%1 = %2%3  (%4)")
                .arg(name, Values::shown(c.device(), name.toLatin1(), request.raw, c.units),
                    unit.isEmpty() ? QString() : QLatin1Char(' ') + unit,
                    result.local.contains(name) ? "sent; the machine's answer cannot be seen"
                                                : "confirmed"));
    }
    return code;
}

// Sends the planned file's current sheet and follows it to its end.
static int cutPlanned(Context& c, CutFile& file)
{
    Console& console = c.console;
    const int copies = c.copies;
    if (const int code = c.connectMachine())
        return code;
    const double perCopy = file.job().cutLengthMm;
    Reply* reply = c.session->send(file.request(copies));
    // Cutting once the machine reports the job; then a line whenever the status or the copies
    // change or the job moves on by a tenth.
    bool cutting = false;
    QObject::connect(reply, &Reply::progress, [&](const TaskReport& report) {
        if (!std::exchange(cutting, true))
            console.note(QStringLiteral("Cutting %1 of %2.")
                             .arg(copiesText(copies), c.session->jobText(report.fileName)));
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
    printJobEnd(c, result, file.name(), copies, perCopy, cutting);
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
        cloud->reportJob(result.outcome == Result::Done || result.outcome == Result::Stopped,
            result.last.finished);
        waitUntil([cloud] { return cloud->isJobReported(); });
    }
    return code;
}

int runJob(Context& c)
{
    Console& console = c.console;
    if (c.args.isSet("resume"))
        return runRest(c);
    if (c.args.positional.isEmpty())
        return c.usage(QStringLiteral("job needs a cut file"));
    CutFile file;
    if (const int code = c.readCut(&file))
        return code;
    if (const int code = c.connectMachine())
        return code;
    // The machine's information is for a diagnosis (-v); info and status show it.
    if (const int code = !verboseOutput || console.quiet || console.json ? ExitOk : c.showInfo())
        return code;
    if (const int code = c.attachCloud())
        return code;
    if (const int code = c.planCut(&file, true))
        return code;
    // What the pictures need stays with the job; the drawing as read can go.
    file.dropSource();
    return cutSheets(c, &file, [&] { return cutPlanned(c, file); });
}

int runControl(Context& c, Request::Kind kind)
{
    if (c.args.isSet("simulator"))
        return c.usage(QStringLiteral("%1 acts on a job a machine is running, and the simulated "
                                      "machine of --simulator runs none (during \"zrhost job "
                                      "--simulator\" press p, r or s)")
                           .arg(c.command.name));
    Result result;
    // A service that cannot reach the machine still ends the job it follows on a stop.
    const bool toService = kind == Request::Stop && !c.server.isEmpty();
    if (const int code = toService ? c.askService(Request::of(kind), &result)
                                   : c.ask(Request::of(kind), &result))
        return code;
    const TaskReport& seen = result.last;
    c.console.line(QStringLiteral("%1%2: %3, %4 %, %5 of %6 finished.")
                       .arg(result.already ? "already " : "", Protocol::statusText(seen.status),
                           c.session->jobText(seen.fileName), QString::number(seen.percent, 'f', 1),
                           QString::number(seen.finished), copiesText(seen.copies)));
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
            QString shown = ZRDevice::printable(text);
            TaskReport report;
            if (kind == ZRDeviceInterface::DevTasK && TaskReport::parse(text, &report)) {
                shown = Protocol::reportText(report, c.session->jobText(report.fileName));
                json.insert("status", Protocol::statusName(report.status));
                json.insert("file", report.fileName);
                if (!c.session->fileOf(report.fileName).isEmpty())
                    json.insert("user_file", c.session->fileOf(report.fileName));
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

int runLayers(Context& c)
{
    if (c.args.positional.size() != 1)
        return c.usage(QStringLiteral("layers needs one cut file"));
    CutFile file;
    if (const int code = c.readCut(&file))
        return code;
    QJsonArray json;
    QList<QStringList> rows { { "LAYER", "CONTOURS", "OPEN",
        QStringLiteral("LENGTH (%1)").arg(Units::symbol(c.units)) } };
    for (const ZRCut::LayerSummary& layer : ZRCut::listLayers(file.drawing())) {
        json.append(QJsonObject { { "name", layer.name }, { "contours", layer.contours },
            { "open", layer.openContours }, { "length_mm", layer.lengthMm } });
        rows.append({ ZRDevice::printable(layer.name), QString::number(layer.contours),
            QString::number(layer.openContours), Units::number(layer.lengthMm, c.units) });
    }
    for (const QString& line : file.notes())
        c.console.note(QStringLiteral("%1: %2").arg(file.name(), ZRDevice::printable(line)));
    c.console.print(c.args.isSet("json") ? jsonText(json) : columns(rows));
    return ExitOk;
}

int runPreview(Context& c)
{
    if (c.args.positional.isEmpty() || !c.args.isSet("output"))
        return c.usage(QStringLiteral("preview needs a cut file and -o OUT.png"));
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
                const int size = int(c.args.number("size", 256));
                image = file.overview(QSize(size, size), progress);
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
    jobs.setUnits(c.units);
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
    MachineClaim claim;
    if (!c.machineGiven)
        window.logLine(Settings::noMachineText(c.command.name));
    else if (c.server.isEmpty() && !c.args.isSet("take-over") && MachineClaim::find(target, &claim))
        window.logLine(claim.text());
    else
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
            { "user_file",
                c.session->fileOf(state.fileName).isEmpty() ? QJsonValue()
                                                            : c.session->fileOf(state.fileName) },
            { "jobs", result.jobs } }));
        return ExitOk;
    }
    c.console.line(QStringLiteral("Machine: %1, %2.")
                       .arg(c.session->machineName(),
                           c.session->isAnswering() ? "answering" : "not answering"));
    c.console.line(state.status == 0
            ? QStringLiteral("No job reported since the link came up.")
            : QStringLiteral("Job: %1").arg(
                Protocol::reportText(state, c.session->jobText(state.fileName)).trimmed()));
    if (!result.jobs.isEmpty())
        c.console.print(QStringLiteral("\nThe service's job and queue:\n") + jobTable(result.jobs));
    return ExitOk;
}

namespace {

const Option jsonOption { "json", QString(), "Print the result as JSON." };
const Option rawOption { "raw", QString(),
    "Values in the machine's own numbers, not the editors' units (gf, mm, list items, signed)." };

} // namespace

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
        { "job", "FILE... [--copies N[,N...]] | --resume ID", "cut an SVG, DXF or PLT file with progress; keys p, r, s pause, resume, stop",
          "Runs a cutting job: reads the file (SVG, DXF or HP-GL), connects, reads the machine's table, the\n"
          "station's tool and the speeds, places and orders the cut and tells its figures, reads the machine's\n"
          "state (a machine busy with another job is an error naming it), sends the copies and the cut data,\n"
          "follows this job's progress reports with the time left\n"
          "the machine's reports give, and closes the task when the machine reports it finished or stopped.\n"
          "On a terminal the keys p and r pause and resume, s asks to stop (y confirms). Ctrl-C stops: the job\n"
          "counts as stopped only once the machine has confirmed it (a second Ctrl-C gives up waiting). With a\n"
          "cloud service the device registers first and posts its work record when the task is closed.\n"
          "Several files are cut together nested on sheets (--nest, --copies a,b); --bridges, --weed and --tile\n"
          "change the cut as a shop does. A job of several sheets or tiles cuts one, then waits for Enter once the\n"
          "material is advanced (q stops; --yes goes on without waiting; without a terminal --yes is needed).",
          QList<Option> { jsonOption, { "yes", QString(), "Go on to the next sheet or tile without waiting for Enter." },
            { "resume", "id", "Through a service: cut the copies of job ID (as history lists it) the machine did not\n"
                              "confirm, from the cut data the service kept. The new job is the rest of ID.", 1, 1e15 },
            { "from-contour", QString(), "With --resume: cut the unfinished copy too, from the first contour the machine did not\n"
                                         "confirm (1 mm back along it); the whole copies left follow as one more job." } } + cutOptions() + shopOptions(), runJob },
        { "pause", QString(), "pause the job the machine is running",
          "Pauses the job the machine is running, through the machine service or directly, and waits for its\n"
          "report: from another terminal than the job's, say.", {}, [](Context& c) { return runControl(c, Request::Pause); } },
        { "resume", QString(), "resume the job the machine is running",
          "Resumes the job the machine is running, through the machine service or directly, and waits for its\n"
          "report.", {}, [](Context& c) { return runControl(c, Request::Resume); } },
        { "stop", QString(), "stop the job the machine is running",
          "Stops the job the machine is running, through the machine service or directly, and waits for its\n"
          "report.", {}, [](Context& c) { return runControl(c, Request::Stop); } },
        { "jog", "x|y +|- [DISTANCE | --ms N]", "move the head along x or y by a distance or for a moment",
          "Moves the head along one axis by DISTANCE (0.1, 1, 10, 100; in the units, or \"10mm\", \"0.5in\"), or\n"
          "for --ms milliseconds, then stops it. The machine jogs at the speed it echoes until told to stop, so a\n"
          "distance is timed from that speed and is near, not exact. A machine that is cutting does not jog: that\n"
          "is an error. Ctrl-C stops at once.",
          { { "ms", "ms", "How long to move (default 500).", 1, 10000 } }, runJog },
        { "origin", "[set|back]", "set the origin at the head, or move the head back to it",
          "Sets the origin where the head is (set) or moves the head back to it (back). Without a word it shows\n"
          "what is known of the origin and asks (y) before setting it; --yes sets it without asking. Not while\n"
          "the machine is cutting.", { { "yes", QString(), "Set the origin without asking." } }, runOrigin },
        { "monitor", QString(), "print the device's messages until Ctrl-C",
          "Connects and prints every message the device sends: link status lines, progress reports (decoded)\n"
          "and QR-code texts. Ends with Ctrl-C, after --seconds, or when the link goes down (exit 5).",
          { { "seconds", "seconds", "Stop after this many seconds.", 0.001, 1e9 }, jsonOption }, runMonitor },
        { "layers", "FILE", "list a cut file's layers, pens or colours with their contours and lengths",
          "Reads the cut file (SVG, DXF or HP-GL) and lists its layers (DXF), pens (HP-GL) or colours (SVG), each\n"
          "with its contours, how many of them are open and their length. --layers, --skip-layers and\n"
          "--layer-order of job and preview take these names. Nothing is connected.",
          { { "text", "mode", "outline: text as its letters (the default); skip: left out." }, jsonOption }, runLayers },
        { "preview", "FILE... -o OUT.png", "write the picture of a cut as the job would cut it",
          "Reads the file, places and orders it as job does for the machine's table and station, tells the\n"
          "figures and writes the picture: the cuts dark, the pen-up travel red, on white. The table, tool and\n"
          "speeds are the machine's, read through the service or directly; with --simulator the simulated\n"
          "machine's. Without a machine there is no table to place on: preview says how to give one. Sheets and tiles\n"
          "are drawn side by side, each to scale with its edge.",
          QList<Option> { { "output", "file", "The PNG file to write.", 0, 0, QLatin1Char('o') },
            { "size", "pixels", "Pixels on the longer side (default 256).", 16, 4096 } } + cutOptions() + shopOptions(), runPreview },
        { "panel", "[FILE]", "open the parameter panel window",
          "Opens the parameter panel: the machine's parameters in their editors, read and write, jog, origin,\n"
          "pause, resume and stop, a job page that opens, places and cuts a file, and a log. It connects at\n"
          "start through the machine service of the settings or --server, or directly with --ip, --usb or\n"
          "--direct, or to the simulated machine with --simulator. A FILE (SVG, DXF or HP-GL) is opened on the\n"
          "job page.",
          { { "cut", QString(), "Cut FILE once it is drawn on the machine's table." },
            { "screenshot", "file", "Save the window as file and quit once the values are read (with FILE: once it\n"
                                    "is drawn; with --cut: once the job has ended)." } }, runPanelCommand },
        { "status", QString(), "show the machine's state, and through a service its job and queue",
          "Connects and shows the machine's state: the job it reports, how far it is and the time left. Through a\n"
          "machine service (--server) also the job the service runs and the jobs waiting in its queue.",
          { jsonOption }, runStatus },
        { "serve", "[--listen ADDRESS:PORT]", "hold the machine and serve many clients (--server)",
          "Runs the machine service: it holds the machine (the settings' machine, --ip, --usb or with --simulator\n"
          "the simulated one) and its cloud service, and serves any number of clients over a WebSocket where the\n"
          "settings' service is (or --listen): every command and the panel work through it. While it holds a\n"
          "machine it keeps a claim on it in the runtime folder, and commands that would connect to that machine\n"
          "themselves refuse (exit 4) unless given --take-over; it wants the settings' token of clients. Jobs wait in a queue and run one at a time; each is kept in a\n"
          "database (history) with the work record sent to the cloud service, which is sent again until the\n"
          "service takes it. A lost link is opened again and a job the machine goes on cutting is followed, never\n"
          "sent twice; a service started again after a crash follows the job it left. Ctrl-C ends it.",
          { { "listen", "address:port", "Where to listen (default: the settings' service, else 127.0.0.1:9190); beyond\n"
                                        "127.0.0.1 a token is required." },
            { "token-file", "file", "Read the token clients must show from the file's first line." },
            { "database", "file", "The database file (default: service.sqlite in the user's data folder)." } }, runServe },
        { "queue", "move ID PLACE | cancel ID", "reorder or cancel a job waiting in the service's queue",
          "Moves a queued job of the machine service (--server) to another place in its queue (1 is next), or takes\n"
          "it out of the queue. zrhost status lists the queue.", {}, runQueue },
        { "config", "[KEY=VALUE...]", "show the settings file, or set its keys (where the machine is)",
          "Shows the settings file's path and values, or sets the keys given (an empty VALUE takes a key out):\n"
          "  machine=ADDRESS[:PORT]   the machine on the network (port 9100 when left out), or usb:PATH on a USB port\n"
          "  service=ws://ADDRESS:PORT  the machine service that holds it (ws://127.0.0.1:9190 when a machine is\n"
          "                           named and no service)\n"
          "  token=TOKEN              the token that service wants of its clients; token=- reads it from the input\n"
          "  units=mm|inch            the units lengths are shown in\n"
          "The file is ~/.config/zrhost/zrhost.conf, or the file ZRHOST_CONFIG names; only its owner may read it.",
          {}, runConfig },
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
                .arg(ZRDevice::printable(name)));
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h")))
        return write(stdout, commandHelp(*command));

    Context c(*command);
    QString error;
    // zrhost config mends a settings file that does not read.
    if (!c.args.parse(arguments.mid(1), command->options + commonOptions(), &error)
        || !(error = sessionOptions(c.args, &c.options)).isEmpty()
        || (name != QLatin1String("config")
            && !(error = placeOptions(c.args, name == QLatin1String("serve"), &c.settings,
                     &c.options, &c.server, &c.token, &c.machineGiven))
                    .isEmpty()))
        return write(
            stderr, QStringLiteral("zrhost %1: %2; see zrhost %1 --help\n").arg(name, error));
    if (!Units::fromName(c.args.isSet("units") ? c.args.text("units") : c.settings.units, &c.units))
        return write(stderr,
            QStringLiteral("zrhost %1: --units wants mm or inch; see zrhost %1 --help\n")
                .arg(name));
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
    // Text in a cut file is drawn by the font engine, which a GUI application brings; without a
    // display it draws offscreen.
    const bool cutFile = name == QLatin1String("job") || name == QLatin1String("preview")
        || name == QLatin1String("layers");
    if (cutFile && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app(
        cutFile ? new QGuiApplication(argc, argv) : new QCoreApplication(argc, argv));
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
