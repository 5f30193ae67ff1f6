#include "session.h"

#include "simmachine.h"
#include "simtcpfront.h"
#include "values.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QDir>

#include <sys/stat.h>

namespace {

constexpr int watchdogMs = 250;
// Periods without an answer before the machine is shown as not answering.
constexpr int missedBeats = 3;

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0);
}

// In the order of Session::Link: the name in JSON, and the words.
const struct {
    const char* name;
    const char* text;
} linkFacts[] = {
    { "closed", QT_TRANSLATE_NOOP("Session", "Not connected") },
    { "connecting", QT_TRANSLATE_NOOP("Session", "Connecting ...") },
    { "up", QT_TRANSLATE_NOOP("Session", "Connected to %1") },
    { "failed", QT_TRANSLATE_NOOP("Session", "Not connected") },
    { "lost", QT_TRANSLATE_NOOP("Session", "Link lost") },
};

} // namespace

const QString Session::notConnected = QStringLiteral("not connected to a machine");

QLatin1String Session::linkName(Link link)
{
    return QLatin1String(linkFacts[link].name);
}

QString Session::linkText(Link link, const QString& machine)
{
    const QString text = QCoreApplication::translate("Session", linkFacts[link].text);
    return link == Up ? text.arg(machine) : text;
}

void Session::Watch::restore() const
{
    if (write && (!isAnswered() || (byStatus && status != 0)))
        parameter->setValue(old);
}

QStringList Session::Exchange::unanswered() const
{
    QStringList names;
    for (const Watch& watch : watches) {
        if (!watch.isAnswered() && !names.contains(watch.name))
            names.append(watch.name);
    }
    return names;
}

void Reply::cancel()
{
    if (m_finished)
        return;
    if (m_request.kind == Request::Job)
        emit cancelRequested();
    else
        finish(Result::Cancelled, QStringLiteral("cancelled"));
}

void Reply::finish(Result::Outcome outcome, const QString& reason)
{
    if (m_finished)
        return;
    m_finished = true;
    m_result.outcome = outcome;
    if (!reason.isEmpty())
        m_result.reason = reason;
    if (auto* session = qobject_cast<Session*>(parent()))
        session->learnFiles(m_result.jobs);
    emit finished();
}

Session::Session(QObject* parent)
    : QObject(parent)
{
    m_connectDeadline.setSingleShot(true);
    connect(&m_connectDeadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no machine answered at %1 within %2 s")
                 .arg(m_target.describe(), seconds(m_options.connectTimeoutMs)));
    });
    m_replyDeadline.setSingleShot(true);
    connect(&m_replyDeadline, &QTimer::timeout, this, &Session::settle);
    m_resend.setSingleShot(true);
    connect(&m_resend, &QTimer::timeout, this, [this] {
        // A read whose frame or answer was lost is asked once more.
        if (m_current)
            for (const QByteArray& frame : qAsConst(m_current->frames))
                m_device->sendCMD(frame);
    });
    connect(this, &Session::jobChanged, this,
        [this](const QJsonObject& job) { learnFiles(QJsonArray { job }); });
    m_watchdog.setInterval(watchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        const qint64 silent = m_sinceLife.elapsed();
        const bool lost = silent > m_options.lostAfterMs;
        // The device's heartbeat period, or 2 s while it keeps none.
        const int beat = ZRDevice::heartbeatMs(m_device.get());
        if (lost || silent > missedBeats * (beat > 0 ? beat : 2000) + m_options.replyTimeoutMs)
            setAnswering(false);
        if (lost)
            endAll(Result::LinkLost,
                QStringLiteral("the machine has not answered for %1 s").arg(seconds(silent)));
    });
    m_job.deadline.setSingleShot(true);
    connect(&m_job.deadline, &QTimer::timeout, this, [this] {
        const QString followed = m_job.reply ? m_job.reply->request().follow : QString();
        endJob(Result::NoAnswer,
            m_job.stopping ? QStringLiteral("the machine did not confirm the stop")
                : followed.isEmpty()
                ? QStringLiteral("no progress report: the machine did not start the job")
                : QStringLiteral("the machine reported nothing more of %1: it ended "
                                 "while nobody was watching")
                      .arg(followed));
    });
}

