#include "session.h"

#include "cloud.h"
#include "values.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QFileInfo>
#include <QTcpSocket>

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace {

constexpr int pollMs = 5;
constexpr int watchdogMs = 250;
// Periods without an answer before the machine is shown as not answering.
constexpr int missedBeats = 3;

// A value no answer can give the parameter: a frame never carries an STX, a one-register
// reply never the top of a 32-bit number, no decimal text a NaN.
QVariant markFor(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::UInt:
        return std::numeric_limits<uint>::max();
    case QMetaType::Int:
        return std::numeric_limits<int>::min();
    case QMetaType::Double:
        return std::numeric_limits<double>::quiet_NaN();
    default:
        return QString(QChar(2));
    }
}

bool isMarked(const QVariant& value, const QVariant& mark)
{
    if (value.userType() != mark.userType())
        return false;
    return mark.userType() == QMetaType::Double ? std::isnan(value.toDouble()) : value == mark;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

} // namespace

void Reply::cancel()
{
    if (!m_finished)
        emit cancelRequested();
}

void Reply::finish(Result::Outcome outcome, const QString& reason)
{
    if (m_finished)
        return;
    m_finished = true;
    m_result.outcome = outcome;
    if (!reason.isEmpty())
        m_result.reason = reason;
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
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Session::poll);
    connect(&m_heartbeat, &QTimer::timeout, this, &Session::beat);
    m_watchdog.setInterval(watchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        const int period = heartbeatMs();
        const qint64 silent = m_sinceLife.elapsed();
        const bool lost = silent > m_options.lostAfterMs;
        if (m_answering && (lost || silent > missedBeats * period + m_options.replyTimeoutMs)) {
            m_answering = false;
            emit answeringChanged(false);
        }
        if (lost)
            endAll(Result::LinkLost,
                QStringLiteral("the machine has not answered for %1 s").arg(seconds(int(silent))));
    });
    m_job.deadline.setSingleShot(true);
    connect(&m_job.deadline, &QTimer::timeout, this, [this] {
        endJob(Result::NoAnswer,
            m_job.stopping
                ? QStringLiteral("the machine did not confirm the stop")
                : QStringLiteral("no progress report: the machine did not start the job"));
    });
}

Session::~Session()
{
    m_watchdog.stop();
    m_heartbeat.stop();
    if (m_device)
        disconnect(m_device.get(), nullptr, this, nullptr);
    // The device closes its link while the machine is still there and before its cloud client.
    m_device.reset();
    m_cloud.reset();
    m_embedded.reset();
}

bool Session::open(const SessionOptions& options)
{
    m_options = options;
    if (!m_plugin.load(options.pluginDir)) {
        m_error = m_plugin.errorString();
        return false;
    }
    attachDevice();
    if (!m_device)
        m_error = QStringLiteral("the plugin %1 built no device").arg(m_plugin.fileName());
    return m_device != nullptr;
}

void Session::attachDevice()
{
    m_device = m_plugin.createDevice();
    if (!m_device)
        return;
    ZRDeviceProperty* heartbeat = m_device->property_ptr("HEARTBEAT");
    if (m_options.heartbeatSeconds > 0 && heartbeat)
        heartbeat->setValue(m_options.heartbeatSeconds);
    connect(m_device.get(), &ZRDeviceInterface::message, this,
        [this](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            onMessage(kind, text);
        });
    // A command's status answer goes to the write waiting for it.
    for (const QByteArray& name : Values::names(m_device.get())) {
        ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
        connect(parameter, &ZRDeviceProperty::retStatus, this, [this, parameter](int status) {
            if (!m_current)
                return;
            for (Watch& watch : m_current->watches) {
                if (watch.parameter == parameter && watch.byStatus)
                    watch.status = status;
            }
        });
    }
}

