// Reply dispatch on a complete ZR-TX4150V device. Replies are offered to the parameters in
// creation order and the first that matches takes them, so a reply for the last command
// parameter of the catalogue, and one that nothing takes, are the long ways through.

#include "benchsupport.h"

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

#include <QVariantList>

#include <memory>

namespace {

QVariantList parameterValues(ZRDeviceInterface* device)
{
    QVariantList values;
    const QList<QByteArray> names = device->dynamicPropertyNames();
    for (const QByteArray& name : names) {
        if (ZRDeviceProperty* parameter = device->property_ptr(name.constData()))
            values.append(parameter->value());
    }
    return values;
}

// Feeds replies carrying the values 45 and 46 in turn, so that each one changes the value of the
// parameter that takes it; with no parameter named, no value of the device may change.
void BM_Dispatch(
    benchmark::State& state, const char* parameterName, const char* head, const char* beforeValue)
{
    const std::unique_ptr<ZRCommonInterface> device(newDevice());
    const QByteArray replies[] = { frame(head, QByteArray(beforeValue) + "45;"),
        frame(head, QByteArray(beforeValue) + "46;") };
    ZRDeviceProperty* parameter = parameterName ? device->property_ptr(parameterName) : nullptr;
    if (!verify(state, !parameterName || parameter, "the parameter is missing"))
        return;
    const QVariantList before = parameterValues(device.get());

    int sent = 0;
    for (auto _ : state)
        device->slot_usb_read(replies[sent++ & 1]);

    if (parameter) {
        verify(state, parameter->value().toInt() == 45 + ((sent - 1) & 1),
            "the parameter does not hold the last value sent");
    } else {
        verify(state, parameterValues(device.get()) == before,
            "a reply nothing takes changed a value");
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_Dispatch, first, "QRCODE_COPIES", "CCMD", "54,0,")
    ->MinTime(0.1)
    ->Repetitions(7);
BENCHMARK_CAPTURE(BM_Dispatch, last, "SP2_ANGLE", "CMD", "GET132:")->MinTime(0.1)->Repetitions(7);
BENCHMARK_CAPTURE(BM_Dispatch, none, nullptr, "CMD", "GET999:")->MinTime(0.1)->Repetitions(7);
