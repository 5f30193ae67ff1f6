// Cuts a file (SVG, DXF or HP-GL) twice on a machine over TCP with the machine's progress, then
// closes the task. Given a cloud service's two bases, the device registers there first and posts
// the work record when the task is closed.
//   run_job ADDRESS PORT FILE [HTTP-BASE WS-BASE]
//   (zrsim plays the machine on 127.0.0.1 port 9100; zrcloud the cloud service on 8700 and 8701)

#include "loadplugin.h"

#include <corvanecloud.h>
#include <zrcutfile.h>
#include <zrdeviceproperty.h>

#include <QGuiApplication>
#include <QJsonObject>
#include <QTimer>

#include <memory>

// The host's cloud client, which also tells when the service has answered the work record. A
// host may put its own client in: customRequest() is virtual.
class Cloud : public CorvaneCloud {
public:
    using CorvaneCloud::CorvaneCloud;
    std::function<void(bool taken)> recorded;

    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override
    {
        if (path == QLatin1String("device_work_records"))
            handler = [this, handler](QNetworkReply* reply, bool ok) {
                if (handler)
                    handler(reply, ok);
                std::cout << "work record " << (ok ? "taken" : "refused") << "\n";
                recorded(ok);
            };
        CorvaneCloud::customRequest(path, method, body, handler);
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::cerr << "usage: run_job ADDRESS PORT FILE [HTTP-BASE WS-BASE]\n";
        return 2;
    }
    // The cut as the machine takes it, with the figures the work record tells.
    ZRCut::Drawing drawing;
    ZRCut::CutJob plan;
    QByteArray hpgl;
    QString error;
    if (!ZRCut::readFile(QString::fromLocal8Bit(argv[3]), &drawing, &error)
        || !ZRCut::planCut(drawing, {}, &plan, &error) || !ZRCut::writeHpgl(plan, &hpgl, &error)) {
        std::cerr << qPrintable(error) << "\n";
        return 2;
    }
    ZRDeviceInterface* factory = loadFactory();
    if (!factory)
        return 1;
    // The cloud client is the host's, and outlives the device that keeps a pointer to it.
    std::unique_ptr<Cloud> cloud(argc > 5 ? new Cloud(QUrl(argv[4]), argv[5]) : nullptr);
    std::unique_ptr<ZRDeviceInterface> device(factory->initInstance());
    if (cloud) {
        cloud->setRequestTimeout(5000);
        cloud->recorded = [&app](bool taken) { app.exit(taken ? 0 : 1); };
        // Registers the machine under its device code, then opens the remote channel.
        device->setCorvaneCloud(cloud.get(), QStringLiteral("ZR4150-0001"));
    }
    device->property_ptr("TCP_PORT")->setValue(QString(argv[2]).toInt());
    device->setIPAddress(QString::fromLocal8Bit(argv[1]));

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&app] {
        std::cerr << "no link, or no registration, within 10 s\n";
        app.exit(4);
    });
    // The job starts once the link is up and, with a cloud service, the machine is registered:
    // DEVICE_CLOUD holds the service's record of it, with its id.
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (cloud && !device->property_ptr("DEVICE_CLOUD")->value().toJsonObject().contains("id"))
            return;
        ready.stop();
        deadline.stop();
        device->property_ptr("TASK_COPIES")->setValue(2);
        device->property_ptr("TASK_FILE_INFO")->setValue(QJsonObject {
            { "width", qRound(plan.bounds.width()) }, { "heigth", qRound(plan.bounds.height()) },
            { "path_length", qRound(plan.cutLengthMm) } });
        device->setPlt(QString::fromLatin1(hpgl));
        device->startTask(); // the copies and the cut data go to the machine
    });
    bool closed = false;
    QObject::connect(device.get(), &ZRDeviceInterface::message,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind == ZRDeviceInterface::DevStatus && text == QLatin1String("TCP CONNECTED.")) {
                ready.start(20);
            } else if (kind == ZRDeviceInterface::DevStatus) {
                std::cerr << qPrintable(text) << "\n";
                app.exit(4);
            } else if (kind == ZRDeviceInterface::DevTasK) {
                // "66,status,file,copies,finished,percent,seconds,x,y"; status 1 cutting,
                // 2 paused, 3 finished, 4 stopped.
                const QStringList report = text.split(',');
                std::cout << qPrintable(report.value(2)) << ": copy "
                          << qPrintable(report.value(4)) << " of " << qPrintable(report.value(3))
                          << " done, " << qPrintable(report.value(5)) << " %\n";
                const int status = report.value(1).toInt();
                if ((status == 3 || status == 4) && !closed) {
                    closed = true;
                    // Closing the task posts the work record (to a registered machine) and resets
                    // the task record; the host waits for the service's answer.
                    device->stopTask();
                    if (!cloud)
                        app.exit(status == 3 ? 0 : 1);
                    QTimer::singleShot(5000, &app, [&app] { app.exit(1); });
                }
            }
        });
    deadline.start(10000);
    if (!device->connectDevice())
        return 2;
    return app.exec();
}
