#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

class QEventLoop;
class ZRDeviceProperty;

// Reads parameters from the machine: sends their read commands and waits for the answers.
//
// The device stores an answer without telling anyone, so an answer shows as a change of the
// values it fills. A read is answered when one of them has changed. A machine that answers with
// the value the device already holds looks the same as one that does not answer: that read
// waits out the time-out and is reported unanswered, with its value standing as it was.
//
// A group without a read command of its own is read member by member; a member that is read
// through its group's command (such as "FIRMWARE" through "DEVICE_INFO") sends that command.
// Each command goes out once however many names need it. Parameters without any read command,
// and those whose answers the device drops (cut quality, task control), hold the device's own
// values: nothing is sent for them.
class ParameterReader : public QObject {
    Q_OBJECT
public:
    static constexpr int pollMs = 5;

    // The device is the caller's and must outlive the reader.
    explicit ParameterReader(ZRDeviceInterface* device, QObject* parent = nullptr);

    // Sends the reads of the named parameters and runs the event loop until every one is
    // answered, the time-out passes, the link goes down or cancel() is called. Returns true when
    // every read was answered. Unknown names send nothing and make it return false at once.
    bool read(const QList<QByteArray>& names, int timeoutMs);
    // Reads under these names (parameters or reading groups, as unanswered() names them) are
    // not sent: their values were read moments ago, and a second read that brings the same
    // values would look unanswered.
    void setAlreadyRead(const QList<QByteArray>& names) { m_alreadyRead = names; }
    void cancel();

    QList<QByteArray> unknown() const { return m_unknown; }
    // Parameters (or reading groups) whose read went unanswered.
    QList<QByteArray> unanswered() const;
    // Named parameters that cannot be read: their values are the device's own.
    QList<QByteArray> localOnly() const { return m_local; }
    bool linkLost() const { return m_linkLost; }
    bool cancelled() const { return m_cancelled; }

private:
    struct Read {
        QByteArray name;
        QByteArray frame;
        QVector<ZRDeviceProperty*> watched;
        QVector<QVariant> before;
        bool answered = false;
    };

    void plan(const QByteArray& name);
    void addRead(const QByteArray& name, ZRDeviceProperty* parameter);
    bool check();

    ZRDeviceInterface* m_device;
    QVector<Read> m_reads;
    QList<QByteArray> m_unknown;
    QList<QByteArray> m_local;
    QList<QByteArray> m_alreadyRead;
    bool m_linkLost = false;
    bool m_cancelled = false;
    QEventLoop* m_loop = nullptr;
};
