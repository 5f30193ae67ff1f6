#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QNetworkReply>
#include <QString>

// One request a device made through the host's cloud client, and what it got.
struct CloudExchange {
    QString path; // "device", "device_model", "device_work_records"
    QByteArray method;
    QJsonObject body;

    bool answered = false; // the reply has finished
    int status = 0; // the HTTP status; 0 when no response arrived
    QString reason; // the status line's reason phrase
    bool usable = false; // a complete response with a 2xx status
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText; // the network's own words when no response arrived
    QByteArray response; // the response body

    bool is(const char* method, const char* path) const
    {
        return this->method == method && this->path == QLatin1String(path);
    }

    // "HTTP 500 Internal Server Error", "HTTP 409 Conflict (device ZR1 exists)" with the
    // service's own "error" text, "no answer within 5 s", "no response (Connection refused)";
    // timeoutMs is the client's request time-out.
    QString outcome(int timeoutMs) const;
};

Q_DECLARE_METATYPE(CloudExchange)
