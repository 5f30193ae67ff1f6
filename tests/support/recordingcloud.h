#pragma once

#include "corvanecloud.h"

#include <QList>

// A cloud client that sends nothing and keeps every request the device makes, for the tests to
// read back.
class RecordingCloud : public CorvaneCloud {
public:
    struct Request {
        QString path;
        QByteArray method;
        QJsonObject body;
        bool hasHandler;
    };

    QList<Request> requests;

    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override
    {
        requests.append({ path, method, body, bool(handler) });
    }
};
