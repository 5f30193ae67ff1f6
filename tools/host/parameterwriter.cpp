#include "parameterwriter.h"

#include "linkstatus.h"
#include "parametertree.h"
#include "valuefromtext.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QTimer>

namespace {

// Whether the machine's answer to the write shows on the device: the copies and the cut data
// are not answered, and some answers the device drops.
bool answerShows(ZRDeviceProperty* parameter)
{
    const ZRDeviceInterface::ZRDeviceCMDType kind = parameter->cmd_type();
    const int number = parameter->set_cmd_int();
    return (kind == ZRDeviceInterface::CMD || kind == ZRDeviceInterface::CCMD)
        && !LinkStatus::answerIsDropped(number);
}

// A command whose write number differs from its read number is answered with a status; every
// other write is answered with the value the machine took.
bool answeredByStatus(ZRDeviceProperty* parameter)
{
    return parameter->cmd_type() == ZRDeviceInterface::CCMD
        && parameter->get_cmd_int() != parameter->set_cmd_int();
}

} // namespace

ParameterWriter::ParameterWriter(ZRDeviceInterface* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{ }

bool ParameterWriter::check(const QByteArray& name, const QString& text)
{
    m_error.clear();
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    if (!parameter) {
        m_error = QStringLiteral("the device has no parameter %1").arg(QString::fromLatin1(name));
        return false;
    }
    const QList<QByteArray> members = ParameterTree::members(m_device, name);
    if (!members.isEmpty() && parameter->set_cmd_bytes().isEmpty()) {
        QStringList names;
        for (const QByteArray& member : members)
            names.append(QString::fromLatin1(member));
        m_error = QStringLiteral("%1 is a group: set its members (%2)")
                      .arg(QString::fromLatin1(name), names.join(QStringLiteral(", ")));
        return false;
    }
    QString error;
    if (!valueFromText(parameter, text, &error).isValid()) {
        m_error = QStringLiteral("%1: %2").arg(QString::fromLatin1(name), error);
        return false;
    }
    return true;
}

ParameterWriter::Outcome ParameterWriter::write(
    const QByteArray& name, const QString& text, int timeoutMs)
{
    m_status = -1;
    m_cancelled = false;
    if (!check(name, text))
        return Invalid;
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    QString error;
    const QVariant value = valueFromText(parameter, text, &error);
    const QVariant old = parameter->value();
    parameter->setValue(value);
    const QByteArray frame = parameter->set_cmd_bytes();
    if (frame.isEmpty())
        return Stored;
    // An echo of the value the device already holds cannot be told from no answer.
    if (!answerShows(parameter) || (old == value && !answeredByStatus(parameter))) {
        m_device->sendCMD(frame);
        return Sent;
    }
    // The echo must be seen as a change.
    parameter->setValue(old);
    const Outcome outcome = wait(parameter, old, frame, timeoutMs);
    // A status answer carries no value: the value stands once the machine has taken it.
    if (outcome == Confirmed && parameter->value() == old)
        parameter->setValue(value);
    return outcome;
}

ParameterWriter::Outcome ParameterWriter::wait(
    ZRDeviceProperty* parameter, const QVariant& old, const QByteArray& frame, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QTimer deadline;
    deadline.setSingleShot(true);
    bool linkLost = false;
    bool statusSeen = false;
    const auto changed = [&] { return parameter->value() != old; };
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (changed())
            loop.quit();
    });
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(parameter, &ZRDeviceProperty::retStatus, &loop, [&](int ret) {
        m_status = ret;
        statusSeen = true;
        loop.quit();
    });
    connect(m_device, &ZRDeviceInterface::message, &loop,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind == ZRDeviceInterface::DevStatus && LinkStatus::isDown(text)) {
                linkLost = true;
                loop.quit();
            }
        });

    m_device->sendCMD(frame);
    poll.start(pollMs);
    deadline.start(timeoutMs);
    m_loop = &loop;
    if (!changed() && !statusSeen && !m_cancelled)
        loop.exec();
    m_loop = nullptr;

    if (statusSeen)
        return m_status == 0 ? Confirmed : Refused;
    if (changed())
        return Confirmed;
    if (linkLost)
        return LinkLost;
    return m_cancelled ? Cancelled : NoAnswer;
}

void ParameterWriter::cancel()
{
    m_cancelled = true;
    if (m_loop)
        m_loop->quit();
}
