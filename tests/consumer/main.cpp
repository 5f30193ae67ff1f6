#include <zrcommoninterface.h>
#include <zrcutfile.h>
#include <zrdeviceproperty.h>

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>
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
    if (frame
        != QByteArray("\x02"
                      "14;CMD;GET5;\x03"))
        return 2;
    // The installed plugin module loads from the package's plugin folder and builds a device.
    QPluginLoader loader(QDir(ZRDEVICE_PLUGIN_DIR).filePath("libzrtx4150v.so"));
    auto* model = qobject_cast<ZRDeviceInterface*>(loader.instance());
    if (!model) {
        out << loader.errorString() << "\n";
        return 3;
    }
    std::unique_ptr<ZRDeviceInterface> cutter(model->initInstance());
    ZRDeviceProperty* name = cutter->property_ptr("DEVICE_MODEL");
    if (!name || name->value().toString() != "ZR-TX4150V")
        return 4;
    // The cut-file library reads, orders and writes a job.
    ZRCut::Drawing drawing;
    ZRCut::CutJob job;
    QByteArray hpgl;
    QString error;
    if (!ZRCut::readHpgl("IN;PU0,0;PD400,0,400,400,0,400,0,0;PU;", &drawing, &error)
        || !ZRCut::planCut(drawing, {}, &job, &error) || !ZRCut::writeHpgl(job, &hpgl, &error)) {
        out << error << "\n";
        return 5;
    }
    out << "cut file: " << drawing.contours.size() << " contours, " << job.cutLengthMm << " mm, "
        << hpgl.left(7) << "\n";
    out << "plugins: " << ZRDEVICE_PLUGIN_DIR << "\n"
        << "TCP_PORT " << port->value().toInt() << ", frame " << frame.toHex() << "\n";
    return 0;
}
