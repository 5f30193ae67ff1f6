// Making and deleting a device: initInstance() builds the whole catalogue. Its cost must not grow
// with the number of devices alive (a host with many machines, or one that keeps old devices),
// and building a device should cost about what a QObject with as many dynamic properties costs.

#include "benchsupport.h"

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <memory>
#include <vector>

namespace {

// A device from the factory must be whole: every parameter of the catalogue, the model set.
bool complete(ZRDeviceInterface* device, int parameters)
{
    ZRDeviceProperty* model = device ? device->property_ptr("DEVICE_MODEL") : nullptr;
    return model && model->value().toString() == QLatin1String("ZR-TX4150V")
        && device->property_ptr("SP2_ANGLE") && device->property_ptr("DEVICE_MODEL_NAME")
        && device->dynamicPropertyNames().size() == parameters;
}

void BM_Startup(benchmark::State& state, int alive)
{
    const int parameters = [] {
        const std::unique_ptr<ZRDeviceInterface> device(deviceFactory()->initInstance());
        return device->dynamicPropertyNames().size();
    }();
    std::vector<std::unique_ptr<ZRDeviceInterface>> others;
    for (int i = 0; i < alive; ++i)
        others.emplace_back(deviceFactory()->initInstance());

    for (auto _ : state) {
        ZRDeviceInterface* device = deviceFactory()->initInstance();
        state.PauseTiming();
        const bool whole = complete(device, parameters);
        state.ResumeTiming();
        delete device;
        if (!verify(state, whole, "the device lacks parameters"))
            break;
    }
}

// The plain cost of as many dynamic properties as a device's catalogue and its groups hold.
void BM_QObjectWith80Properties(benchmark::State& state)
{
    QList<QByteArray> names;
    for (int i = 0; i < 80; ++i)
        names.append("PARAMETER_" + QByteArray::number(i));
    const auto build = [&names] {
        auto* object = new QObject;
        for (const QByteArray& name : names)
            object->setProperty(name.constData(), QVariant::fromValue<void*>(object));
        return object;
    };
    const std::unique_ptr<QObject> sample(build());
    if (!verify(state, sample->dynamicPropertyNames().size() == 80, "the object lacks properties"))
        return;
    for (auto _ : state)
        delete build();
}

} // namespace

BENCHMARK(BM_QObjectWith80Properties)->MinTime(0.2)->Repetitions(5);
BENCHMARK_CAPTURE(BM_Startup, alone, 0)->MinTime(0.2)->Repetitions(5);
// The 1000 devices are built anew for each repetition, so the iterations are fixed: one call.
BENCHMARK_CAPTURE(BM_Startup, with_1000_alive, 1000)->Iterations(100)->Repetitions(3);
