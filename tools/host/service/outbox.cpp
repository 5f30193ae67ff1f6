#include "outbox.h"

#include "cloud.h"

#include <QJsonDocument>
#include <QPointer>

Outbox::Outbox(Store* store, Cloud* cloud, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_cloud(cloud)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { deliver(); });
    if (cloud)
        connect(cloud, &Cloud::registered, this, [this] { deliver(true); });
}

bool Outbox::refusedForGood(int status)
{
    return status >= 400 && status < 500 && status != 408 && status != 429;
}

QJsonObject Outbox::recordOf(const QJsonObject& job, int copies, int taskModel, int workModel)
{
    const QJsonObject file = job.value(QLatin1String("file_info")).toObject();
    const int height = file.value(QLatin1String("heigth")).toInt();
    const int width = file.value(QLatin1String("width")).toInt();
    const QDateTime started = QDateTime::fromString(
        job.value(QLatin1String("started_at")).toString(), Qt::ISODateWithMs);
    QDateTime ended
        = QDateTime::fromString(job.value(QLatin1String("ended_at")).toString(), Qt::ISODateWithMs);
    if (!ended.isValid())
        ended = QDateTime::currentDateTimeUtc();
    return QJsonObject { { "end_time", ended.toUTC().toString("yyyy-MM-dd hh:mm:ss.zzzz") },
        { "task_time", double(started.isValid() ? qMax<qint64>(0, started.secsTo(ended)) : 0) },
        { "softwareType", 3 }, { "task_copies", job.value(QLatin1String("copies")).toInt() },
        { "finish_copies", copies }, { "page_area", int(quint32(height) * quint32(width)) },
        { "page_size", QStringLiteral("%1x%2").arg(height).arg(width) },
        { "path_length",
            qRound(qBound(0.0, file.value(QLatin1String("path_length")).toDouble(), 2e9)) },
        { "task_model", taskModel }, { "work_model", workModel } };
}

bool Outbox::add(qint64 job, const QJsonObject& body)
{
    if (m_store->addRecord(job, body) == 0) {
        emit answered(job,
            QStringLiteral("could not be stored (%1), so it will not reach the cloud service: %2")
                .arg(m_store->lastError(),
                    QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact))));
        return false;
    }
    deliver(true);
    return true;
}

void Outbox::deliver(bool now)
{
    if (m_sending || !m_cloud)
        return;
    const QList<Store::Record> pending = m_store->pendingRecords(1);
    if (pending.isEmpty())
        return;
    Store::Record record = pending.first();
    if (!record.body.contains(QLatin1String("device"))) {
        if (m_cloud->deviceId() <= 0)
            return;
        record.body.insert("device", m_cloud->deviceId());
    }
    const QDateTime current = QDateTime::currentDateTimeUtc();
    if (!now && record.next > current)
        return m_retry.start(int(qMin(current.msecsTo(record.next), qint64(300000))));
    m_sending = true;
    QPointer<Outbox> self(this);
    const QString key = QStringLiteral("%1-%2").arg(m_store->databaseId()).arg(record.id);
    m_cloud->postWorkRecord(
        record.body, key, [self, record](int status, bool taken, const QString& answer) {
            if (!self)
                return;
            self->m_sending = false;
            const bool parked = !taken && refusedForGood(status);
            const qint64 pauseMs = qMin(qint64(1000) << qMin(record.attempts, 9), qint64(300000));
            const bool stored = parked ? self->m_store->recordParked(record.id, answer)
                                       : self->m_store->recordAnswered(record.id, taken, answer,
                                           QDateTime::currentDateTimeUtc().addMSecs(pauseMs));
            emit self->answered(record.jobId,
                QStringLiteral("%1 (%2)%3")
                    .arg(taken ? QStringLiteral("taken by the cloud service")
                            : parked
                            ? QStringLiteral("refused by the cloud service for good, parked")
                            : status == 0
                            ? QStringLiteral("unknown whether the cloud service took it; sent "
                                             "again under the same key")
                            : QStringLiteral("not taken, kept in the outbox to be sent again"),
                        answer,
                        stored ? QString()
                               : QStringLiteral("; the answer could not be stored (%1)")
                                     .arg(self->m_store->lastError())));
            self->deliver(taken || parked);
        });
}
