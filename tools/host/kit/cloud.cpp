#include "cloud.h"

#include "cloudservice.h"
#include "corvanecloud.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QThread>

#include <functional>

namespace {

const char WorkRecords[] = "device_work_records";
constexpr int reportsSettleMs = 1000;

QString jsonText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed();
}

} // namespace

// The SDK's client, telling the host about every request its device makes and what each got.
// A lookup that gets no response at all is not handed to the device: the device would wait 10 s
// in an event loop of its own and ask again, for as long as no response comes.
class HostCloudClient : public CorvaneCloud {
public:
    using CorvaneCloud::CorvaneCloud;

    std::function<void(const QString&, const QByteArray&, const QJsonObject&)> sent;
    std::function<void(const QString&, const QByteArray&, int, bool, const QString&)> answered;
    int timeoutMs = 5000;

    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override
    {
        if (QThread::currentThread() != thread())
            return CorvaneCloud::customRequest(path, method, body, handler);
        sent(path, method, body);
        QPointer<HostCloudClient> self(this);
        CorvaneCloud::customRequest(
            path, method, body, [self, path, method, handler](QNetworkReply* reply, bool usable) {
                const int status
                    = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                const QString outcome = self ? self->outcomeOf(reply, status) : QString();
                if (handler && !(status == 0 && path == QLatin1String("device") && method == "GET"))
                    handler(reply, usable);
                if (self)
                    self->answered(path, method, status, usable, outcome);
            });
    }

    // "HTTP 500 Internal Server Error", "HTTP 409 Conflict (device ZR1 exists)" with the
    // service's own words, "no answer within 5 s", "no response (Connection refused)".
    QString outcomeOf(QNetworkReply* reply, int status) const
    {
        if (status != 0) {
            const QString reason
                = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            QString text
                = QStringLiteral("HTTP %1 %2").arg(QString::number(status), reason).trimmed();
            const QByteArray body = reply->isOpen() ? reply->peek(64 * 1024) : QByteArray();
            const QString said = QJsonDocument::fromJson(body)
                                     .object()
                                     .value(QLatin1String("error"))
                                     .toString()
                                     .left(200);
            if (status >= 400 && !said.isEmpty())
                text += QStringLiteral(" (%1)").arg(said);
            if (status == 401 || status == 403)
                text += QStringLiteral(", check --cloud-token");
            return text;
        }
        if (reply->error() == QNetworkReply::OperationCanceledError)
            return QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0);
        return reply->errorString().isEmpty()
            ? QStringLiteral("no response")
            : QStringLiteral("no response (%1)").arg(reply->errorString());
    }
};

Cloud::Cloud(const CloudOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_settled && m_channel == Opening) {
            m_channel = Closed;
            emit problem(QStringLiteral("the remote channel did not open within %1 s; runtime "
                                        "reports will not reach the service")
                             .arg(m_options.requestTimeoutMs / 1000.0));
            m_settled = true;
        } else if (!m_settled) {
            settle(QStringLiteral("the registration did not finish within %1 s")
                       .arg(m_deadline.interval() / 1000.0));
        } else {
            check();
        }
    });
}

Cloud::~Cloud()
{
    m_client.reset();
    m_service.reset();
}

CorvaneCloud* Cloud::client() const
{
    return m_client.get();
}

bool Cloud::start()
{
    QUrl httpBase = m_options.httpBase;
    QString wsBase = m_options.wsBase;
    if (m_options.embedded) {
        m_service.reset(new CloudService);
        m_service->setRequiredToken(m_options.token);
        if (!m_service->listen()) {
            m_error = QStringLiteral("the embedded cloud service cannot listen on 127.0.0.1: %1")
                          .arg(m_service->errorString());
            return false;
        }
        httpBase = m_service->httpBase();
        wsBase = m_service->wsBase();
        connect(m_service.get(), &CloudService::reportReceived, this, &Cloud::check);
    }
    m_client.reset(new HostCloudClient(httpBase, wsBase));
    m_client->setBearerToken(m_options.token);
    m_client->setRequestTimeout(m_options.requestTimeoutMs);
    m_client->timeoutMs = m_options.requestTimeoutMs;
    m_client->sent = [this](const QString& path, const QByteArray& method,
                         const QJsonObject& body) { onRequest(path, method, body); };
    m_client->answered
        = [this](const QString& path, const QByteArray& method, int status, bool usable,
              const QString& outcome) { onReply(path, method, status, usable, outcome); };
    return true;
}

