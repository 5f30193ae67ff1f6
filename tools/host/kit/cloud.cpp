#include "cloud.h"

#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QThread>

namespace {

const char WorkRecords[] = "device_work_records";
constexpr int reportsSettleMs = 1000;

// What the service answered, with a hint where the token is the likely cause.
QString answerText(const QString& described, int status)
{
    return status == 401 || status == 403 ? described + QStringLiteral(", check --cloud-token")
                                          : described;
}

int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

Cloud::Cloud(const CloudOptions& options, QObject* parent)
    : CorvaneCloud(parent)
    , m_options(options)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &Cloud::onTimeout);
    m_again.setSingleShot(true);
    connect(&m_again, &QTimer::timeout, this, &Cloud::registerDevice);
}

bool Cloud::start()
{
    if (m_options.embedded) {
        m_service.reset(new CloudService);
        m_service->setRequiredToken(m_options.token);
        if (!m_service->listen()) {
            m_error = QStringLiteral("the embedded cloud service cannot listen on 127.0.0.1: %1")
                          .arg(m_service->errorString());
            return false;
        }
        connect(m_service.get(), &CloudService::reportReceived, this, &Cloud::checkJob);
    }
    setBaseUrl(m_service ? m_service->httpBase() : m_options.httpBase);
    setWs(m_service ? m_service->wsBase() : m_options.wsBase);
    setBearerToken(m_options.token);
    setRequestTimeout(m_options.requestTimeoutMs);
    return true;
}

void Cloud::attach(ZRDeviceInterface* device)
{
    QString code = m_options.deviceCode;
    ZRDeviceProperty* number = device->property_ptr("DEVICE_ID");
    if (code.isEmpty() && number)
        code = number->value().toString();
    const auto giveUp = [this](const QString& why) {
        m_state = Failed;
        emit problem(why + QStringLiteral("; going on without the cloud service"));
    };
    if (code.isEmpty())
        return giveUp(QStringLiteral("no device code: the machine reported no machine number; "
                                     "give --device-code"));
    if (!CloudOptions::isValidDeviceCode(code))
        return giveUp(QStringLiteral("the machine number \"%1\" cannot serve as the device code "
                                     "(letters, digits, '-', '_' and '.' only); give --device-code")
                          .arg(ZRDevice::printable(code.left(80))));
    if (!device->property_ptr("DEVICE_CLOUD"))
        return giveUp(
            QStringLiteral("the device has no cloud record (DEVICE_CLOUD) and cannot register"));
    m_device = device;
    m_code = code;
    m_registration = ZRDevice::registrationOf(device);
    connect(m_registration, &ZRDevice::Registration::changed, this, &Cloud::onRegistration);
    connect(device, &ZRDeviceInterface::message, this, &Cloud::onDeviceMessage);
    const QString channel = ws().isEmpty() ? QStringLiteral("no WebSocket base")
                                           : QStringLiteral("WebSocket %1").arg(ws());
    emit notice(QStringLiteral("Cloud service: %1 (%2)%3.")
                    .arg(baseUrl().toString(), channel,
                        m_service ? QStringLiteral(", started in this program") : QString()));
    registerDevice();
}

void Cloud::registerDevice()
{
    if (!m_device)
        return;
    emit notice(QStringLiteral("Registering device code %1%2 with the cloud service.")
                    .arg(m_code,
                        m_options.deviceCode.isEmpty() ? QStringLiteral(" (the machine number)")
                                                       : QString()));
    m_state = Attaching;
    m_problemsTold = 0;
    // The model query, the lookup, then the creation or the update: two rounds at most.
    m_deadline.start(2 * m_options.requestTimeoutMs + 1000);
    m_device->setCorvaneCloud(this, m_code);
}

