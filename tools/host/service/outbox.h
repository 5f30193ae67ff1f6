#pragma once

#include "store.h"

#include <QJsonObject>
#include <QObject>
#include <QTimer>

class Cloud;

// Work records on their way to the cloud service. Each is stored before it is sent, and sent again
// with a growing pause (1 s, doubling, at most 5 min) until the service takes it, across restarts:
// one at a time, oldest first, never while a post is still on its way. Each is sent under a key of
// its own (the database's id and the record's) that stays the same on every attempt, so that the
// service can drop a record it took once already: a post without an answer is "unknown", not
// "lost", and sending it again is safe. A record the service refuses for good (a 4xx other than
// 408 and 429) is parked with the answer and no longer holds up the ones behind it. A record made
// while the device was not registered has no device id: it waits, with those behind it, until
// the device is registered, and goes with the id then.
class Outbox : public QObject {
    Q_OBJECT
public:
    Outbox(Store* store, Cloud* cloud, QObject* parent = nullptr);

    // Stores the record and sends it; false, with answered() told why, when it could not be stored.
    bool add(qint64 job, const QJsonObject& body);
    // Sends the oldest record that is due; now: whether due or not.
    void deliver(bool now = false);

    // Whether the service refuses a record with this HTTP status for good.
    static bool refusedForGood(int status);
    // The work record of copies of a job as the history keeps it, as the device posts one when it
    // is registered, but for the device id, which is added when it is sent; task_model and
    // work_model as the device had them.
    static QJsonObject recordOf(const QJsonObject& job, int copies, int taskModel, int workModel);

signals:
    // What became of an attempt, in words: taken, parked, to be sent again, or not even stored.
    void answered(qint64 job, const QString& outcome);

private:
    Store* m_store;
    Cloud* m_cloud;
    QTimer m_retry;
    bool m_sending = false;
};
