// zrhost: the project's command-line host.

#include "panelcommand.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMetaEnum>
#include <QTextStream>

#include <memory>

namespace {

QString kindName(ZRDeviceInterface::ZRDeviceCMDType kind)
{
    return QString::fromLatin1(QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceCMDType>().valueToKey(kind));
}

void listParameters(ZRDeviceInterface* device, QTextStream& out)
{
    out << QString("%1 %2 %3 %4 %5\n").arg("name", -18).arg("label", -12).arg("value", -26).arg("unit", -6).arg("command");
    for (const QByteArray& name : device->dynamicPropertyNames()) {
        ZRDeviceProperty* p = device->property_ptr(name.constData());
        if (!p)
            continue;
        out << QString("%1 %2 %3 %4 %5 %6/%7 len %8\n")
                   .arg(QString::fromLatin1(name), -18)
                   .arg(p->label(), -12)
                   .arg(p->value().toString().left(26), -26)
                   .arg(p->uint(), -6)
                   .arg(kindName(p->cmd_type()), -5)
                   .arg(p->get_cmd_int())
                   .arg(p->set_cmd_int())
                   .arg(p->cmd_len());
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The panel is a window and runs its own application.
    if (argc > 1 && qstrcmp(argv[1], "panel") == 0)
        return runPanelCommand(argc, argv);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zrhost");
    QCommandLineParser parser;
    parser.setApplicationDescription("Command-line host for the ZR-TX4150V device plugin.");
    parser.addHelpOption();
    parser.addPositionalArgument("command",
        "list: print the device's parameters; panel: open the parameter panel (zrhost panel "
        "--help).");
    parser.process(app);

    QTextStream out(stdout);
    const QString command = parser.positionalArguments().value(0, "list");
    if (command != "list") {
        parser.showHelp(1);
    }
    ZRCommonInterface factory;
    std::unique_ptr<ZRDeviceInterface> device(factory.initInstance());
    listParameters(device.get(), out);
    return 0;
}