Session::~Session()
{
    if (m_device)
        disconnect(m_device.get(), nullptr, this, nullptr);
    // The device closes its link while the machine is still there and before its cloud client;
    // the simulator's port holds a link into the simulator.
    m_device.reset();
    m_cloud.reset();
    m_simulatorPort.reset();
    m_simulator.reset();
}

// The plugin is loaded the way any host does: the first Qt plugin in the folder (or else in the
// build tree's plugins/ beside bin/, then the installed plugin folder) that declares the device
// interface; its instance is the factory of devices.
bool Session::open(const SessionOptions& options)
{
    m_options = options;
    const QString programs = QCoreApplication::applicationDirPath();
    const QStringList folders = !options.pluginDir.isEmpty()
        ? QStringList { options.pluginDir }
        : QStringList { QDir::cleanPath(programs + QStringLiteral("/../plugins")),
              QDir::cleanPath(programs + QStringLiteral("/" ZRDEVICE_PLUGIN_DIR_FROM_BIN)) };
    QString why;
    for (const QString& path : folders) {
        const QDir dir(path);
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
            if (m_factory || !QLibrary::isLibrary(file))
                continue;
            m_loader.setFileName(dir.filePath(file));
            // The metadata names the interface without loading the library.
            if (m_loader.metaData().value(QStringLiteral("IID")).toString()
                != QLatin1String(ZRDeviceInterface_iid))
                continue;
            m_factory = qobject_cast<ZRDeviceInterface*>(m_loader.instance());
            if (!m_factory)
                why = QStringLiteral(" (%1)").arg(m_loader.errorString());
        }
    }
    if (!m_factory) {
        m_error = QStringLiteral("no device plugin in %1%2")
                      .arg(folders.join(QStringLiteral(", ")), why);
        return false;
    }
    attachDevice();
    if (!m_device)
        m_error = QStringLiteral("the plugin %1 built no device").arg(m_loader.fileName());
    return m_device != nullptr;
}

void Session::attachDevice()
{
    m_device.reset(m_factory->initInstance());
    if (!m_device)
        return;
    ZRDeviceProperty* heartbeat = m_device->property_ptr("HEARTBEAT");
    if (m_options.heartbeatSeconds > 0 && heartbeat)
        heartbeat->setValue(m_options.heartbeatSeconds);
    connect(m_device.get(), &ZRDeviceInterface::message, this, &Session::onMessage);
    // Every answer the device applies is a sign of life, and goes to the request waiting for it.
    for (const QByteArray& name : Values::names(m_device.get())) {
        ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
        connect(parameter, &ZRDeviceProperty::retStatus, this,
            [this, parameter](int status) { onAnswer(parameter, status); });
        connect(parameter, &ZRDeviceProperty::answered, this,
            [this, parameter] { onAnswer(parameter, -1); });
    }
}

void Session::onAnswer(ZRDeviceProperty* parameter, int status)
{
    lifeSign();
    if (!m_current)
        return;
    for (Watch& watch : m_current->watches) {
        if (watch.parameter != parameter)
            continue;
        watch.answered = true;
        if (status >= 0 && watch.byStatus)
            watch.status = status;
    }
    // Settled from the event loop: the device is still applying the answer.
    if (m_current->unanswered().isEmpty())
        QMetaObject::invokeMethod(this, &Session::settle, Qt::QueuedConnection);
}

