#include "zrcommoninterface.h"

#include "corvanecloud.h"
#include "lookupretry.h"
#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

namespace {

int lookupRetryDelay = 10000;

int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The id a 200 reply gives, when it is whole: a complete response (usable) whose body is a JSON
// object with an integral "id" above 0. Anything else gives 0, which fails the step: an id the
// service did not clearly give is never stored. step names the request in the debug output.
int idOf(QNetworkReply* reply, bool usable, const char* step)
{
    if (statusOf(reply) != 200)
        return 0;
    if (!usable) {
        qDebug() << step << "answer incomplete or too large";
        return 0;
    }
    const int id
        = QJsonDocument::fromJson(reply->readAll()).object().value(QLatin1String("id")).toInt(0);
    if (id > 0)
        return id;
    qDebug() << step << "answer without an id";
    return 0;
}

QString textOf(ZRDeviceInterface* device, const char* name)
{
    ZRDeviceProperty* parameter = device->property_ptr(name);
    return parameter ? parameter->value().toString() : QString();
}

void mirrorRecord(ZRDeviceInterface* device, const QJsonObject& record)
{
    if (ZRDeviceProperty* mirror = device->property_ptr("DEVICE_CLOUD"))
        mirror->setValue(record);
}

// The machine's model, read from the code: up to four characters from index 2 as a base-36
// number, "0".."9" and "a".."z" being the digits. Other characters are not refused; they count
// by the same byte arithmetic, which is what the service expects of them.
int modelNumber(const QString& code)
{
    const QByteArray digits = code.mid(2, 4).toLower().toLatin1();
    qint64 number = 0;
    for (char c : digits) {
        const qint8 byte = qint8(c);
        number = number * 36 + (byte < 'a' ? byte - 48 : byte - 87);
    }
    return int(quint32(quint64(number)));
}

} // namespace

namespace ZRDevice {

// The registration's standing as each step of the device ends.
struct RegistrationSteps {
    static void start(Registration* r)
    {
        r->m_state = Registration::Registering;
        r->m_deviceId = 0;
        r->m_modelId = -1;
        r->m_modelAnswered = false;
        r->m_created = false;
        r->m_reason.clear();
        r->m_httpStatus = 0;
        r->m_retrying = false;
        r->m_stopped = false;
        r->m_problems.clear();
        emit r->changed();
    }
    static void registered(Registration* r, int id, bool created)
    {
        r->m_state = Registration::Registered;
        r->m_deviceId = id;
        r->m_created = created;
        r->m_retrying = false;
        emit r->changed();
    }
    static void failed(Registration* r, const QString& reason, int status, bool retrying = false)
    {
        r->m_state = Registration::Failed;
        r->m_reason = reason;
        r->m_httpStatus = status;
        r->m_retrying = retrying && !r->m_stopped;
        emit r->changed();
    }
    // The model query's answer: its id, or 0 and what went wrong.
    static void model(Registration* r, int id, const QString& problem = QString())
    {
        r->m_modelAnswered = true;
        if (id > 0)
            r->m_modelId = id;
        else
            r->m_problems.append(problem);
        emit r->changed();
    }
    static void problem(Registration* r, const QString& line)
    {
        r->m_problems.append(line);
        emit r->changed();
    }
    static bool stopped(const Registration* r) { return r->m_stopped; }
};

} // namespace ZRDevice

using ZRDevice::RegistrationSteps;

int cloudLookupRetryDelay()
{
    return lookupRetryDelay;
}

void setCloudLookupRetryDelay(int milliseconds)
{
    lookupRetryDelay = milliseconds;
}

void ZRCommonInterface::setCorvaneCloud(CorvaneCloud* cloud, QString code)
{
    // The client is the host's and may go before the device; forget it when it does, rather
    // than send through a dangling pointer on the next retry, update or work record.
    if (corvane_cloud)
        disconnect(corvane_cloud, &QObject::destroyed, this, nullptr);
    corvane_cloud = cloud;
    if (cloud) {
        connect(cloud, &QObject::destroyed, this, [this](QObject* gone) {
            if (corvane_cloud == gone)
                corvane_cloud = nullptr;
        });
    }

    cloud_device = QJsonObject { { "code", code }, { "pcb", textOf(this, "PCB_ID") },
        { "version", textOf(this, "FIRMWARE") }, { "device_id", textOf(this, "DEVICE_ID") },
        { "online", true } };
    if (!property_ptr("DEVICE_CLOUD"))
        return;
    mirrorRecord(this, cloud_device);
    RegistrationSteps::start(ZRDevice::registrationOf(this));

    const QJsonObject model { { "code", modelNumber(code) } };
    cloud_device_model_get(model);
    qDebug() << "ZRCommonInterface::setCorvaneCloud" << model;

    const QJsonObject lookup { { "code", code } };
    qDebug() << "ZRCommonInterface::setCorvaneCloud" << lookup;
    cloud_device_get(lookup);
}

