#include "cloudattachment.h"

#include "cloudservice.h"
#include "hostcloudclient.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QJsonDocument>

namespace {

// Where the service's record of a job arrives, and how long the service may take to collect
// the runtime reports a device has already sent.
const char WorkRecords[] = "device_work_records";
constexpr int reportsSettleMs = 1000;

QString jsonText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed();
}

} // namespace

CloudAttachment::CloudAttachment(const CloudOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{ }

CloudAttachment::~CloudAttachment()
{
    m_client.reset();
    m_service.reset();
}

bool CloudAttachment::start()
{
    if (m_client)
        return true;
    QUrl httpBase = m_options.httpBase;
    QString wsBase = m_options.wsBase;
    if (m_options.embedded) {
        m_service.reset(new CloudService);
        m_service->setRequiredToken(m_options.token);
        if (!m_service->listen()) {
            m_error = QStringLiteral("the embedded cloud service cannot listen on 127.0.0.1: %1")
                          .arg(m_service->errorString());
            m_service.reset();
            return false;
        }
        httpBase = m_service->httpBase();
        wsBase = m_service->wsBase();
        connect(m_service.get(), &CloudService::reportReceived, this, [this] {
            if (m_loop)
                m_loop->quit();
        });
    }
    m_client.reset(new HostCloudClient(httpBase, wsBase));
    m_client->setBearerToken(m_options.token);
    m_client->setRequestTimeout(m_options.requestTimeoutMs);
    m_client->setLookupRetries(false);
    connect(m_client.get(), &HostCloudClient::requestSent, this, &CloudAttachment::onRequestSent);
    connect(m_client.get(), &HostCloudClient::replyReceived, this, &CloudAttachment::onReply);
    return true;
}

QString CloudAttachment::serviceText() const
{
    if (!m_client)
        return QString();
    const QString channel = m_client->ws().isEmpty()
        ? QStringLiteral("no WebSocket base")
        : QStringLiteral("WebSocket %1").arg(m_client->ws());
    return QStringLiteral("%1 (%2)%3")
        .arg(m_client->baseUrl().toString(), channel,
            m_service ? QStringLiteral(", started in this program") : QString());
}

QString CloudAttachment::deviceCodeFor(ZRDeviceInterface* device, QString* why) const
{
    if (!m_options.deviceCode.isEmpty())
        return m_options.deviceCode;
    ZRDeviceProperty* machineNumber = device->property_ptr("DEVICE_ID");
    const QString number = machineNumber ? machineNumber->value().toString() : QString();
    if (number.isEmpty()) {
        *why = QStringLiteral("no device code: the machine reported no machine number; give "
                              "--device-code");
        return QString();
    }
    if (!CloudOptions::isValidDeviceCode(number)) {
        *why = QStringLiteral("the machine number \"%1\" cannot serve as the device code "
                              "(letters, digits, '-', '_' and '.' only); give --device-code")
                   .arg(number);
        return QString();
    }
    return number;
}

bool CloudAttachment::attach(ZRDeviceInterface* device)
{
    if (!m_client || m_device || m_state != Idle)
        return false;
    QString why;
    const QString code = deviceCodeFor(device, &why);
    if (code.isEmpty()) {
        m_state = Failed;
        emit problem(why + QStringLiteral("; going on without the cloud service"));
        return false;
    }
    if (!device->property_ptr("DEVICE_CLOUD")) {
        m_state = Failed;
        emit problem(QStringLiteral("the device has no cloud record (DEVICE_CLOUD) and cannot "
                                    "register; going on without the cloud service"));
        return false;
    }
    m_device = device;
    m_code = code;
    connect(device, &ZRDeviceInterface::message, this, &CloudAttachment::onDeviceMessage);

    emit notice(QStringLiteral("Cloud service: %1.").arg(serviceText()));
    emit notice(QStringLiteral("Registering device code %1%2 with the cloud service.")
                    .arg(code,
                        m_options.deviceCode.isEmpty() ? QStringLiteral(" (the machine number)")
                                                       : QString()));
    m_state = Registering;
    // The device asks for its model, looks itself up, then creates or updates its entry: two
    // requests one after the other at most, each within the client's time-out.
    const int timeoutMs = 2 * m_options.requestTimeoutMs + 1000;
    device->setCorvaneCloud(m_client.get(), code);
    settleRegistration();
    if (!waitFor([this] { return m_state != Registering; }, timeoutMs)) {
        if (m_cancelled) {
            m_state = Cancelled;
            return false;
        }
        fail(QStringLiteral("the registration did not finish within %1 s").arg(timeoutMs / 1000.0));
    }
    if (m_state != Registered)
        return false;
    openChannel();
    return true;
}

void CloudAttachment::cancel()
{
    m_cancelled = true;
    if (m_loop)
        m_loop->quit();
}

template <typename Done> bool CloudAttachment::waitFor(Done done, int timeoutMs)
{
    if (done())
        return true;
    if (m_cancelled)
        return false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Whatever changes the state quits the loop; the condition is looked at after each change.
    QEventLoop* outer = m_loop;
    m_loop = &loop;
    deadline.start(timeoutMs);
    while (!done() && !m_cancelled && deadline.isActive())
        loop.exec();
    m_loop = outer;
    return done();
}

QJsonObject CloudAttachment::record() const
{
    ZRDeviceProperty* mirror = m_device ? m_device->property_ptr("DEVICE_CLOUD") : nullptr;
    return mirror ? mirror->value().toJsonObject() : QJsonObject();
}

int CloudAttachment::deviceId() const
{
    const QJsonObject cloud = record();
    return cloud.contains(QLatin1String("id")) ? cloud.value(QLatin1String("id")).toInt() : -1;
}

int CloudAttachment::modelId() const
{
    const QJsonObject cloud = record();
    return cloud.contains(QLatin1String("device_model"))
        ? cloud.value(QLatin1String("device_model")).toInt()
        : -1;
}

QString CloudAttachment::outcome(const CloudExchange& exchange) const
{
    QString text = exchange.outcome(m_options.requestTimeoutMs);
    if (exchange.status == 401 || exchange.status == 403)
        text += QStringLiteral(", check --cloud-token");
    return text;
}

void CloudAttachment::onRequestSent(const CloudExchange& exchange)
{
    if (exchange.is("PATCH", "device_model"))
        m_modelPending = true;
    else if (exchange.is("GET", "device"))
        m_lookupPending = true;
    else if (exchange.is("POST", "device_model"))
        m_creationPending = true;
    else if (exchange.is("PUT", "device"))
        m_updatePending = true;
    else if (exchange.is("POST", WorkRecords)) {
        m_workRecordSent = true;
        m_workRecord = exchange;
    }
}

void CloudAttachment::onReply(const CloudExchange& exchange)
{
    if (exchange.is("PATCH", "device_model")) {
        m_modelPending = false;
        m_model = exchange;
    } else if (exchange.is("GET", "device")) {
        m_lookupPending = false;
        // 200 has made the device update its entry, 404 create it; nothing else moves on.
        if (exchange.status != 200 && exchange.status != 404)
            fail(QStringLiteral("the device lookup (GET device) got %1").arg(outcome(exchange)));
    } else if (exchange.is("POST", "device_model")) {
        m_creationPending = false;
        m_created = exchange.usable && exchange.status == 200;
        if (!m_created)
            fail(QStringLiteral("the service did not create the device entry (POST "
                                "device_model): %1")
                     .arg(outcome(exchange)));
    } else if (exchange.is("PUT", "device")) {
        m_updatePending = false;
        m_update = exchange;
    } else if (exchange.is("POST", WorkRecords)) {
        m_workRecord = exchange;
    }
    settleRegistration();
    if (m_loop)
        m_loop->quit();
}

void CloudAttachment::settleRegistration()
{
    if (m_state != Registering)
        return;
    if (!m_failure.isEmpty()) {
        m_state = Failed;
        emit problem(QStringLiteral("device code %1 is not registered: %2; going on without "
                                    "the cloud service")
                         .arg(m_code, m_failure));
        return;
    }
    if (deviceId() < 0 || m_modelPending || m_lookupPending || m_creationPending || m_updatePending)
        return;
    m_state = Registered;
    registered();
}

void CloudAttachment::fail(const QString& reason)
{
    if (m_failure.isEmpty())
        m_failure = reason;
    settleRegistration();
}

void CloudAttachment::registered()
{
    const QString model = modelId() >= 0
        ? QStringLiteral("model id %1").arg(modelId())
        : QStringLiteral("model id unknown: the model query got %1").arg(outcome(m_model));
    emit notice(QStringLiteral("Cloud: registered as device id %1 (%2), %3.")
                    .arg(deviceId())
                    .arg(model,
                        m_created ? QStringLiteral("a new entry")
                                  : QStringLiteral("an entry the service knew")));
    if (modelId() < 0)
        emit problem(QStringLiteral("the model query (PATCH device_model) got %1; the device is "
                                    "registered without its model id")
                         .arg(outcome(m_model)));
    if (m_update.answered && !m_update.usable)
        emit problem(QStringLiteral("the service did not take the update of device %1 (PUT "
                                    "device): %2")
                         .arg(deviceId())
                         .arg(outcome(m_update)));
}

void CloudAttachment::openChannel()
{
    if (m_client->ws().isEmpty()) {
        emit notice(QStringLiteral("No WebSocket base (--cloud-ws): the remote channel stays "
                                   "closed and runtime reports are not sent."));
        return;
    }
    auto* common = qobject_cast<ZRCommonInterface*>(m_device.data());
    if (!common) {
        emit problem(QStringLiteral("the device is not built on the device core and has no "
                                    "remote channel"));
        return;
    }
    const QString address = m_client->ws() + m_code + QStringLiteral("/Device/");
    emit notice(QStringLiteral("Opening the remote channel %1.").arg(address));
    m_channel = Opening;
    common->connect_websocket();
    if (!waitFor([this] { return m_channel != Opening; }, m_options.requestTimeoutMs)) {
        if (m_cancelled)
            return;
        m_channel = Closed;
        emit problem(QStringLiteral("the remote channel %1 did not open within %2 s; runtime "
                                    "reports will not reach the service")
                         .arg(address)
                         .arg(m_options.requestTimeoutMs / 1000.0));
    } else if (m_channel != Open) {
        emit problem(QStringLiteral("the remote channel %1 did not open (check --cloud-ws); "
                                    "runtime reports will not reach the service")
                         .arg(address));
    }
}

void CloudAttachment::onDeviceMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    if (kind == ZRDeviceInterface::DevTasK) {
        // The device passes each progress report on to the channel right after this message.
        if (m_channel == Open)
            ++m_reportsSent;
        return;
    }
    if (kind != ZRDeviceInterface::DevStatus || !text.startsWith(QLatin1String("WEB SOCKET ")))
        return;
    emit notice(QStringLiteral("Cloud channel: %1").arg(text));
    const Channel before = m_channel;
    if (text == QLatin1String("WEB SOCKET CONNECTED."))
        m_channel = Open;
    else
        m_channel = Closed;
    if (before == Open && m_channel == Closed)
        emit problem(QStringLiteral("the remote channel closed; the device does not reopen it, "
                                    "so further runtime reports are lost"));
    if (m_loop)
        m_loop->quit();
}