void Cloud::attach(ZRDeviceInterface* device)
{
    QString code = m_options.deviceCode;
    ZRDeviceProperty* number = device->property_ptr("DEVICE_ID");
    if (code.isEmpty() && number)
        code = number->value().toString();
    QString why;
    if (code.isEmpty())
        why = QStringLiteral("no device code: the machine reported no machine number; give "
                             "--device-code");
    else if (!CloudOptions::isValidDeviceCode(code))
        why = QStringLiteral("the machine number \"%1\" cannot serve as the device code (letters, "
                             "digits, '-', '_' and '.' only); give --device-code")
                  .arg(code.left(80));
    else if (!device->property_ptr("DEVICE_CLOUD"))
        why = QStringLiteral("the device has no cloud record (DEVICE_CLOUD) and cannot register");
    if (!why.isEmpty()) {
        m_settled = true;
        emit problem(why + QStringLiteral("; going on without the cloud service"));
        return;
    }
    m_device = device;
    m_code = code;
    connect(device, &ZRDeviceInterface::message, this, &Cloud::onDeviceMessage);
    const QString channel = m_client->ws().isEmpty()
        ? QStringLiteral("no WebSocket base")
        : QStringLiteral("WebSocket %1").arg(m_client->ws());
    emit notice(QStringLiteral("Cloud service: %1 (%2)%3.")
                    .arg(m_client->baseUrl().toString(), channel,
                        m_service ? QStringLiteral(", started in this program") : QString()));
    emit notice(QStringLiteral("Registering device code %1%2 with the cloud service.")
                    .arg(code,
                        m_options.deviceCode.isEmpty() ? QStringLiteral(" (the machine number)")
                                                       : QString()));
    // The model query, the lookup, then the creation or the update: two rounds at most.
    m_deadline.start(2 * m_options.requestTimeoutMs + 1000);
    device->setCorvaneCloud(m_client.get(), code);
}

int Cloud::deviceId() const
{
    ZRDeviceProperty* mirror = m_device ? m_device->property_ptr("DEVICE_CLOUD") : nullptr;
    return mirror ? mirror->value().toJsonObject().value(QLatin1String("id")).toInt(-1) : -1;
}

void Cloud::onRequest(const QString& path, const QByteArray& method, const QJsonObject& body)
{
    ++m_outstanding;
    if (path == QLatin1String(WorkRecords) && method == "POST") {
        m_workRecordSent = true;
        m_workRecord = body;
    }
}

void Cloud::onReply(
    const QString& path, const QByteArray& method, int status, bool usable, const QString& outcome)
{
    --m_outstanding;
    const auto is
        = [&](const char* p, const char* m) { return path == QLatin1String(p) && method == m; };
    if (is("device", "GET") && status != 200 && status != 404) {
        settle(QStringLiteral("the device lookup (GET device) got %1").arg(outcome));
    } else if (is("device_model", "POST")) {
        m_created = usable && status == 200;
        if (!m_created)
            settle(QStringLiteral(
                "the service did not create the device entry (POST device_model): %1")
                       .arg(outcome));
    } else if (is("device_model", "PATCH") && status != 200) {
        m_modelProblem
            = QStringLiteral("the model query (PATCH device_model) got %1; the device is "
                             "registered without its model id")
                  .arg(outcome);
    } else if (is("device", "PUT") && !usable) {
        m_updateProblem = QStringLiteral("the service did not take the update of the device (PUT "
                                         "device): %1")
                              .arg(outcome);
    } else if (is(WorkRecords, "POST")) {
        m_workRecordOutcome = outcome;
        m_workRecordTaken = usable;
    }
    check();
}

void Cloud::settle(const QString& failure)
{
    if (m_settled || m_registered)
        return;
    m_settled = true;
    m_deadline.stop();
    emit problem(QStringLiteral("device code %1 is not registered: %2; going on without the cloud "
                                "service")
                     .arg(m_code, failure));
}