void Cloud::postWorkRecord(const QJsonObject& body, const QString& key,
    const std::function<void(int status, bool taken, const QString& answer)>& done)
{
    customRequestWithHeaders(QLatin1String(WorkRecords), "POST", body,
        { { "Idempotency-Key", key.toUtf8() } }, [this, done](QNetworkReply* reply, bool usable) {
            done(statusOf(reply), usable,
                answerText(describeReply(reply, usable), statusOf(reply)));
        });
}

// The device's work record goes to the outbox when a machine service keeps one; otherwise what
// the service answers it is told after the job.
void Cloud::customRequest(const QString& path, QByteArray method, QJsonObject body,
    std::function<void(QNetworkReply*, bool)> handler)
{
    if (QThread::currentThread() != thread() || path != QLatin1String(WorkRecords)
        || method != "POST")
        return CorvaneCloud::customRequest(path, method, body, handler);
    if (m_hold)
        return m_hold(body);
    m_workRecord = body;
    CorvaneCloud::customRequest(
        path, method, body, [this, handler](QNetworkReply* reply, bool usable) {
            if (handler)
                handler(reply, usable);
            m_workRecordOutcome = answerText(describeReply(reply, usable), statusOf(reply));
            m_workRecordTaken = usable;
            checkJob();
        });
}

void Cloud::onTimeout()
{
    if (m_state == Attaching)
        return settle(QStringLiteral("the registration did not finish within %1 s")
                          .arg(m_deadline.interval() / 1000.0));
    if (m_state != Opening)
        return checkJob();
    m_state = Closed;
    emit problem(QStringLiteral("the remote channel did not open within %1 s; runtime reports "
                                "will not reach the service")
                     .arg(m_options.requestTimeoutMs / 1000.0));
}

// The host gives up on the registration: no lookup is asked again, and what is still on its
// way is aborted, so that an answer that never ends stops costing memory and a connection. An
// outbox's post is left to its own time-out: the outbox waits for its answer before it sends
// again.
void Cloud::settle(const QString& failure)
{
    if (m_state != Attaching)
        return;
    m_state = Failed;
    m_deadline.stop();
    m_registration->stopRetrying();
    if (!m_hold)
        abortRequests();
    if (!m_keepRegistering)
        return emit problem(QStringLiteral("device code %1 is not registered: %2; going on "
                                           "without the cloud service")
                                .arg(m_code, failure));
    const int pauseMs = qMin(1000 << qMin(m_registrations++, 9), 300000);
    emit problem(QStringLiteral("device code %1 is not registered: %2; trying again in %3 s")
                     .arg(m_code, failure, QString::number(pauseMs / 1000.0)));
    m_again.start(pauseMs);
}

// As the device's registration goes: its end told once the model query is answered too, the
// steps that failed without failing it told as they come, and then the channel opened.
void Cloud::onRegistration()
{
    const ZRDevice::Registration* r = m_registration;
    if (m_state == Attaching && r->state() == ZRDevice::Registration::Failed)
        return settle(answerText(r->reason(), r->httpStatus()));
    if (m_state == Attaching && r->state() == ZRDevice::Registration::Registered
        && r->modelAnswered()) {
        m_state = Registered;
        m_registrations = 0;
        emit notice(QStringLiteral("Cloud: registered as device id %1 (%2), %3.")
                        .arg(QString::number(r->deviceId()),
                            r->modelId() >= 0 ? QStringLiteral("model id %1").arg(r->modelId())
                                              : QStringLiteral("model id unknown"),
                            r->created() ? QStringLiteral("a new entry")
                                         : QStringLiteral("an entry the service knew")));
        openChannel();
        emit registered();
    }
    if (m_state == Attaching)
        return;
    for (; m_problemsTold < r->problems().size(); ++m_problemsTold)
        emit problem(r->problems().at(m_problemsTold));
}

