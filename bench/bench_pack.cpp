// Wrapping a payload into its frame (ZRDeviceProperty::pack): a 16 MiB cut file as the host hands
// it over, a QString, and a 64-byte command, each against memcpy of the same bytes into a buffer
// that is already there.

#include "benchsupport.h"

#include "zrdeviceproperty.h"

#include <cstring>

namespace {

QByteArray commandPayload()
{
    return "SET132:45;SET131:44;SET129:1;SET128:2;SET4:350;SET3:120;SET2:34;";
}

void BM_Pack(benchmark::State& state, int bytes)
{
    const QByteArray file = bytes > 64 ? cutFile(bytes) : commandPayload();
    const QByteArray head = bytes > 64 ? "PLT" : "CMD";
    const QString payload = QString::fromLatin1(file);
    const QString headText = QString::fromLatin1(head);
    const QByteArray expected = frame(head, file);
    const ZRDeviceProperty parameter;

    QByteArray packed;
    for (auto _ : state) {
        packed = parameter.pack(payload, headText);
        benchmark::DoNotOptimize(packed.constData());
    }
    verify(state, packed == expected, "the frame differs from the payload wrapped by hand");
}

void BM_Memcpy(benchmark::State& state, int bytes)
{
    const QByteArray file = bytes > 64 ? cutFile(bytes) : commandPayload();
    QByteArray copy(file.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), file.constData(), size_t(file.size()));
        benchmark::ClobberMemory();
    }
    verify(state, copy == file, "the copy differs");
}

constexpr int cutFileBytes = 16 * 1024 * 1024;

} // namespace

BENCHMARK_CAPTURE(BM_Pack, cut_file_16MiB, cutFileBytes)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Memcpy, cut_file_16MiB, cutFileBytes)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Pack, payload_64B, 64)->MinTime(0.1)->Repetitions(7);
BENCHMARK_CAPTURE(BM_Memcpy, payload_64B, 64)->MinTime(0.1)->Repetitions(7);