void CloudAttachment::reportJob(bool taskClosed, int copiesFinished)
{
    if (!m_client || !m_device)
        return;
    if (!m_workRecordSent) {
        QString why;
        if (m_state != Registered)
            why = QStringLiteral("the device is not registered with the cloud service");
        else if (!taskClosed)
            why = QStringLiteral("the task was not closed");
        else if (copiesFinished == 0)
            why = QStringLiteral("no copy was finished");
        else
            why = QStringLiteral("the device had nothing to record");
        emit notice(QStringLiteral("No work record was posted: %1.").arg(why));
    } else {
        const int timeoutMs = m_options.requestTimeoutMs + 1000;
        waitFor([this] { return m_workRecord.answered; }, timeoutMs);
        if (m_cancelled)
            return;
        if (!m_workRecord.answered) {
            emit problem(QStringLiteral("the cloud service did not answer the work record "
                                        "within %1 s")
                             .arg(timeoutMs / 1000.0));
        } else if (!m_workRecord.usable) {
            emit problem(QStringLiteral("the cloud service did not take the work record (POST "
                                        "%1): %2")
                             .arg(QLatin1String(WorkRecords), outcome(m_workRecord)));
        } else if (m_service) {
            const QList<CloudRequest> posted = m_service->requests(WorkRecords, "POST");
            const QJsonObject received = posted.isEmpty() ? QJsonObject() : posted.last().json;
            emit result(QStringLiteral("Work record the cloud service received (%1):\n%2\n")
                            .arg(outcome(m_workRecord), jsonText(received)));
        } else {
            emit result(QStringLiteral("Work record posted to the cloud service (%1):\n%2\n")
                            .arg(outcome(m_workRecord), jsonText(m_workRecord.body)));
        }
    }
    if (m_service && m_channel != NoChannel) {
        // The reports left the device already; the service may not have read them all yet.
        waitFor(
            [this] { return m_service->reports(m_code).size() >= m_reportsSent; }, reportsSettleMs);
        const int collected = m_service->reports(m_code).size();
        emit result(QStringLiteral("Runtime reports the cloud service collected on the "
                                   "channel: %1 (the device sent %2).\n")
                        .arg(collected)
                        .arg(m_reportsSent));
    }
}
