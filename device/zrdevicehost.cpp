#include "zrdevicehost.h"

#include "numbers.h"
#include "taskfields.h"
#include "zrcommoninterface.h"

#include <QTcpSocket>

#include <cmath>

namespace ZRDevice {

bool isLinkUp(const QString& line)
{
    return line == QLatin1String(tcpConnected) || line == QLatin1String(usbConnected);
}

bool isLinkDown(const QString& line)
{
    return line == QLatin1String(tcpDisconnected) || line == QLatin1String(usbDisconnected)
        || line == QLatin1String(usbError);
}

bool answerIsDropped(int commandNumber)
{
    return commandNumber == cutQualityCommand || commandNumber == taskControlCommand;
}

namespace {

// Marks that turn the text around them when shown: a name could read as another one.
bool isDirectionControl(QChar c)
{
    const ushort u = c.unicode();
    return u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x202a && u <= 0x202e)
        || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString printable(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (isDirectionControl(c))
            result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

bool TaskReport::parse(const QString& text, TaskReport* report)
{
    TaskReport read;
    int recorded = 0;
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma < 0 || numberOrZero(QStringView(text).left(comma)) != 66
        || !readTaskFields(text, &read, &recorded))
        return false;
    *report = read;
    return true;
}

qint64 TaskReport::secondsLeft() const
{
    if (status == Finished)
        return 0;
    if (percent <= 0 || seconds <= 0)
        return -1;
    // A share of almost nothing done would take longer than any clock counts: unknown.
    const double left = seconds * (100.0 - percent) / percent;
    return left < 1e15 ? qint64(std::llround(left)) : -1;
}

Registration::Registration(QObject* parent)
    : QObject(parent)
{ }

void Registration::stopRetrying()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_retrying = false;
    emit changed();
}

Registration* registrationOf(ZRDeviceInterface* device)
{
    if (!qobject_cast<ZRCommonInterface*>(device))
        return nullptr;
    auto* registration = device->findChild<Registration*>(QString(), Qt::FindDirectChildrenOnly);
    return registration ? registration : new Registration(device);
}

bool openRemoteChannel(ZRDeviceInterface* device)
{
    auto* core = qobject_cast<ZRCommonInterface*>(device);
    if (!core)
        return false;
    core->connect_websocket();
    return true;
}

QString linkError(ZRDeviceInterface* device)
{
    // The TCP socket is the device's Qt child.
    const auto* socket = device->findChild<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
    return socket && socket->error() != QAbstractSocket::UnknownSocketError ? socket->errorString()
                                                                            : QString();
}

int heartbeatMs(ZRDeviceInterface* device)
{
    const auto* core = qobject_cast<ZRCommonInterface*>(device);
    return core && core->device_timer.isActive() ? core->device_timer.interval() : 0;
}

} // namespace ZRDevice
