#include "zrcommoninterface.h"

#include "hanging.h"
#include "usboperate.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>

#include <cstring>
#include <iterator>

ZRCommonInterface::ZRCommonInterface(QObject* parent)
    : ZRDeviceInterface(parent)
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
// is kept until a dynamic property of the device changes, which QObject tells the device itself
// (only where an application delivers events, and only in the device's thread).
ZRDeviceProperty* ZRCommonInterface::property_ptr(const char* name)
{
    const size_t length = std::strlen(name);
    if (length >= sizeof(NamedParameter::name) || !QCoreApplication::instance()
        || QThread::currentThread() != thread())
        return parameterOf(this, name);
    for (int i = 0; i < named_count; ++i) {
        if (std::memcmp(named_parameters[i].name, name, length + 1) == 0)
            return named_parameters[i].parameter;
    }
    ZRDeviceProperty* parameter = parameterOf(this, name);
    const int slot = named_count < int(std::size(named_parameters)) ? named_count++ : named_next;
    named_next = (slot + 1) % int(std::size(named_parameters));
    std::memcpy(named_parameters[slot].name, name, length + 1);
    named_parameters[slot].parameter = parameter;
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
