#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

class QEventLoop;
class ZRDeviceProperty;

// Writes one parameter to the machine: converts the text to the parameter's value type, sends
// the parameter's write command and waits for the machine's answer.
//
// A register write is answered by an echo of the register, a command by a status or by the value
// read back. The device stores an echo without telling anyone, so the parameter is put back to
// its old value while the write is on its way, and the echo shows as the change to the value the
// machine took. The parameter therefore ends up holding what the machine confirmed, and keeps its
// old value when the machine refused or did not answer.
//
// Some writes cannot be confirmed: the copies and cut data of a task, which the machine does not
// answer, the registers whose answers the device never applies (cut quality 27 and task control
// 125), and a value the parameter already holds, whose echo changes nothing. Those are sent and
// reported as sent. A parameter without a write command only
// takes the value on the device.
class ParameterWriter : public QObject {
    Q_OBJECT
public:
    enum Outcome {
        Confirmed, // the machine echoed the value, or answered status 0
        Refused, // the machine answered a status other than 0
        NoAnswer, // nothing within the time-out
        Sent, // sent; the machine's answer cannot be seen
        Stored, // the device's own parameter: stored, nothing sent
        Invalid, // unknown name, a group, or a value that does not fit; nothing sent
        LinkLost,
        Cancelled,
    };
    Q_ENUM(Outcome)

    static constexpr int pollMs = 5;

    // The device is the caller's and must outlive the writer.
    explicit ParameterWriter(ZRDeviceInterface* device, QObject* parent = nullptr);

    // Whether write() would send: the parameter exists, is not a group without a command of its
    // own, and the text converts to its value type. errorString() says why not.
    bool check(const QByteArray& name, const QString& text);
    Outcome write(const QByteArray& name, const QString& text, int timeoutMs);
    void cancel();

    // Why a write was invalid.
    QString errorString() const { return m_error; }
    // The status of a command's answer (Confirmed or Refused by status).
    int status() const { return m_status; }

private:
    Outcome wait(
        ZRDeviceProperty* parameter, const QVariant& old, const QByteArray& frame, int timeoutMs);

    ZRDeviceInterface* m_device;
    QString m_error;
    int m_status = -1;
    bool m_cancelled = false;
    QEventLoop* m_loop = nullptr;
};
