#include "benchsupport.h"

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QFile>
#include <QPluginLoader>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <random>

ZRDeviceInterface* deviceFactory()
{
    static QPluginLoader loader(QStringLiteral(ZRTX4150V_PLUGIN));
    static ZRDeviceInterface* factory = [] {
        auto* instance = qobject_cast<ZRDeviceInterface*>(loader.instance());
        if (!instance) {
            std::fprintf(stderr, "cannot load the plugin: %s\n", qPrintable(loader.errorString()));
            std::exit(1);
        }
        return instance;
    }();
    return factory;
}

ZRCommonInterface* newDevice()
{
    return qobject_cast<ZRCommonInterface*>(deviceFactory()->initInstance());
}

QByteArray frameHeader(const QByteArray& head, int payloadSize)
{
    // The length field counts its own digits: grow it until it settles.
    const int rest = head.size() + payloadSize + 4; // STX, two ';', ETX
    int length = rest + 1;
    while (rest + QByteArray::number(length).size() != length)
        length = rest + QByteArray::number(length).size();
    return STX + QByteArray::number(length) + ';' + head + ';';
}

QByteArray frame(const QByteArray& head, const QByteArray& payload)
{
    return frameHeader(head, payload.size()) + payload + ETX;
}

QByteArray cutFile(int bytes)
{
    std::mt19937 random(4150);
    std::uniform_int_distribution<int> coordinate(0, 40000);
    QByteArray file;
    file.reserve(bytes + 32);
    file += "IN;SP1;";
    while (file.size() < bytes) {
        file += "PU" + QByteArray::number(coordinate(random)) + ','
            + QByteArray::number(coordinate(random)) + ';';
        for (int i = 0; i < 8; ++i)
            file += "PD" + QByteArray::number(coordinate(random)) + ','
                + QByteArray::number(coordinate(random)) + ';';
    }
    file.truncate(bytes);
    return file;
}

QList<QByteArray> readsOf(const QByteArray& stream)
{
    std::mt19937 random(4150);
    std::uniform_int_distribution<int> size(1, 4096);
    QList<QByteArray> reads;
    for (int at = 0; at < stream.size();) {
        const int take = qMin(size(random), stream.size() - at);
        reads.append(stream.mid(at, take));
        at += take;
    }
    return reads;
}

void receive(ZRCommonInterface* device, const QList<QByteArray>& reads)
{
    for (const QByteArray& read : reads)
        device->slot_usb_read(read);
}

qint64 countFrames(const QList<QByteArray>& reads)
{
    qint64 frames = 0;
    for (const QByteArray& read : reads) {
        const char* at = read.constData();
        const char* end = at + read.size();
        while (const auto* etx = static_cast<const char*>(std::memchr(at, ETX, size_t(end - at)))) {
            ++frames;
            at = etx + 1;
        }
    }
    return frames;
}

bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    bool reached = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return reached;
}

bool connectOverTcp(ZRDeviceInterface* device, quint16 port, int heartbeatSeconds)
{
    ZRDeviceProperty* status = device->property_ptr("STATUS");
    device->property_ptr("HEARTBEAT")->setValue(heartbeatSeconds);
    device->property_ptr("TCP_PORT")->setValue(int(port));
    device->setIPAddress(QStringLiteral("127.0.0.1"));
    return device->connectDevice()
        && runUntil(
            [status] { return status->value().toInt() == ZRDeviceInterface::Working; }, 10000);
}

void timedOncePerRepetition(benchmark::internal::Benchmark* benchmark)
{
    benchmark->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
}

namespace {
std::atomic<int> failures { 0 };
}

bool verify(benchmark::State& state, bool ok, const char* what)
{
    if (ok)
        return true;
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
    state.SkipWithError(what);
    return false;
}

int failedChecks()
{
    return failures;
}

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

static qint64 statusField(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong()
                * 1024;
    }
    return 0;
}

qint64 residentBytes()
{
    return statusField("VmRSS:");
}

qint64 peakResidentBytes()
{
    return statusField("VmHWM:");
}

bool resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}