void Cloud::openChannel()
{
    if (ws().isEmpty()) {
        m_deadline.stop();
        emit notice(QStringLiteral("No WebSocket base (--cloud-ws): the remote channel stays "
                                   "closed and runtime reports are not sent."));
        return;
    }
    emit notice(QStringLiteral("Opening the remote channel %1%2/Device/.").arg(ws(), m_code));
    m_state = Opening;
    m_deadline.start(m_options.requestTimeoutMs);
    ZRDevice::openRemoteChannel(m_device);
}

// Once the work record is answered and the reports are in (or the time is up): what became of
// them.
void Cloud::checkJob()
{
    if (m_job != JobPending)
        return;
    const bool recordAnswered = m_workRecord.isEmpty() || !m_workRecordOutcome.isEmpty();
    const bool reportsIn
        = !m_service || m_state < Opening || m_service->reports(m_code).size() >= m_reportsSent;
    if (!(recordAnswered && reportsIn) && m_deadline.isActive())
        return;
    m_deadline.stop();
    m_job = JobReported;
    if (!m_workRecord.isEmpty() && m_workRecordOutcome.isEmpty()) {
        abortRequests();
        emit problem(QStringLiteral("the cloud service did not answer the work record in time"));
    } else if (!m_workRecordOutcome.isEmpty() && !m_workRecordTaken) {
        emit problem(QStringLiteral("the cloud service did not take the work record (POST %1): %2")
                         .arg(QLatin1String(WorkRecords), m_workRecordOutcome));
    } else if (m_workRecordTaken) {
        // With the embedded service, what it stored rather than what was sent.
        const QJsonObject shown = m_service && !m_service->workRecords().isEmpty()
            ? m_service->workRecords().last()
            : m_workRecord;
        emit result(QStringLiteral("%1 (%2):\n%3\n")
                        .arg(m_service ? QStringLiteral("Work record the cloud service received")
                                       : QStringLiteral("Work record posted to the cloud service"),
                            m_workRecordOutcome,
                            QString::fromUtf8(QJsonDocument(shown).toJson()).trimmed()));
    }
    if (m_service && m_state >= Opening)
        emit result(QStringLiteral("Runtime reports the cloud service collected on the channel: %1 "
                                   "(the device sent %2).\n")
                        .arg(QString::number(m_service->reports(m_code).size()),
                            QString::number(m_reportsSent)));
}

void Cloud::reportJob(bool taskClosed, qint64 copiesFinished)
{
    if (m_job != NoJob)
        return;
    m_job = JobPending;
    if (m_workRecord.isEmpty()) {
        const QString why = !isRegistered()
            ? QStringLiteral("the device is not registered with the cloud service")
            : !taskClosed         ? QStringLiteral("the task was not closed")
            : copiesFinished == 0 ? QStringLiteral("no copy was finished")
                                  : QStringLiteral("the device had nothing to record");
        emit notice(QStringLiteral("No work record was posted: %1.").arg(why));
    }
    m_deadline.start(m_options.requestTimeoutMs + reportsSettleMs);
    checkJob();
}

void Cloud::onDeviceMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    // The device passes each progress report on to the channel right after this message.
    if (kind == ZRDeviceInterface::DevTasK)
        m_reportsSent += m_state == Open;
    static const QStringList channelLines { ZRDevice::channelConnected,
        ZRDevice::channelDisconnected, ZRDevice::channelError };
    if (kind != ZRDeviceInterface::DevStatus || !channelLines.contains(text) || m_state < Opening)
        return;
    emit notice(QStringLiteral("Cloud channel: %1").arg(text));
    const State was = m_state;
    m_state = text == QLatin1String(ZRDevice::channelConnected) ? Open : Closed;
    if (was == Opening)
        m_deadline.stop();
    if (was == Opening && m_state == Closed)
        emit problem(QStringLiteral("the remote channel did not open (check --cloud-ws); runtime "
                                    "reports will not reach the service"));
    else if (was == Open && m_state == Closed)
        emit problem(QStringLiteral("the remote channel closed; the device does not reopen it, so "
                                    "further runtime reports are lost"));
}
