#include <zrcommoninterface.h>
#include <zrdeviceproperty.h>

#include <QCoreApplication>
#include <QTextStream>

#include <memory>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> device(factory.initInstance());
    ZRDeviceProperty* port = device->property_ptr("TCP_PORT");
    if (!port || port->value().toInt() != 9100)
        return 1;
    const QByteArray frame = port->pack("GET5;", "CMD");
    if (frame != QByteArray("\x02" "14;CMD;GET5;\x03"))
        return 2;
    out << "plugins: " << ZRDEVICE_PLUGIN_DIR << "\n"
        << "TCP_PORT " << port->value().toInt() << ", frame " << frame.toHex() << "\n";
    return 0;
}