void ZRCommonInterface::cloud_device_model_get(QJsonObject body)
{
    if (!corvane_cloud)
        return;
    // Replies can outlive the device; the handlers hold it weakly.
    QPointer<ZRCommonInterface> device(this);
    corvane_cloud->customRequest(QStringLiteral("device_model"), "PATCH", body,
        [device, cloud = corvane_cloud](QNetworkReply* reply, bool usable) {
            const int model = idOf(reply, usable, "ZRCommonInterface::cloud_device_model_get");
            if (!device)
                return;
            ZRDevice::Registration* registration = ZRDevice::registrationOf(device);
            if (model == 0) {
                RegistrationSteps::model(registration, 0,
                    QStringLiteral("the model query (PATCH device_model) got %1; the device is "
                                   "registered without its model id")
                        .arg(cloud->describeReply(reply, usable)));
                return;
            }
            device->cloud_device.insert(QStringLiteral("device_model"), model);
            mirrorRecord(device, device->cloud_device);
            RegistrationSteps::model(registration, model);
        });
}

void ZRCommonInterface::cloud_device_get(QJsonObject body)
{
    qDebug() << "ZRCommonInterface::cloud_device_get" << body;
    if (!corvane_cloud)
        return;
    QPointer<ZRCommonInterface> device(this);
    corvane_cloud->customRequest(QStringLiteral("device"), "GET", body,
        [device, cloud = corvane_cloud](QNetworkReply* reply, bool usable) {
            if (!device)
                return;
            ZRDevice::Registration* registration = ZRDevice::registrationOf(device);
            const QString got = QStringLiteral("the device lookup (GET device) got %1")
                                    .arg(cloud->describeReply(reply, usable));
            switch (statusOf(reply)) {
            case 200: {
                // A found device whose id did not come through is not updated: the step failed.
                const int id = idOf(reply, usable, "ZRCommonInterface::cloud_device_get");
                if (id == 0) {
                    RegistrationSteps::failed(registration,
                        usable ? QStringLiteral("the service's answers held no device id") : got,
                        200);
                    break;
                }
                device->cloud_device.insert(QStringLiteral("id"), id);
                mirrorRecord(device, device->cloud_device);
                RegistrationSteps::registered(registration, id, false);
                device->cloud_device_update(device->cloud_device);
                break;
            }
            case 404:
                device->cloud_device_new(device->cloud_device);
                break;
            case 0: {
                // No response: wait, keeping the device's other events flowing, and ask again
                // for whatever code the record holds by then, unless the host gave up.
                RegistrationSteps::failed(registration, got, 0, true);
                if (RegistrationSteps::stopped(registration))
                    break;
                QEventLoop wait;
                QTimer::singleShot(lookupRetryDelay, &wait, &QEventLoop::quit);
                QObject::connect(
                    registration, &ZRDevice::Registration::changed, &wait, [&wait, registration] {
                        if (RegistrationSteps::stopped(registration))
                            wait.quit();
                    });
                wait.exec();
                if (!device || RegistrationSteps::stopped(registration))
                    return;
                RegistrationSteps::start(registration);
                device->cloud_device_get(
                    { { "code", device->cloud_device.value(QLatin1String("code")).toString() } });
                break;
            }
            default:
                RegistrationSteps::failed(registration, got, statusOf(reply));
                break;
            }
        });
}

void ZRCommonInterface::cloud_device_new(QJsonObject body)
{
    if (!corvane_cloud)
        return;
    QPointer<ZRCommonInterface> device(this);
    corvane_cloud->customRequest(QStringLiteral("device_model"), "POST", body,
        [device, cloud = corvane_cloud](QNetworkReply* reply, bool usable) {
            const int id = idOf(reply, usable, "ZRCommonInterface::cloud_device_new");
            if (!device)
                return;
            ZRDevice::Registration* registration = ZRDevice::registrationOf(device);
            if (id == 0) {
                RegistrationSteps::failed(registration,
                    usable && statusOf(reply) == 200
                        ? QStringLiteral("the service's answers held no device id")
                        : QStringLiteral("the service did not create the device entry (POST "
                                         "device_model): %1")
                              .arg(cloud->describeReply(reply, usable)),
                    statusOf(reply));
                return;
            }
            device->cloud_device.insert(QStringLiteral("id"), id);
            mirrorRecord(device, device->cloud_device);
            RegistrationSteps::registered(registration, id, true);
        });
}

void ZRCommonInterface::cloud_device_update(QJsonObject body)
{
    if (!corvane_cloud)
        return;
    QPointer<ZRCommonInterface> device(this);
    corvane_cloud->customRequest(QStringLiteral("device"), "PUT", body,
        [device, cloud = corvane_cloud](QNetworkReply* reply, bool usable) {
            if (device && !usable)
                RegistrationSteps::problem(ZRDevice::registrationOf(device),
                    QStringLiteral(
                        "the service did not take the update of the device (PUT device): %1")
                        .arg(cloud->describeReply(reply, usable)));
        });
}
