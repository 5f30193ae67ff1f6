#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

// One HTTP request as the local cloud service received it, with the status it answered (0 when
// it held the connection or closed it without a response).
struct CloudRequest {
    QByteArray method;
    QString path; // percent-decoded, without the query
    QString resource; // path below the service's base path, without a trailing '/'
    QList<QPair<QString, QString>> query; // decoded, in order
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case, in order
    QByteArray body;
    QJsonObject json; // body as a JSON object; empty when the body is not one
    bool bodyIsJson = false;
    bool keepAlive = true;
    int answerStatus = 0;

    QByteArray header(const QByteArray& name) const;
    QString queryValue(const QString& key) const;
};

Q_DECLARE_METATYPE(CloudRequest)
