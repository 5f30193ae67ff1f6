// Connects a device to a machine over TCP and reads the machine's information. The device keeps
// no time limits of its own: this host gives up after 10 s without a link and 2 s without an
// answer.
//   connect_and_read ADDRESS [PORT]        (zrsim plays a machine on 127.0.0.1 port 9100)

#include "loadplugin.h"

#include <zrdeviceproperty.h>

#include <QCoreApplication>
#include <QTimer>

#include <memory>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::cerr << "usage: connect_and_read ADDRESS [PORT]\n";
        return 2;
    }
    ZRDeviceInterface* factory = loadFactory();
    if (!factory)
        return 1;
    std::unique_ptr<ZRDeviceInterface> device(factory->initInstance());
    device->property_ptr("TCP_PORT")->setValue(argc > 2 ? QString(argv[2]).toInt() : 9100);
    device->setIPAddress(QString::fromLocal8Bit(argv[1]));

    // A reply's values are stored without a signal: the host looks for the answer it waits for.
    ZRDeviceProperty* firmware = device->property_ptr("FIRMWARE");
    QTimer answered;
    QObject::connect(&answered, &QTimer::timeout, [&] {
        if (firmware->value().toString().isEmpty())
            return;
        for (const char* name : { "DEVICE_MODEL", "DEVICE_ID", "PCB_VERSION", "FIRMWARE" })
            std::cout << name << " " << qPrintable(device->property_ptr(name)->value().toString())
                      << "\n";
        app.exit(0);
    });
    // The link's state arrives as status lines, in this thread, from the event loop.
    QObject::connect(device.get(), &ZRDeviceInterface::message,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind != ZRDeviceInterface::DevStatus)
                return;
            std::cout << qPrintable(text) << "\n";
            if (text == QLatin1String("TCP CONNECTED.")) {
                // One read fills the whole group: model, numbers, board and firmware.
                device->sendCMD(device->property_ptr("DEVICE_INFO")->get_cmd_bytes());
                answered.start(20);
                QTimer::singleShot(2000, &app, [&] {
                    std::cerr << "the machine did not answer\n";
                    app.exit(1);
                });
            } else if (text == QLatin1String("TCP DISCONNECTED.")) {
                app.exit(4); // refused, or the machine hung up
            }
        });
    QTimer::singleShot(10000, &app, [&] {
        std::cerr << "no link within 10 s\n";
        app.exit(4);
    });
    // false: no address was given, or the device has a link already.
    if (!device->connectDevice())
        return 2;
    return app.exec();
}