void Session::connectMachine()
{
    MachineTarget target = m_options.target;
    if (target.kind == MachineTarget::Embedded) {
        SimOptions simulator = m_options.simulator;
        if (m_options.heartbeatSeconds > 0)
            simulator.heartbeatSeconds = m_options.heartbeatSeconds;
        m_simulatorPort.reset();
        m_simulator.reset(new SimMachine(simulator));
        m_simulatorPort.reset(new SimTcpFront(m_simulator.get()));
        if (!m_simulatorPort->listen()) {
            m_link = Connecting;
            return fail(QStringLiteral("the simulator cannot listen on 127.0.0.1: %1")
                            .arg(m_simulatorPort->errorString()));
        }
        target = MachineTarget::tcp(QStringLiteral("127.0.0.1"), m_simulatorPort->port());
    }
    connectTo(target);
}

void Session::connectTo(const MachineTarget& target)
{
    m_target = target;
    m_error.clear();
    m_opened = false;
    setLink(Connecting);
    if (target.kind == MachineTarget::Usb) {
        struct stat info = {};
        if (::stat(QFile::encodeName(target.usbPath).constData(), &info) != 0)
            return fail(QStringLiteral("there is no USB device %1").arg(target.usbPath));
        if (!S_ISCHR(info.st_mode))
            return fail(QStringLiteral("%1 is not a device (a USB port is a character device such "
                                       "as /dev/ttyACM0)")
                            .arg(target.usbPath));
        m_device->setUSBPath(target.usbPath);
    } else {
        if (ZRDeviceProperty* port = m_device->property_ptr("TCP_PORT"))
            port->setValue(int(target.port));
        m_device->setIPAddress(target.address);
    }
    m_connectDeadline.start(m_options.connectTimeoutMs);
    if (!m_device->connectDevice())
        fail(QStringLiteral("the device did not start a connection to %1").arg(target.describe()));
}

void Session::fail(const QString& reason)
{
    if (m_link != Connecting)
        return;
    m_connectDeadline.stop();
    m_error = reason;
    setLink(Failed);
    endAll(Result::LinkLost, reason);
    emit failed(reason);
}

void Session::setLink(Link link)
{
    if (m_link == link)
        return;
    m_link = link;
    if (link != Up)
        m_watchdog.stop();
    emit linkChanged(link);
}

void Session::closeLink(const QList<QByteArray>& keep)
{
    // Closed first, so that the heartbeat's reads end too before their values go.
    m_connectDeadline.stop();
    setLink(Closed);
    endAll(Result::LinkLost, QStringLiteral("the link was closed"));
    const std::unique_ptr<ZRDeviceInterface> old = std::move(m_device);
    disconnect(old.get(), nullptr, this, nullptr);
    attachDevice();
    for (const QByteArray& name : keep) {
        if (ZRDeviceProperty* parameter = old->property_ptr(name.constData()))
            m_device->property_ptr(name.constData())->setValue(parameter->value());
    }
}

QString Session::machineName() const
{
    if (m_simulator)
        return QStringLiteral("the embedded simulator (%1)").arg(m_target.describe());
    return m_target.describe();
}

void Session::onMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    emit message(kind, text);
    if (kind == ZRDeviceInterface::DevStatus) {
        if (ZRDevice::isLinkUp(text))
            onLinkUp();
        else if (ZRDevice::isLinkDown(text))
            onLinkDown(text);
        return;
    }
    lifeSign();
    TaskReport report;
    if (kind != ZRDeviceInterface::DevTasK || !TaskReport::parse(text, &report))
        return;
    m_state = report;
    emit this->report(report);
    onJobReport(report);
    m_jobsSeen.insert(report.fileName);
    for (const QPointer<Reply>& control : qAsConst(m_controls)) {
        if (!control)
            continue;
        const Request::Kind wanted = control->request().kind;
        if ((wanted == Request::Pause && report.status == TaskReport::Paused)
            || (wanted == Request::Resume && report.status == TaskReport::Cutting)
            || (wanted == Request::Stop && report.isOver())) {
            control->m_result.last = report;
            control->finish(Result::Done);
        }
    }
}

