#pragma once

#include "carriage.h"
#include "console.h"
#include "cutfile.h"
#include "options.h"
#include "remote.h"
#include "simmachine.h"
#include "values.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QMetaEnum>

#include <cmath>
#include <memory>

// What a command runs with: its arguments, the output, and the session once it is opened.
struct Context {
    const Command& command;
    Arguments args;
    Console console;
    SessionOptions options;
    QUrl server; // through a machine service when set
    QString token;
    Settings settings;
    bool machineGiven = false; // by the options or the settings
    std::unique_ptr<Session> session;
    bool cloudTried = false;
    bool infoRead = false;
    ShopSettings shop; // as readCut() finds it asked for
    int copies = 1; // the machine cuts of each sheet
    Units::Unit units = Units::Mm; // lengths typed and shown: --units, else the settings'

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

    // A direct connection to a machine a machine service holds would take the service's link.
    int claimed()
    {
        MachineClaim claim;
        if (!server.isEmpty() || args.isSet("take-over")
            || !MachineClaim::find(options.target, &claim))
            return ExitOk;
        console.error(claim.text());
        return ExitNoMachine;
    }

    // Why the machine service could not be reached, and how to start it.
    int noService()
    {
        console.error(QStringLiteral("cannot reach the machine through the machine service: %1; %2")
                          .arg(session->errorString(), Settings::noServiceText()));
        return ExitNoMachine;
    }

    int connectMachine()
    {
        if (!machineGiven)
            return usage(Settings::noMachineText(command.name));
        if (const int held = claimed())
            return held;
        if (const int opened = open())
            return opened;
        if (session->isUp())
            return ExitOk;
        session->connectMachine();
        if (waitUntil([this] { return session->link() != Session::Connecting; }))
            return ExitInterrupted;
        if (!session->isUp()) {
            if (!server.isEmpty() && !static_cast<RemoteSession*>(session.get())->isAttached())
                return noService();
            const char* through = server.isEmpty() ? "" : " through the machine service";
            console.error(QStringLiteral("cannot reach the machine%1: %2")
                              .arg(through, session->errorString()));
            return ExitNoMachine;
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
            return usage(QStringLiteral("%1 works through a machine service; give --server, or "
                                        "name it with zrhost config service=URL")
                             .arg(command.name));
        if (const int opened = open())
            return opened;
        auto* remote = static_cast<RemoteSession*>(session.get());
        remote->connectMachine();
        if (waitUntil(
                [remote] { return remote->isAttached() || remote->link() != Session::Connecting; }))
            return ExitInterrupted;
        return remote->isAttached() ? finish(session->send(request), result) : noService();
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
        // A stop is the user's when Ctrl-C asked for it.
        return outcome == Result::Stopped && interruptCount > 0 ? int(ExitInterrupted)
                                                                : Result::facts(outcome).exitCode;
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
        if (!QStringList { QString(), "origin", "center", "keep" }.contains(args.text("place")))
            return usage(QStringLiteral("--place takes origin, center or keep, not \"%1\"")
                             .arg(ZRDevice::printable(args.text("place"))));
        if (!QStringList { QString(), "outline", "skip" }.contains(args.text("text")))
            return usage(QStringLiteral("--text takes outline or skip, not \"%1\"")
                             .arg(ZRDevice::printable(args.text("text"))));
        if (const QString error = shopArguments(args, args.positional.size(), &shop, &copies);
            !error.isEmpty())
            return usage(error);
        const QStringList paths = args.positional;
        QStringList names;
        for (const QString& path : paths)
            names.append(QFileInfo(path).fileName());
        return work(QStringLiteral("Reading %1").arg(names.join(QStringLiteral(" + "))),
            [=](const ZRCut::Progress& progress, QString* error) {
                return file->read(paths, error, progress,
                    args.text("text") == QLatin1String("skip") ? ZRCut::TextMode::Skip
                                                               : ZRCut::TextMode::Outline);
            });
    }

    // A list of names given to an option ("a,b"), each trimmed.
    QStringList names(const QString& option) const
    {
        QStringList list = args.text(option).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (QString& name : list)
            name = name.trimmed();
        return list;
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
        placement.enlarge = args.isSet("enlarge");
        const QString place = args.text("place");
        placement.mode = place == QLatin1String("center") ? ZRCut::PlaceMode::Center
            : place == QLatin1String("keep")              ? ZRCut::PlaceMode::Keep
                                                          : ZRCut::PlaceMode::Origin;
        placement.marginMm = args.number("margin", ZRCut::defaultMarginMm);
        settings.layers = { names("layers"), names("skip-layers") };
        settings.layerOrder = names("layer-order");
        placement.columns = int(args.number("columns", 1));
        placement.copies = int(args.number("rows", 1)) * placement.columns;
        placement.gapMm = args.number("gap", 5);
        settings.optimizeOrder = !args.isSet("keep-order");
        settings.knife.bladeOffsetMm = args.number("blade-offset", 0);
        settings.knife.swivelThresholdDeg = args.number("swivel", 30);
        settings.knife.overcutMm = args.number("overcut", 0);
        settings.shop = shop;
        const CutMachine machine = CutMachine::of(device(), station);
        if (const int code = work(QStringLiteral("Ordering %1").arg(file->name()),
                [=](const ZRCut::Progress& progress, QString* error) {
                    return file->plan(settings, machine, error, progress);
                }))
            return code;
        // Each sheet's figures, and what the transforms did.
        for (int i = 0; i < file->sheetCount(); ++i) {
            file->selectSheet(i);
            const ZRCut::CutJob& job = file->job();
            const double seconds = file->seconds();
            const QString sheet = file->sheetCount() > 1
                ? QStringLiteral(", %1 %2").arg(file->shop().unit()).arg(i + 1)
                : QString();
            console.note(
                QStringLiteral("%1%2: %3 × %4 mm, %5 mm to cut, %6 mm pen-up travel, %7.")
                    .arg(file->name(), sheet, QString::number(job.bounds.width(), 'f', 1),
                        QString::number(job.bounds.height(), 'f', 1),
                        QString::number(job.cutLengthMm, 'f', 1),
                        QString::number(job.travelLengthMm, 'f', 1),
                        seconds < 0 ? QStringLiteral("time unknown (no speeds from the machine)")
                                    : QStringLiteral("about %1 a copy")
                                          .arg(Protocol::clockText(qint64(std::ceil(seconds))))));
        }
        file->selectSheet(0);
        for (const QString& line : file->shop().lines())
            console.note(ZRDevice::printable(line));
        for (const QString& line : file->notes())
            console.note(QStringLiteral("%1: %2").arg(file->name(), ZRDevice::printable(line)));
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
                const QString value
                    = group ? QString() : Values::shown(device(), entry.name, raw, units);
                const QString label = ZRDevice::printable(p->label().trimmed());
                const QString unit = Values::unitOf(device(), entry.name, raw, units);
                array.append(QJsonObject { { "name", QString::fromLatin1(entry.name) },
                    { "label", label }, { "value", value },
                    { "raw", group ? QString() : Values::shown(device(), entry.name, true) },
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

// zrhost config (config.cpp).
int runConfig(Context& c);
// zrhost jog and zrhost origin (moves.cpp).
int runJog(Context& c);
int runOrigin(Context& c);

// Cuts every sheet (or tile) of the planned file, cutOne() for each: from the second on, once the
// person has advanced the material and pressed Enter, or at once with --yes; without a terminal
// and --yes, a usage error before anything is cut (transforms.cpp). The exit code.
int cutSheets(Context& c, CutFile* file, const std::function<int()>& cutOne);
