#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class QNetworkReply;

// The client of the cloud service. The host creates it and hands it to devices; a device only
// keeps the pointer. Both members are virtual so that a host or a test can put its own client in.
class CorvaneCloud : public QObject {
    Q_OBJECT
public:
    explicit CorvaneCloud(QObject* parent = nullptr);
    ~CorvaneCloud() override;

    // Sends one request for the resource path ("device", "device_model", "device_work_records")
    // with method "GET", "POST", "PUT" or "PATCH" and returns at once. handler, when given, is
    // called once with the finished reply and whether the reply is usable.
    virtual void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler);

    // Base of the service's WebSocket address; devices append their code and "/Device/".
    virtual QString ws();
};