void Session::onLinkUp()
{
    m_opened = true;
    m_sinceUp.start();
    m_sinceLife.start();
    m_state = TaskReport();
    // Jobs are told apart within one link: a machine started again numbers them from the start.
    m_jobsSeen.clear();
    m_files.clear();
    m_answering = true;
    // The greeting: the heartbeat read, or written when the options set it.
    Request greeting = Request::of(Request::Read, { QStringLiteral("HEARTBEAT") });
    if (m_options.heartbeatSeconds > 0) {
        greeting.kind = Request::Write;
        greeting.raw = true;
        greeting.values = QStringList { QString::number(m_options.heartbeatSeconds) };
    }
    Reply* reply = enqueue(greeting, true);
    connect(reply, &Reply::finished, this, [this, reply] {
        reply->deleteLater();
        if (m_link != Connecting)
            return;
        if (reply->result().outcome != Result::Done)
            return fail(QStringLiteral("%1 opened, but no machine answered within %2 s")
                            .arg(m_target.describe(), seconds(m_options.replyTimeoutMs)));
        m_connectDeadline.stop();
        setLink(Up);
        m_watchdog.start();
    });
}

void Session::onLinkDown(const QString& line)
{
    if (m_link == Connecting && m_opened)
        return fail(QStringLiteral("the link to %1 went down (%2)").arg(m_target.describe(), line));
    if (m_link == Connecting) {
        const QString why = ZRDevice::linkError(m_device.get());
        return fail(QStringLiteral("%1: %2").arg(m_target.describe(), why.isEmpty() ? line : why));
    }
    if (m_link != Up)
        return;
    setLink(Lost);
    endAll(Result::LinkLost, QStringLiteral("the link to the machine went down (%1)").arg(line));
}

Reply* Session::send(const Request& request)
{
    const Request::Kind kind = request.kind;
    if (kind == Request::Read || kind == Request::Write
        || (kind >= Request::Jog && kind <= Request::BackToOrigin))
        return enqueue(request);
    auto* reply = new Reply(request, this);
    // Begun from the event loop, so that the caller can connect to the reply first.
    QTimer::singleShot(0, reply, [this, reply, kind] {
        if (kind == Request::Job)
            startJob(reply);
        else if (kind >= Request::Pause && kind <= Request::Stop)
            control(reply);
        else if (kind != Request::Status) // the queue and the history are a service's
            reply->finish(Result::Refused,
                QStringLiteral(
                    "only a machine service keeps a queue and a history (see --server)"));
        else if (m_link != Up)
            reply->finish(Result::LinkLost, notConnected);
        else // the machine's state, once it has had time to report a job
            QTimer::singleShot(stateWaitMs(), reply, [this, reply] {
                reply->m_result.last = m_state;
                reply->finish(m_link == Up ? Result::Done : Result::LinkLost, notConnected);
            });
    });
    return reply;
}

Reply* Session::enqueue(const Request& request, bool internal)
{
    auto* reply = new Reply(request, this);
    reply->m_internal = internal;
    m_queue.append(reply);
    QTimer::singleShot(0, this, &Session::startNext);
    return reply;
}

void Session::startNext()
{
    while (!m_current && !m_queue.isEmpty()) {
        Reply* reply = m_queue.first();
        if (reply && !reply->isFinished() && !reply->m_internal && m_link != Up)
            reply->finish(Result::LinkLost, notConnected);
        if (!reply || reply->isFinished()) {
            m_queue.removeFirst();
            continue;
        }
        // Jogging and origin moves wait until the machine has had time to report a job.
        if (reply->request().kind >= Request::Jog && stateWaitMs() > 0)
            return QTimer::singleShot(stateWaitMs(), this, &Session::startNext);
        m_queue.removeFirst();
        std::unique_ptr<Exchange> exchange(new Exchange);
        exchange->reply = reply;
        if (!prepare(*exchange))
            continue;
        m_current = std::move(exchange);
        for (const QByteArray& frame : qAsConst(m_current->frames))
            m_device->sendCMD(frame);
        m_replyDeadline.start(m_options.replyTimeoutMs);
        const int resend = m_options.resendReadAfterMs < 0 ? m_options.replyTimeoutMs / 2
                                                           : m_options.resendReadAfterMs;
        if (resend > 0 && reply->request().kind == Request::Read)
            m_resend.start(resend);
    }
}

