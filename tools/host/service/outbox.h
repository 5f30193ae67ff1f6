#pragma once

#include "store.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

class Cloud;

// Work records on their way to the cloud service. Each is stored before it is sent, and sent again
// with a growing pause (1 s, doubling, at most 5 min) until the service takes it, across restarts:
// one at a time, oldest first.
class Outbox : public QObject {
    Q_OBJECT
public:
    Outbox(Store* store, Cloud* cloud, QObject* parent = nullptr);

    void add(qint64 job, const QJsonObject& body);
    // Sends the oldest record that is due; now: whether due or not.
    void deliver(bool now = false);

signals:
    void answered(qint64 job, bool taken, const QString& answer);

private:
    Store* m_store;
    Cloud* m_cloud;
    QTimer m_retry;
    bool m_sending = false;
};
