#include "zrcommoninterface.h"
#include "zrcommoninterface_p.h"

#include "hanging.h"
#include "usboperate.h"
#include "zrdeviceproperty.h"

#include <QLocale>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>

#include <cstring>
#include <iterator>

ZRCommonInterface::ZRCommonInterface(QObject* parent)
    : ZRDeviceInterface(parent)
    , d(new ZRCommonInterfacePrivate)
{
    systemLanguage();
    connect(&device_timer, SIGNAL(timeout()), this, SLOT(slot_device_timer()));
}

ZRCommonInterface::~ZRCommonInterface()
{
    delete usb_operate;
    if (tcp_socket) {
        // Closing a live link reports it; a device being destroyed tells the host nothing more.
        tcp_socket->disconnect(this);
        tcp_socket->close();
        delete tcp_socket;
    }
    if (web_socket) {
        // The socket has no parent and closes as it goes; cut it off from this device first,
        // so that its last signals do not reach a device that is being destroyed.
        web_socket->disconnect(this);
        delete web_socket;
    }
    releaseParameters(this);
    recv_buffer.clear();
}

ZRDeviceInterface* ZRCommonInterface::initInstance()
{
    auto* device = new ZRCommonInterface(nullptr);
    init157(device);
    return device;
}

// Reading a dynamic property compares the name with every name the device carries, and the
// device's own paths look up the same few parameters for every frame and tick. What a name gave
// is kept while the catalogue stamp stays the same, in the device's thread only.
ZRDeviceProperty* ZRCommonInterface::property_ptr(const char* name)
{
    const size_t length = std::strlen(name);
    const quint64 stamp = catalogueStamp();
    if (length >= sizeof(ZRCommonInterfacePrivate::NamedParameter::name) || stamp == 0
        || QThread::currentThread() != thread())
        return parameterOf(this, name);
    if (stamp != d->named_stamp) {
        d->named_count = 0;
        d->named_stamp = stamp;
    }
    auto& named = d->named_parameters;
    for (int i = 0; i < d->named_count; ++i) {
        if (std::memcmp(named[i].name, name, length + 1) == 0)
            return named[i].parameter;
    }
    ZRDeviceProperty* parameter = parameterOf(this, name);
    const int slot = d->named_count < int(std::size(named)) ? d->named_count++ : d->named_next;
    d->named_next = (slot + 1) % int(std::size(named));
    std::memcpy(named[slot].name, name, length + 1);
    named[slot].parameter = parameter;
    return parameter;
}

QStringList ZRCommonInterface::userProperty()
{
    return { QStringLiteral("WORK_MODE"), QStringLiteral("SPEED"), QStringLiteral("PRESSURE"),
        QStringLiteral("CAMERA_OFFSET"), QStringLiteral("SP1"), QStringLiteral("SP2") };
}

void ZRCommonInterface::systemLanguage()
{
    const QString name = QLocale::system().name();
    if (name == QLatin1String("ja_JP"))
        language = name;
    else if (name == QLatin1String("zh_CN"))
        language.clear();
    else
        language = QStringLiteral("en_US");
}
