// The receive path of a complete ZR-TX4150V device, from the bytes its transport reads to the
// parameters and messages they end in, against memchr finding the frames in the same bytes.
//
// - cut: replies of a kind no handler claims, so that the cost is the cutting and the first look.
// - mixed: what a machine sends during a job: values, statuses, task reports, QR-code messages
//   and numbers no parameter carries. In reads of 1 to 4096 bytes, and in one read at two sizes,
//   whose cost per byte must be the same.

#include "benchsupport.h"

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <map>
#include <memory>
#include <random>

namespace {

struct Stream {
    QByteArray bytes;
    qint64 frames = 0;
    int cycles = 0; // mixed: rounds of the nine kinds of reply
};

Stream unclaimedStream()
{
    std::mt19937 random(157);
    std::uniform_int_distribution<int> length(1, 60);
    Stream stream;
    for (; stream.frames < 4096; ++stream.frames) {
        stream.bytes += frame("NUM",
            "GET" + QByteArray::number(stream.frames) + ':' + QByteArray(length(random), 'x')
                + ';');
    }
    return stream;
}

// Values of the parameters the mixed stream writes, in its cycle number c.
int moveX(int c)
{
    return c % 30000;
}
int qrCopies(int c)
{
    return c % 99 + 1;
}

Stream mixedStream(int bytes)
{
    Stream stream;
    for (int c = 0; stream.bytes.size() < bytes; ++c) {
        const QByteArray n = QByteArray::number(c);
        stream.bytes += frame("CMD", "GET82:" + QByteArray::number(moveX(c)) + ';') // MOVE_X
            + frame("CMD", "GET24:" + QByteArray::number(c % 1000 + 1) + ';') // SCALE_X
            + frame("CCMD", "54," + QByteArray::number(qrCopies(c)) + ';') // QRCODE_COPIES
            + frame("CCMD", "1010,0,2;") // HEARTBEAT
            + frame("CCMD", "44,0;") // status of a DEVICE_ID write
            + frame("CCMD",
                "66,1,mixed.plt,100000," + n + ',' + QByteArray::number(c % 100)
                    + ".5,0,0,0;") // task report
            + frame("CCMD", "55,0,qr-" + n + ".plt;") // QR-code file
            + frame("CMD", "GET999:" + n + ';') + frame("CCMD", "998,0," + n + ';'); // unknown
        stream.frames += 9;
        stream.cycles = c + 1;
    }
    return stream;
}

// The stream of the cutting rows (0), or a mixed stream of at least mixedBytes; each built once.
const Stream& streamOf(int mixedBytes)
{
    static std::map<int, Stream> streams;
    auto found = streams.find(mixedBytes);
    if (found == streams.end())
        found
            = streams.emplace(mixedBytes, mixedBytes ? mixedStream(mixedBytes) : unclaimedStream())
                  .first;
    return found->second;
}

void reportPerFrameAndByte(benchmark::State& state, const Stream& stream)
{
    const auto passes = double(state.iterations());
    using benchmark::Counter;
    state.counters["per_frame"]
        = Counter(double(stream.frames) * passes, Counter::kIsRate | Counter::kInvert);
    state.counters["per_byte"]
        = Counter(double(stream.bytes.size()) * passes, Counter::kIsRate | Counter::kInvert);
}

// Each iteration hands the whole stream to the device; check() then runs untimed and must hold.
void receivePasses(benchmark::State& state, ZRCommonInterface* device, const Stream& stream,
    bool oneRead, const std::function<bool(int pass)>& check, const char* what)
{
    const QList<QByteArray> reads
        = oneRead ? QList<QByteArray> { stream.bytes } : readsOf(stream.bytes);
    int pass = 0;
    for (auto _ : state) {
        receive(device, reads);
        state.PauseTiming();
        const bool ok = check(pass++);
        state.ResumeTiming();
        if (!verify(state, ok, what))
            break;
    }
    reportPerFrameAndByte(state, stream);
}

void BM_Cut(benchmark::State& state)
{
    const std::unique_ptr<ZRCommonInterface> device(newDevice());
    ZRDeviceProperty* heartbeat = device->property_ptr("HEARTBEAT");
    // A reply that is taken, after each pass: only a device still in step with the stream
    // applies it.
    const auto inStep = [&](int pass) {
        const int seconds = pass % 50 + 3;
        device->slot_usb_read(frame("CCMD", "1010,0," + QByteArray::number(seconds) + ';'));
        return heartbeat->value().toInt() == seconds;
    };
    receivePasses(
        state, device.get(), streamOf(0), false, inStep, "the device lost step with the frames");
}

void BM_Mixed(benchmark::State& state, int bytes, bool oneRead)
{
    const Stream& stream = streamOf(bytes);
    const std::unique_ptr<ZRCommonInterface> device(newDevice());
    int tasks = 0;
    int qrCodes = 0;
    int statuses = 0;
    QObject::connect(device.get(), &ZRDeviceInterface::message,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString&) {
            (kind == ZRDeviceInterface::DevTasK ? tasks : qrCodes)++;
        });
    QObject::connect(device->property_ptr("DEVICE_ID"), &ZRDeviceProperty::retStatus,
        [&statuses](int) { ++statuses; });
    ZRDeviceProperty* move = device->property_ptr("MOVE_X");
    ZRDeviceProperty* copies = device->property_ptr("QRCODE_COPIES");
    const int last = stream.cycles - 1;

    const auto dispatched = [&](int) {
        const bool ok = tasks == stream.cycles && qrCodes == stream.cycles
            && statuses == stream.cycles && move->value().toInt() == moveX(last)
            && copies->value().toInt() == qrCopies(last);
        tasks = qrCodes = statuses = 0;
        return ok;
    };
    receivePasses(state, device.get(), stream, oneRead, dispatched,
        "not every reply reached its parameter or message");
}

// memchr over the same reads, finding every frame.
void BM_Memchr(benchmark::State& state, int mixedBytes)
{
    const Stream& stream = streamOf(mixedBytes);
    const QList<QByteArray> reads = readsOf(stream.bytes);
    for (auto _ : state) {
        const qint64 frames = countFrames(reads);
        benchmark::DoNotOptimize(frames);
        if (!verify(state, frames == stream.frames, "memchr miscounted the frames"))
            break;
    }
    reportPerFrameAndByte(state, stream);
}

constexpr int mixedInReads = 256 * 1024;

} // namespace

BENCHMARK(BM_Cut)->MinTime(0.2)->Repetitions(7);
BENCHMARK_CAPTURE(BM_Memchr, cut, 0)->MinTime(0.2)->Repetitions(7);
BENCHMARK_CAPTURE(BM_Mixed, reads, mixedInReads, false)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Memchr, mixed, mixedInReads)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Mixed, one_read_64KiB, 64 * 1024, true)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Mixed, one_read_1MiB, 1024 * 1024, true)->MinTime(0.2)->Repetitions(5);