Result::Outcome Session::check(
    const Request& request, QString* reason, QVector<QVariant>* values) const
{
    QVector<QVariant> stored(request.names.size());
    for (int i = 0; i < request.names.size(); ++i) {
        const QByteArray name = request.names.at(i).toLatin1();
        if (!m_device->property_ptr(name.constData())) {
            *reason = Values::unknownText(m_device.get(), request.names.at(i));
            return Result::Unknown;
        }
        const Result::Outcome fault = request.kind != Request::Write
            ? Result::Done
            : Values::checkWrite(
                m_device.get(), name, request.values.value(i), request.raw, &stored[i], reason);
        if (fault != Result::Done)
            return fault;
    }
    if (values)
        *values = stored;
    return Result::Done;
}

// Plans the frames and the values to watch; false when the request ended already (refused, or
// nothing to wait for).
bool Session::prepare(Exchange& exchange)
{
    Reply* reply = exchange.reply;
    const Request& request = reply->request();
    const auto end = [reply](Result::Outcome outcome, const QString& reason) {
        reply->finish(outcome, reason);
        return false;
    };
    const bool moves = request.kind != Request::Read && request.kind != Request::Write;
    // Every name and value is checked before any is stored or sent.
    QString reason;
    QVector<QVariant> values;
    const Result::Outcome fault = moves ? Result::Done : check(request, &reason, &values);
    if (fault != Result::Done)
        return end(fault, reason);
    if (moves && isJobOn())
        return end(Result::Refused,
            QStringLiteral("the machine is %1 %2 and does not move the head during a job")
                .arg(Protocol::statusText(m_state.status), m_state.fileName));
    if (request.kind == Request::Jog) {
        // The first argument drives Y, the second X; the device sends both.
        m_device->move(request.y, request.x);
        for (const char* axis : { "MOVE_Y", "MOVE_X" }) {
            if (ZRDeviceProperty* parameter = m_device->property_ptr(axis))
                exchange.watches.append(
                    { parameter, QString::fromLatin1(axis), parameter->value() });
        }
    } else if (moves) {
        const char* name = request.kind == Request::Origin ? "FLAG_POINT" : "BACK_FLAG_POINT";
        ZRDeviceProperty* command = m_device->property_ptr(name);
        if (!command)
            return end(Result::Unknown, QStringLiteral("the device has no origin command"));
        planWrite(exchange, name, command->value());
    } else {
        for (int i = 0; i < request.names.size(); ++i) {
            if (request.kind == Request::Read)
                planRead(exchange, request.names.at(i).toLatin1());
            else
                planWrite(exchange, request.names.at(i).toLatin1(), values.at(i));
        }
    }
    if (!exchange.watches.isEmpty())
        return true;
    for (const QByteArray& frame : qAsConst(exchange.frames))
        m_device->sendCMD(frame);
    reply->finish(Result::Done);
    return false;
}

void Session::planRead(Exchange& exchange, const QByteArray& name)
{
    QStringList& local = exchange.reply->m_result.local;
    const QByteArray group = m_device->property_ptr(name.constData())->get_cmd_bytes().isEmpty()
        ? Values::groupOf(m_device.get(), name, true)
        : name;
    if (group.isEmpty()) {
        // A group without a read of its own is read member by member.
        const QList<QByteArray> members = Values::members(m_device.get(), name);
        for (const QByteArray& member : members)
            planRead(exchange, member);
        if (members.isEmpty())
            local.append(QString::fromLatin1(name));
        return;
    }
    ZRDeviceProperty* reader = m_device->property_ptr(group.constData());
    if (ZRDevice::answerIsDropped(reader->get_cmd_int()))
        return local.append(QString::fromLatin1(name));
    if (exchange.frames.contains(reader->get_cmd_bytes()))
        return;
    exchange.frames.append(reader->get_cmd_bytes());
    // A group's answer is applied to the group, which fills its members.
    exchange.watches.append({ reader, QString::fromLatin1(group), reader->value() });
}

