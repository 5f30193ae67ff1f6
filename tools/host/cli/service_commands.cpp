#include "service_commands.h"

#include "jobstatus.h"
#include "service.h"

#include <QTime>

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
    if (!c.machineGiven)
        return c.usage(Settings::noMachineText(c.command.name));
    if (const int held = c.claimed())
        return held;
    ServiceOptions options;
    options.session = c.options;
    options.token = c.token;
    options.database = c.args.text("database");
    if (c.args.isSet("token-file")) {
        QFile file(c.args.text("token-file"));
        if (!file.open(QIODevice::ReadOnly))
            return c.usage(QStringLiteral("--token-file %1 cannot be read: %2")
                               .arg(ZRDevice::printable(file.fileName()), file.errorString()));
        options.token
            = QString::fromUtf8(file.read(4096)).section(QLatin1Char('\n'), 0, 0).trimmed();
        if (options.token.isEmpty() || !isPlainToken(options.token))
            return c.usage(QStringLiteral("--token-file %1 holds no token on its first line")
                               .arg(file.fileName()));
    }
    // Where the settings' service is, unless --listen says otherwise.
    const QUrl named = c.settings.service;
    const QString listen = c.args.isSet("listen") ? c.args.text("listen")
        : named.isEmpty()
        ? QString()
        : QStringLiteral("%1:%2").arg(
            named.host().contains(QLatin1Char(':')) ? '[' + named.host() + ']' : named.host(),
            QString::number(named.port(Settings::defaultServicePort)));
    if (!listen.isEmpty()) {
        const int colon = listen.lastIndexOf(QLatin1Char(':'));
        QString host = listen.left(qMax(colon, 0));
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const uint port = listen.mid(colon + 1).toUInt(&ok);
        options.address = host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                             : QHostAddress(host);
        options.port = quint16(port);
        if ((colon < 0 || !ok || port > 65535 || options.address.isNull())
            && c.args.isSet("listen"))
            return c.usage(
                QStringLiteral("--listen wants ADDRESS:PORT, such as 127.0.0.1:%1, not \"%2\"")
                    .arg(QString::number(Settings::defaultServicePort),
                        ZRDevice::printable(listen)));
        if (options.address.isNull())
            return c.usage(QStringLiteral("serve listens where the settings' service is, and %1 "
                                          "is no address of this computer's; give --listen")
                               .arg(named.toString()));
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
    if (!c.server.isEmpty() && !c.args.isSet("database")) {
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
        } else if (!store.open(path, &error, Store::Access::Read)) {
            c.console.error(error);
            return ExitFailed;
        } else {
            jobs = store.jobs();
            if (!store.lastError().isEmpty()) {
                c.console.error(QStringLiteral("cannot read the jobs of %1: %2")
                                    .arg(path, store.lastError()));
                return ExitFailed;
            }
        }
    }
    while (jobs.size() > c.args.number("limit", 20))
        jobs.removeLast();
    c.console.print(c.args.isSet("json") ? jsonText(jobs) : jobTable(jobs));
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

void printJobEnd(Context& c, const Result& result, const QString& file, int copies,
    double perCopyMm, bool reported)
{
    Console& console = c.console;
    const QJsonObject record
        = result.jobs.isEmpty() ? QJsonObject() : result.jobs.first().toObject();
    const bool recorded = !record.isEmpty();
    const bool finished = result.outcome == Result::Done;
    const double done = recorded ? record.value(QLatin1String("copies_done")).toDouble()
                                 : double(result.last.finished);
    const double cut = recorded
        ? record.value(QLatin1String("cut_mm")).toDouble()
        : perCopyMm * copies * (finished ? 1.0 : result.last.percent / 100.0);
    const QString status = record.value(QLatin1String("status")).toString();
    if (console.json) {
        QJsonObject json { { "outcome",
                               finished ? QStringLiteral("finished")
                                        : QLatin1String(Result::facts(result.outcome).name) },
            { "file", file }, { "copies", copies }, { "finished", done },
            { "percent", result.last.percent }, { "machine_seconds", double(result.last.seconds) },
            { "elapsed_ms", double(result.elapsedMs) }, { "cut_mm", cut },
            { "record", result.record }, { "reason", result.reason } };
        if (recorded) {
            json.insert("job", record.value(QLatin1String("id")));
            json.insert("status", status);
        }
        return console.print(jsonText(json));
    }
    const QString end = QLatin1String(Result::facts(result.outcome).jobEnd);
    if (recorded)
        return console.line(
            QStringLiteral("%1: %2 of %3 of %4, %5 mm cut, as the machine confirmed it; job %6 of "
                           "the service is %7 (%8).")
                .arg(end, QString::number(done), copiesText(copies),
                    Carriage::jobRow(record).value(2), // the file as the history names it
                    QString::number(cut, 'f', 1),
                    ZRDevice::printable(record.value(QLatin1String("id")).toVariant().toString()),
                    JobStatus::text(status),
                    ZRDevice::printable(
                        record.value(QLatin1String("reason")).toString().left(500))));
    if (!reported)
        return;
    if (result.outcome == Result::LinkLost)
        console.note(QStringLiteral("The machine may still be cutting; the figures are as its last "
                                    "report left them."));
    if (verboseOutput)
        console.note(QStringLiteral("Task record: %1")
                         .arg(ZRDevice::printable(Carriage::messageText(result.record))));
    console.line(
        QStringLiteral("%1: %2 of %3 of %4 in %5 s (machine: %6 s cutting), %7%8 mm cut (%9 mm a "
                       "copy).")
            .arg(end, QString::number(done), copiesText(copies),
                result.last.fileName.isEmpty() ? file : c.session->jobText(result.last.fileName),
                QString::number(result.elapsedMs / 1000.0, 'f', 1),
                QString::number(result.last.seconds), finished ? "" : "about ",
                QString::number(cut, 'f', 1), QString::number(perCopyMm, 'f', 1)));
}

int runRest(Context& c)
{
    if (!c.args.positional.isEmpty())
        return c.usage(QStringLiteral("--resume takes no cut file: the service kept the job's"));
    if (c.server.isEmpty())
        return c.usage(QStringLiteral("--resume works through a machine service; give --server"));
    Request request = Request::of(Request::Rest);
    request.job = qint64(c.args.number("resume", 0));
    request.fromContour = c.args.isSet("from-contour");
    if (const int code = c.connectMachine())
        return code;
    Reply* reply = c.session->send(request);
    QString file = QStringLiteral("job %1").arg(request.job);
    QObject::connect(reply, &Reply::progress, [&](const TaskReport& report) {
        c.console.show(Console::progressLine(report, file),
            QStringLiteral("%1/%2/%3")
                .arg(report.status)
                .arg(report.finished)
                .arg(int(report.percent / 10)));
    });
    const int code = c.finish(reply);
    c.console.endProgress();
    const Result& result = reply->result();
    const QJsonObject record
        = result.jobs.isEmpty() ? QJsonObject() : result.jobs.first().toObject();
    if (record.isEmpty())
        return code;
    printJobEnd(c, result, Carriage::jobRow(record).at(2),
        record.value(QLatin1String("copies")).toInt(),
        record.value(QLatin1String("file_info"))
            .toObject()
            .value(QLatin1String("path_length"))
            .toDouble());
    return code;
}
