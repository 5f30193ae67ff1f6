// Times the receive path of a complete ZR-TX4150V device: cutting frames out of the byte stream
// and dispatching them to parameters, and wrapping a large cut file for sending.
//
//   bench_wire SCENARIO MEGABYTES [READ_SIZE]
//   cut       reply frames cut and dispatched, arriving in reads of READ_SIZE bytes (default 4096)
//   long      one unterminated frame of MEGABYTES arriving in reads of READ_SIZE, then its ETX
//   reports   task progress reports, each a new one (the task record is rewritten every time)
//   pack      a cut file of MEGABYTES wrapped into its PLT frame
//
// It prints the bytes handled and the time; run it at two sizes to see that time grows linearly.

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPluginLoader>

#include <cstdio>
#include <memory>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) { }

QByteArray frame(const QString& head, const QString& payload)
{
    return ZRDeviceProperty().pack(payload, head);
}

void feed(ZRCommonInterface* device, const QByteArray& stream, int readSize)
{
    for (int at = 0; at < stream.size(); at += readSize)
        device->slot_usb_read(stream.mid(at, readSize));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_wire cut|long|reports|pack MEGABYTES [READ_SIZE]\n");
        return 2;
    }
    const QByteArray scenario = argv[1];
    const qint64 bytes = qint64(QByteArray(argv[2]).toDouble() * 1024 * 1024);
    const int readSize = argc > 3 ? QByteArray(argv[3]).toInt() : 4096;

    QPluginLoader loader(QStringLiteral(ZRTX4150V_PLUGIN));
    auto* factory = qobject_cast<ZRDeviceInterface*>(loader.instance());
    if (!factory) {
        std::fprintf(stderr, "%s\n", qPrintable(loader.errorString()));
        return 1;
    }
    std::unique_ptr<ZRDeviceInterface> device(factory->initInstance());
    auto* core = qobject_cast<ZRCommonInterface*>(device.get());

    QByteArray stream;
    if (scenario == "cut") {
        const QByteArray replies = frame("CMD", "GET28:3000;") + frame("CCMD", "1010,0,2;")
            + frame("CMD", "GET11:63036;GET12:65535;GET13:0;")
            + frame("CCMD", "2,0,ZR-TX4150V,TX4150V-000128,ZB157-2308-0415,V1.57,1.5.7,CFG;");
        while (stream.size() < bytes)
            stream += replies;
    } else if (scenario == "long") {
        stream = "\x02" + QByteArray(int(bytes), 'x') + "\x03";
    } else if (scenario == "reports") {
        for (int i = 0; stream.size() < bytes; ++i) {
            stream += frame("CCMD",
                QStringLiteral("66,1,job-0001.plt,2,%1,%2,0,0,0;")
                    .arg(i / 1000)
                    .arg(i % 1000 / 10.0));
        }
    } else if (scenario != "pack") {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.constData());
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    if (scenario == "pack") {
        ZRDeviceProperty* plt = device->property_ptr("TASK_PLT");
        plt->setValue(QString(int(bytes), 'P'));
        stream = plt->set_cmd_bytes();
    } else {
        feed(core, stream, readSize);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("%s: %.1f MB in %.3f s, %.1f MB/s\n", scenario.constData(),
        stream.size() / 1048576.0, seconds, stream.size() / 1048576.0 / seconds);
    return 0;
}
