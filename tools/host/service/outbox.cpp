#include "outbox.h"

#include "cloud.h"

#include <QPointer>

Outbox::Outbox(Store* store, Cloud* cloud, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_cloud(cloud)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { deliver(); });
}

void Outbox::add(qint64 job, const QJsonObject& body)
{
    m_store->addRecord(job, body);
    deliver(true);
}

void Outbox::deliver(bool now)
{
    if (m_sending || !m_cloud)
        return;
    const QList<Store::Record> pending = m_store->pendingRecords(1);
    if (pending.isEmpty())
        return;
    const Store::Record record = pending.first();
    const QDateTime current = QDateTime::currentDateTimeUtc();
    if (!now && record.next > current)
        return m_retry.start(int(qMin(current.msecsTo(record.next), qint64(300000))));
    m_sending = true;
    QPointer<Outbox> self(this);
    m_cloud->postWorkRecord(record.body, [self, record](bool taken, const QString& answer) {
        if (!self)
            return;
        self->m_sending = false;
        const qint64 pauseMs = qMin(qint64(1000) << qMin(record.attempts, 9), qint64(300000));
        self->m_store->recordAnswered(
            record.id, taken, answer, QDateTime::currentDateTimeUtc().addMSecs(pauseMs));
        emit self->answered(record.jobId, taken, answer);
        self->deliver(taken);
    });
}
