#include "zrcommoninterface.h"

#include "hanging.h"
#include "usboperate.h"
#include "zrdeviceproperty.h"

#include <QLocale>
#include <QTcpSocket>
#include <QWebSocket>

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

ZRDeviceProperty* ZRCommonInterface::property_ptr(const char* name)
{
    return parameterOf(this, name);
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