void Session::connectMachine()
{
    MachineTarget target = m_options.target;
    if (target.kind == MachineTarget::Embedded) {
        SimOptions simulator = m_options.simulator;
        if (m_options.heartbeatSeconds > 0)
            simulator.heartbeatSeconds = m_options.heartbeatSeconds;
        m_embedded.reset(new EmbeddedMachine(simulator));
        if (!m_embedded->listenTcp()) {
            m_link = Connecting;
            fail(m_embedded->errorString());
            return;
        }
        target = m_embedded->target();
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
    if (link != Up) {
        m_heartbeat.stop();
        m_watchdog.stop();
    }
    emit linkChanged(link);
}

void Session::closeLink(const QList<QByteArray>& keep)
{
    QHash<QByteArray, QVariant> carried;
    for (const QByteArray& name : keep) {
        if (ZRDeviceProperty* parameter = m_device->property_ptr(name.constData()))
            carried.insert(name, parameter->value());
    }
    endAll(Result::LinkLost, QStringLiteral("the link was closed"));
    disconnect(m_device.get(), nullptr, this, nullptr);
    m_device.reset();
    attachDevice();
    for (auto it = carried.cbegin(); it != carried.cend(); ++it)
        m_device->property_ptr(it.key().constData())->setValue(it.value());
    m_connectDeadline.stop();
    setLink(Closed);
}

QString Session::machineName() const
{
    if (m_embedded)
        return QStringLiteral("the embedded simulator (%1)").arg(m_target.describe());
    return m_target.describe();
}

void Session::onMessage(int kind, const QString& text)
{
    if (kind == ZRDeviceInterface::DevStatus) {
        if (Protocol::isLinkUp(text))
            onLinkUp();
        else if (Protocol::isLinkDown(text))
            onLinkDown(text);
        return;
    }
    lifeSign();
    TaskReport report;
    if (kind != ZRDeviceInterface::DevTasK || !TaskReport::parse(text, &report))
        return;
    m_state = report;
    if (!m_jobsSeen.contains(report.fileName))
        m_jobsSeen.append(report.fileName);
    emit this->report(report);
    onJobReport(report);
    for (const QPointer<Reply>& control : m_controls) {
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
    // The session keeps the heartbeat itself, so that it sees the answers.
    if (auto* core = qobject_cast<ZRCommonInterface*>(m_device.get()))
        core->heartbeat_switch(false);
    m_opened = true;
    m_sinceUp.start();
    m_sinceLife.start();
    m_state = TaskReport();
    m_answering = true;
    auto* greeting = new Reply(Request());
    greeting->setParent(this);
    if (m_options.heartbeatSeconds > 0) {
        greeting->m_request.kind = Request::Write;
        greeting->m_request.raw = true;
        greeting->m_request.values = QStringList { QString::number(m_options.heartbeatSeconds) };
    }
    greeting->m_request.names = QStringList { QStringLiteral("HEARTBEAT") };
    connect(greeting, &Reply::finished, this, [this, greeting] {
        greeting->deleteLater();
        if (m_link != Connecting)
            return;
        if (greeting->result().outcome != Result::Done)
            return fail(QStringLiteral("%1 opened, but no machine answered within %2 s")
                            .arg(m_target.describe(), seconds(m_options.replyTimeoutMs)));
        m_connectDeadline.stop();
        setLink(Up);
        m_watchdog.start();
        beat();
        emit connected();
    });
    enqueue(greeting, true);
}

void Session::onLinkDown(const QString& line)
{
    if (m_link == Connecting && m_opened)
        return fail(QStringLiteral("the link to %1 went down (%2)").arg(m_target.describe(), line));
    if (m_link == Connecting) {
        const auto* socket = m_device->findChild<QTcpSocket*>();
        const QString why = socket && socket->error() != QAbstractSocket::UnknownSocketError
            ? socket->errorString()
            : line;
        return fail(QStringLiteral("%1: %2").arg(m_target.describe(), why));
    }
    if (m_link != Up)
        return;
    setLink(Lost);
    endAll(Result::LinkLost, QStringLiteral("the link to the machine went down (%1)").arg(line));
}

Reply* Session::send(const Request& request)
{
    auto* reply = new Reply(request);
    reply->setParent(this);
    switch (request.kind) {
    case Request::Job:
        QTimer::singleShot(0, this, [this, reply] { startJob(reply); });
        break;
    case Request::Pause:
        QTimer::singleShot(0, this, [this, reply] { control(reply, "TASK_PAUSE"); });
        break;
    case Request::Resume:
        QTimer::singleShot(0, this, [this, reply] { control(reply, "TASK_RESUME"); });
        break;
    case Request::Stop:
        QTimer::singleShot(0, this, [this, reply] { control(reply, "TASK_STOP"); });
        break;
    default:
        enqueue(reply);
    }
    return reply;
}

void Session::enqueue(Reply* reply, bool internal)
{
    reply->setProperty("internal", internal);
    m_queue.append(reply);
    QTimer::singleShot(0, this, &Session::startNext);
}

void Session::startNext()
{
    while (!m_current && !m_queue.isEmpty()) {
        Reply* reply = m_queue.first();
        if (!reply || reply->isFinished()) {
            m_queue.removeFirst();
            continue;
        }
        const bool internal = reply->property("internal").toBool();
        if (!internal && m_link != Up) {
            m_queue.removeFirst();
            reply->finish(Result::LinkLost, QStringLiteral("not connected to a machine"));
            continue;
        }
        // Jogging and origin moves wait until the machine has had time to report a job.
        const Request::Kind kind = reply->request().kind;
        const bool needsState
            = kind == Request::Jog || kind == Request::Origin || kind == Request::BackToOrigin;
        const qint64 waitMs = m_options.replyTimeoutMs - m_sinceUp.elapsed();
        if (needsState && !m_embedded && m_state.status == 0 && waitMs > 0) {
            QTimer::singleShot(int(waitMs), this, &Session::startNext);
            return;
        }
        m_queue.removeFirst();
        std::unique_ptr<Exchange> exchange(new Exchange);
        exchange->reply = reply;
        exchange->internal = internal;
        if (!prepare(*exchange))
            continue;
        m_current = std::move(exchange);
        m_current->clock.start();
        for (const QByteArray& frame : qAsConst(m_current->frames))
            m_device->sendCMD(frame);
        m_poll.start();
    }
}

bool Session::prepare(Exchange& exchange)
{
    Reply* reply = exchange.reply;
    const Request& request = reply->request();
    const auto refuse = [reply](Result::Outcome outcome, const QString& reason) {
        reply->finish(outcome, reason);
        return false;
    };
    switch (request.kind) {
    case Request::Read:
        for (const QString& name : request.names) {
            if (!m_device->property_ptr(name.toLatin1().constData()))
                return refuse(Result::Unknown,
                    QStringLiteral("the device has no parameter %1 (see zrhost list)").arg(name));
        }
        for (const QString& name : request.names)
            planRead(exchange, name.toLatin1());
        break;
    case Request::Write:
        for (int i = 0; i < request.names.size(); ++i) {
            if (!planWrite(exchange, request.names.at(i).toLatin1(), request.values.value(i),
                    request.raw)) {
                for (const Watch& watch : qAsConst(exchange.watches))
                    watch.parameter->setValue(watch.old);
                return false;
            }
        }
        break;
    case Request::Jog:
    case Request::Origin:
    case Request::BackToOrigin: {
        if (isJobOn())
            return refuse(Result::Refused,
                QStringLiteral("the machine is %1 %2 and does not move the head during a job")
                    .arg(m_state.statusText(), m_state.fileName));
        QList<QByteArray> moved { "MOVE_Y", "MOVE_X" };
        if (request.kind == Request::Jog) {
            // The first argument drives Y, the second X; the device sends both.
            m_device->move(request.y, request.x);
        } else {
            moved = { request.kind == Request::Origin ? "FLAG_POINT" : "BACK_FLAG_POINT" };
            ZRDeviceProperty* command = m_device->property_ptr(moved.first().constData());
            if (!command)
                return refuse(Result::Unknown, QStringLiteral("the device has no origin command"));
            exchange.frames.append(command->set_cmd_bytes());
        }
        for (const QByteArray& name : moved) {
            if (ZRDeviceProperty* parameter = m_device->property_ptr(name.constData()))
                watch(exchange, parameter, QString::fromLatin1(name));
        }
        break;
    }
    default:
        return refuse(Result::Refused, QStringLiteral("not a request of the queue"));
    }
    if (exchange.watches.isEmpty()) {
        for (const QByteArray& frame : qAsConst(exchange.frames))
            m_device->sendCMD(frame);
        reply->finish(Result::Done);
        return false;
    }
    return true;
}

void Session::watch(Exchange& exchange, ZRDeviceProperty* parameter, const QString& name)
{
    Watch watch { parameter, name, parameter->value(), markFor(parameter->value()), QVariant() };
    parameter->setValue(watch.mark);
    exchange.watches.append(watch);
}

void Session::planRead(Exchange& exchange, const QByteArray& name)
{
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    Result& result = exchange.reply->m_result;
    const QByteArray frame = parameter->get_cmd_bytes();
    const QByteArray group = frame.isEmpty() ? Values::readingGroup(m_device.get(), name) : name;
    const QList<QByteArray> members = Values::members(m_device.get(), name);
    if (frame.isEmpty() && group.isEmpty() && !members.isEmpty()) {
        for (const QByteArray& member : members)
            planRead(exchange, member);
        return;
    }
    if (frame.isEmpty() && group.isEmpty()) {
        result.local.append(QString::fromLatin1(name));
        return;
    }
    ZRDeviceProperty* reader = m_device->property_ptr(group.constData());
    if (Protocol::answerIsDropped(reader->get_cmd_int())) {
        result.local.append(QString::fromLatin1(name));
        return;
    }
    const QByteArray command = reader->get_cmd_bytes();
    if (exchange.frames.contains(command))
        return;
    exchange.frames.append(command);
    const QList<QByteArray> parts = Values::members(m_device.get(), group);
    if (parts.isEmpty())
        watch(exchange, reader, QString::fromLatin1(group));
    for (const QByteArray& member : parts)
        watch(exchange, m_device->property_ptr(member.constData()), QString::fromLatin1(group));
}

bool Session::planWrite(Exchange& exchange, const QByteArray& name, const QString& text, bool raw)
{
    Reply* reply = exchange.reply;
    QVariant value;
    QString error;
    static const Result::Outcome outcomes[]
        = { Result::Done, Result::Unknown, Result::Refused, Result::ReadOnly, Result::OutOfRange };
    const Values::Fault fault = Values::checkWrite(m_device.get(), name, text, raw, &value, &error);
    if (fault != Values::Fits) {
        reply->finish(outcomes[fault], error);
        return false;
    }
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    const QVariant old = parameter->value();
    parameter->setValue(value);
    exchange.frames.append(parameter->set_cmd_bytes());
    if (Protocol::answerIsDropped(parameter->set_cmd_int())) {
        // The device never stores this answer: sent, but it cannot be seen.
        reply->m_result.local.append(QString::fromLatin1(name));
        return true;
    }
    Watch watch { parameter, QString::fromLatin1(name), old, QVariant(), value };
    watch.byStatus = parameter->cmd_type() == ZRDeviceInterface::CCMD
        && parameter->get_cmd_int() != parameter->set_cmd_int();
    if (!watch.byStatus) {
        watch.mark = markFor(value);
        parameter->setValue(watch.mark);
    }
    exchange.watches.append(watch);
    return true;
}

void Session::poll()
{
    if (!m_current)
        return m_poll.stop();
    Exchange& exchange = *m_current;
    for (Watch& watch : exchange.watches) {
        watch.answered
            = watch.byStatus ? watch.status >= 0 : !isMarked(watch.parameter->value(), watch.mark);
    }
    // A group's answer fills the members it has fields for.
    bool all = true;
    for (const Watch& watch : qAsConst(exchange.watches))
        all = all && heard(exchange, watch.name);
    const qint64 elapsed = exchange.clock.elapsed();
    if (all || elapsed >= m_options.replyTimeoutMs || !exchange.reply)
        return settle(!all);
    // A read whose frame or answer was lost is asked once more.
    if (!exchange.resent && elapsed >= m_options.replyTimeoutMs / 2
        && exchange.reply->request().kind == Request::Read) {
        exchange.resent = true;
        for (const QByteArray& frame : qAsConst(exchange.frames))
            m_device->sendCMD(frame);
    }
}

bool Session::heard(const Exchange& exchange, const QString& name)
{
    for (const Watch& watch : exchange.watches) {
        if (watch.name == name && watch.answered)
            return true;
    }
    return false;
}

void Session::settle(bool timedOut)
{
    m_poll.stop();
    std::unique_ptr<Exchange> exchange = std::move(m_current);
    Reply* reply = exchange->reply;
    QStringList refused;
    QStringList unanswered;
    bool any = false;
    for (const Watch& watch : qAsConst(exchange->watches)) {
        any = any || watch.answered;
        if (watch.answered && watch.byStatus && watch.status != 0) {
            refused.append(QStringLiteral("%1 (status %2)").arg(watch.name).arg(watch.status));
            if (reply)
                reply->m_result.refused.append(watch.name);
        }
        if (!heard(*exchange, watch.name) && !unanswered.contains(watch.name))
            unanswered.append(watch.name);
        if (!watch.answered || (watch.byStatus && watch.status != 0))
            watch.parameter->setValue(watch.old);
    }
    if (any)
        lifeSign();
    if (reply) {
        reply->m_result.unanswered = unanswered;
        if (!refused.isEmpty())
            reply->finish(Result::Refused,
                QStringLiteral("the machine refused %1").arg(refused.join(QStringLiteral(", "))));
        else if (timedOut)
            reply->finish(Result::NoAnswer,
                QStringLiteral("no answer from the machine within %1 ms for %2")
                    .arg(m_options.replyTimeoutMs)
                    .arg(unanswered.join(QStringLiteral(", "))));
        else
            reply->finish(Result::Done);
    }
    startNext();
}

void Session::endAll(Result::Outcome outcome, const QString& reason)
{
    // While the link stays up the heartbeat goes on asking: it is how the machine is heard again.
    const bool keepProbes = m_link == Up && outcome == Result::LinkLost && m_device;
    if (m_current && !(keepProbes && m_current->internal)) {
        for (const Watch& watch : qAsConst(m_current->watches)) {
            if (watch.byStatus || isMarked(watch.parameter->value(), watch.mark))
                watch.parameter->setValue(watch.old);
        }
        m_poll.stop();
        if (Reply* reply = std::move(m_current)->reply)
            reply->finish(outcome, reason);
    }
    const QList<QPointer<Reply>> waiting = m_queue + m_controls;
    m_queue.clear();
    m_controls.clear();
    for (const QPointer<Reply>& reply : waiting) {
        if (reply && keepProbes && reply->property("internal").toBool())
            m_queue.append(reply);
        else if (reply)
            reply->finish(outcome, reason);
    }
    if (m_job.reply)
        endJob(outcome, reason);
}

void Session::lifeSign()
{
    m_sinceLife.start();
    if (!m_answering) {
        m_answering = true;
        emit answeringChanged(true);
    }
}

void Session::beat()
{
    if (m_link != Up)
        return;
    m_heartbeat.start(heartbeatMs());
    for (const QPointer<Reply>& queued : qAsConst(m_queue)) {
        if (queued && queued->property("internal").toBool())
            return;
    }
    auto* probe = new Reply(Request::of(Request::Read, { QStringLiteral("HEARTBEAT") }));
    probe->setParent(this);
    connect(probe, &Reply::finished, probe, &QObject::deleteLater);
    enqueue(probe, true);
}

int Session::heartbeatMs() const
{
    const ZRDeviceProperty* heartbeat = m_device->property_ptr("HEARTBEAT");
    return Protocol::heartbeatSeconds(heartbeat ? heartbeat->value().toDouble() : 2) * 1000;
}

void Session::control(Reply* reply, const char* parameter)
{
    ZRDeviceProperty* command = m_device->property_ptr(parameter);
    if (m_link != Up || !command)
        return reply->finish(Result::LinkLost, QStringLiteral("not connected to a machine"));
    m_controls.append(reply);
    m_device->sendCMD(command->set_cmd_bytes());
    QTimer::singleShot(m_options.replyTimeoutMs, reply, [this, reply] {
        reply->finish(Result::NoAnswer,
            QStringLiteral("no progress report showed it within %1 ms (is a job running?)")
                .arg(m_options.replyTimeoutMs));
    });
}

void Session::startJob(Reply* reply)
{
    if (m_job.reply)
        return reply->finish(Result::Busy, QStringLiteral("this host is running a job already"));
    QString error;
    CutFile file = CutFile::read(reply->request().file, &error);
    if (!file.isValid())
        return reply->finish(Result::OutOfRange, error);
    if (m_link != Up)
        return reply->finish(Result::LinkLost, QStringLiteral("not connected to a machine"));
    if (!m_device->property_ptr("TASK_MODE") || !m_device->property_ptr("TASK_COPIES"))
        return reply->finish(Result::Refused, QStringLiteral("the device has no task parameters"));
    m_job.reply = reply;
    m_job.file = file;
    m_job.own.clear();
    m_job.sent = false;
    m_job.stopping = false;
    connect(reply, &Reply::cancelRequested, this, [this] {
        if (!m_job.sent)
            return endJob(Result::Cancelled, QStringLiteral("nothing was sent"));
        if (m_job.stopping)
            return endJob(
                Result::Cancelled, QStringLiteral("the machine has not confirmed the stop"));
        m_job.stopping = true;
        m_device->sendCMD(m_device->property_ptr("TASK_STOP")->set_cmd_bytes());
        emit notice(QStringLiteral("Stop sent to the machine."));
        m_job.deadline.start(m_options.replyTimeoutMs * 3);
    });
    // The machine's state first: a machine cutting another job reports it within moments.
    const qint64 waitMs = m_embedded ? 0 : m_options.replyTimeoutMs - m_sinceUp.elapsed();
    QTimer::singleShot(int(qMax(qint64(0), waitMs)), this, &Session::sendJob);
}

void Session::sendJob()
{
    if (!m_job.reply || m_job.sent)
        return;
    if (isJobOn())
        return endJob(Result::Busy,
            QStringLiteral("the machine is busy with %1 (%2, %3 %); wait for it to end, or stop "
                           "it with zrhost stop")
                .arg(m_state.fileName, m_state.statusText(), QString::number(m_state.percent)));
    const Request& request = m_job.reply->request();
    m_job.before = m_jobsSeen;
    m_device->property_ptr("TASK_MODE")->setValue(0);
    m_device->property_ptr("TASK_COPIES")->setValue(request.copies);
    if (ZRDeviceProperty* info = m_device->property_ptr("TASK_FILE_INFO"))
        info->setValue(m_job.file.fileInfo());
    if (ZRDeviceProperty* preview = m_device->property_ptr("FILE_PREVIEW"))
        preview->setValue(m_job.file.previewPng());
    m_device->setPlt(m_job.file.text());
    m_job.sent = true;
    m_job.clock.start();
    m_job.deadline.start(m_options.replyTimeoutMs * 10);
    m_device->startTask();
}

void Session::onJobReport(const TaskReport& report)
{
    if (!m_job.reply || !m_job.sent)
        return;
    if (m_job.own.isEmpty()) {
        // The first report of a job the machine had not reported before, for these copies.
        if (m_job.before.contains(report.fileName) || report.finished != 0
            || report.copies != m_job.reply->request().copies)
            return endJob(Result::Busy,
                QStringLiteral("the machine went on with %1 and did not take the file")
                    .arg(report.fileName));
        m_job.own = report.fileName;
    }
    if (report.fileName != m_job.own)
        return;
    if (!m_job.stopping)
        m_job.deadline.stop();
    Result& result = m_job.reply->m_result;
    result.last = report;
    result.record = m_device->property_ptr("TASK")->value().toJsonObject();
    result.elapsedMs = m_job.clock.elapsed();
    emit m_job.reply->progress(report);
    if (report.status == TaskReport::Finished
        || (report.allCut() && report.status != TaskReport::Stopped))
        endJob(Result::Done);
    else if (report.status == TaskReport::Stopped)
        endJob(Result::Stopped);
}

void Session::endJob(Result::Outcome outcome, const QString& reason)
{
    Reply* reply = m_job.reply;
    if (!reply)
        return;
    m_job.reply = nullptr;
    m_job.deadline.stop();
    disconnect(reply, &Reply::cancelRequested, this, nullptr);
    if (m_job.sent)
        reply->m_result.elapsedMs = m_job.clock.elapsed();
    // Closing the task posts the work record and resets the record: only for a job the machine
    // has ended.
    if (outcome == Result::Done || outcome == Result::Stopped)
        m_device->stopTask();
    reply->finish(outcome, reason);
}

bool Session::startCloud()
{
    if (!m_options.cloud.isSet() || m_cloud)
        return true;
    m_cloud.reset(new Cloud(m_options.cloud));
    if (!m_cloud->start()) {
        m_error = m_cloud->errorString();
        m_cloud.reset();
        return false;
    }
    return true;
}