void Session::planWrite(Exchange& exchange, const QByteArray& name, const QVariant& value)
{
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    Watch watch { parameter, QString::fromLatin1(name), parameter->value() };
    watch.write = true;
    parameter->setValue(value);
    exchange.frames.append(parameter->set_cmd_bytes());
    if (ZRDevice::answerIsDropped(parameter->set_cmd_int())) {
        // The device never stores this answer: sent, but it cannot be seen.
        return exchange.reply->m_result.local.append(watch.name);
    }
    watch.byStatus = parameter->cmd_type() == ZRDeviceInterface::CCMD
        && parameter->get_cmd_int() != parameter->set_cmd_int();
    exchange.watches.append(watch);
}

void Session::settle()
{
    m_replyDeadline.stop();
    m_resend.stop();
    if (!m_current)
        return;
    const std::unique_ptr<Exchange> exchange = std::move(m_current);
    const QStringList unanswered = exchange->unanswered();
    QStringList refused;
    QStringList why;
    for (const Watch& watch : qAsConst(exchange->watches)) {
        if (watch.byStatus && watch.status > 0) {
            refused.append(watch.name);
            why.append(
                QStringLiteral("%1 (status %2)").arg(watch.name, QString::number(watch.status)));
        }
        watch.restore();
    }
    if (Reply* reply = exchange->reply) {
        reply->m_result.unanswered = unanswered;
        reply->m_result.refused = refused;
        if (!refused.isEmpty())
            reply->finish(Result::Refused,
                QStringLiteral("the machine refused %1").arg(why.join(QStringLiteral(", "))));
        else if (!unanswered.isEmpty())
            reply->finish(Result::NoAnswer,
                QStringLiteral("no answer from the machine within %1 ms for %2")
                    .arg(QString::number(m_options.replyTimeoutMs),
                        unanswered.join(QStringLiteral(", "))));
        else
            reply->finish(Result::Done);
    }
    startNext();
}

void Session::endAll(Result::Outcome outcome, const QString& reason)
{
    if (m_current) {
        const std::unique_ptr<Exchange> ended = std::move(m_current);
        m_replyDeadline.stop();
        m_resend.stop();
        for (const Watch& watch : qAsConst(ended->watches))
            watch.restore();
        if (ended->reply)
            ended->reply->finish(outcome, reason);
    }
    const QList<QPointer<Reply>> waiting = m_queue + m_controls;
    m_queue.clear();
    m_controls.clear();
    for (Reply* reply : waiting) {
        if (reply)
            reply->finish(outcome, reason);
    }
    endJob(outcome, reason);
    startNext();
}

void Session::lifeSign()
{
    m_sinceLife.start();
    setAnswering(true);
}

void Session::setAnswering(bool answering)
{
    if (m_answering == answering)
        return;
    m_answering = answering;
    emit answeringChanged(answering);
}

int Session::stateWaitMs() const
{
    if (m_simulator || m_state.status != 0)
        return 0;
    return int(qMax(qint64(0), m_options.replyTimeoutMs - m_sinceUp.elapsed()));
}

bool Session::startCloud()
{
    if (!m_options.cloud.isSet() || m_cloud)
        return true;
    m_cloud.reset(new Cloud(m_options.cloud));
    if (m_cloud->start())
        return true;
    m_error = m_cloud->errorString();
    m_cloud.reset();
    return false;
}
