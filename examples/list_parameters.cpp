// Loads the plugin, makes a device and lists its parameters: the user's and the system's groups,
// then every parameter with its label (in the system language), value and unit. No machine is
// needed.
//   list_parameters

#include "loadplugin.h"

#include <zrdeviceproperty.h>

#include <QCoreApplication>

#include <memory>

int main(int argc, char** argv)
{
    // The application comes first: the device finds its translation through it.
    QCoreApplication app(argc, argv);
    ZRDeviceInterface* factory = loadFactory();
    if (!factory)
        return 1;
    std::unique_ptr<ZRDeviceInterface> device(factory->initInstance());

    std::cout << "user: " << qPrintable(device->userProperty().join(' ')) << "\n"
              << "system: " << qPrintable(device->sysProperty().join(' ')) << "\n";
    // Every parameter hangs on the device as a dynamic property of its name.
    for (const QByteArray& name : device->dynamicPropertyNames()) {
        ZRDeviceProperty* parameter = device->property_ptr(name.constData());
        if (!parameter)
            continue;
        std::cout << name.constData() << "  " << qPrintable(parameter->label()) << " = "
                  << qPrintable(parameter->value().toString()) << " "
                  << qPrintable(parameter->uint()) << "\n";
    }
    return 0;
}