void Cloud::check()
{
    if (!m_registered && !m_settled && m_device && m_outstanding == 0) {
        if (deviceId() <= 0)
            return settle(QStringLiteral("the service gave the device no id"));
        m_registered = true;
        const int model = m_device->property_ptr("DEVICE_CLOUD")
                              ->value()
                              .toJsonObject()
                              .value(QLatin1String("device_model"))
                              .toInt(-1);
        emit notice(QStringLiteral("Cloud: registered as device id %1 (%2), %3.")
                        .arg(QString::number(deviceId()),
                            model >= 0 ? QStringLiteral("model id %1").arg(model)
                                       : QStringLiteral("model id unknown"),
                            m_created ? QStringLiteral("a new entry")
                                      : QStringLiteral("an entry the service knew")));
        for (const QString& line : { m_modelProblem, m_updateProblem }) {
            if (!line.isEmpty())
                emit problem(line);
        }
        auto* core = qobject_cast<ZRCommonInterface*>(m_device.data());
        if (m_client->ws().isEmpty() || !core) {
            m_settled = true;
            m_deadline.stop();
            emit notice(QStringLiteral("No WebSocket base (--cloud-ws): the remote channel stays "
                                       "closed and runtime reports are not sent."));
            return;
        }
        emit notice(
            QStringLiteral("Opening the remote channel %1%2/Device/.").arg(m_client->ws(), m_code));
        m_channel = Opening;
        m_deadline.start(m_options.requestTimeoutMs);
        core->connect_websocket();
        return;
    }
    if (!m_jobPending || m_jobReported)
        return;
    const bool recordAnswered = !m_workRecordSent || !m_workRecordOutcome.isEmpty();
    const bool reportsIn = !m_service || m_channel == NoChannel
        || m_service->reports(m_code).size() >= m_reportsSent;
    if (!(recordAnswered && reportsIn) && m_deadline.isActive())
        return;
    m_deadline.stop();
    m_jobReported = true;
    if (!m_noRecord.isEmpty()) {
        emit notice(QStringLiteral("No work record was posted: %1.").arg(m_noRecord));
    } else if (m_workRecordOutcome.isEmpty()) {
        emit problem(QStringLiteral("the cloud service did not answer the work record in time"));
    } else if (!m_workRecordTaken) {
        emit problem(QStringLiteral("the cloud service did not take the work record (POST %1): %2")
                         .arg(QLatin1String(WorkRecords), m_workRecordOutcome));
    } else {
        QJsonObject shown = m_workRecord;
        QString what = QStringLiteral("Work record posted to the cloud service");
        if (m_service) {
            const QList<CloudRequest> posted = m_service->requests(WorkRecords, "POST");
            shown = posted.isEmpty() ? QJsonObject() : posted.last().json;
            what = QStringLiteral("Work record the cloud service received");
        }
        emit result(
            QStringLiteral("%1 (%2):\n%3\n").arg(what, m_workRecordOutcome, jsonText(shown)));
    }
    if (m_service && m_channel != NoChannel)
        emit result(QStringLiteral("Runtime reports the cloud service collected on the channel: %1 "
                                   "(the device sent %2).\n")
                        .arg(m_service->reports(m_code).size())
                        .arg(m_reportsSent));
}

void Cloud::reportJob(bool taskClosed, qint64 copiesFinished)
{
    if (!m_client || m_jobPending || m_jobReported)
        return;
    if (!m_workRecordSent) {
        m_noRecord = !m_registered
            ? QStringLiteral("the device is not registered with the cloud service")
            : !taskClosed         ? QStringLiteral("the task was not closed")
            : copiesFinished == 0 ? QStringLiteral("no copy was finished")
                                  : QStringLiteral("the device had nothing to record");
    }
    m_jobPending = true;
    m_deadline.start(m_options.requestTimeoutMs + reportsSettleMs);
    check();
}

void Cloud::onDeviceMessage(ZRDeviceInterface::ZRDeviceMessage kind, const QString& text)
{
    if (kind == ZRDeviceInterface::DevTasK) {
        // The device passes each progress report on to the channel right after this message.
        m_reportsSent += m_channel == Open;
        return;
    }
    if (kind != ZRDeviceInterface::DevStatus || !text.startsWith(QLatin1String("WEB SOCKET ")))
        return;
    emit notice(QStringLiteral("Cloud channel: %1").arg(text));
    const bool wasOpen = m_channel == Open;
    const bool opening = m_channel == Opening;
    m_channel = text == QLatin1String("WEB SOCKET CONNECTED.") ? Open : Closed;
    if (opening) {
        m_settled = true;
        m_deadline.stop();
        if (m_channel != Open)
            emit problem(
                QStringLiteral("the remote channel did not open (check --cloud-ws); runtime "
                               "reports will not reach the service"));
    } else if (wasOpen && m_channel == Closed) {
        emit problem(QStringLiteral("the remote channel closed; the device does not reopen it, so "
                                    "further runtime reports are lost"));
    }
}
