#include "numbers.h"
#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

namespace {

// Numbers whose replies must never reach a parameter: 27 is the cut quality register and 125
// the task control register, both written by several parameters that keep fixed values. 0 is no
// command at all (a parameter with number 0 neither reads nor writes), so a reply whose number is
// 0 or does not parse is noise and must not land on such a parameter.
bool neverApplied(int number)
{
    return number == 0 || number == 27 || number == 125;
}

} // namespace

void ZRCommonInterface::decode_cmd(QString frame)
{
    // Field 0 is the envelope (STX and length); the last field is what follows the final ';',
    // normally the ETX alone, and never holds an item.
    const QStringList fields = frame.split(QLatin1Char(';'));
    if (fields.size() < 3)
        return;

    ZRDeviceCMDType kind = UnCMD;
    int number = 0;
    QStringList values;

    if (fields.at(1) == QLatin1String("CMD")) {
        kind = CMD;
        for (int i = 2; i < fields.size() - 1; ++i) {
            QString name;
            int itemNumber = 0;
            QString value;
            decode_cmd(fields.at(i), name, itemNumber, value);
            if (i == 2)
                number = itemNumber;
            values.append(value);
        }
    } else if (fields.at(1) == QLatin1String("CCMD")) {
        kind = CCMD;
        const QString& body = fields.at(2);
        const QStringList commas = body.split(QLatin1Char(','));
        number = numberOrZero(commas.first());
        if (number == 55 || number == 11) {
            emit message(Qrcode, commas.last());
            return;
        }
        if (number == 66) {
            // A report identical to the last one applied reaches neither the host nor the service.
            if (frame == last_task_frame)
                return;
            last_task_frame = frame;
            decode_task(body);
            return;
        }
        if (commas.size() < 2 || numberOrZero(commas.at(1)) != 0)
            return;
        values = commas.mid(2);
    } else {
        return;
    }

    if (values.isEmpty() || neverApplied(number))
        return;

    // Parameters are offered the reply in creation order; the first that claims it keeps it.
    const QList<QByteArray> names = dynamicPropertyNames();
    for (const QByteArray& name : names) {
        ZRDeviceProperty* parameter = property_ptr(name.constData());
        if (!parameter)
            return;
        if (parameter->cmd_type() != kind
            || (number != parameter->get_cmd_int() && number != parameter->set_cmd_int()))
            continue;
        // A parameter with a parameter list takes a reply that repeats the list before exactly
        // one value, and never the value "0".
        const int expected = parameter->param().size();
        if (expected > 0 && (values.size() != expected + 1 || values.last() == QLatin1String("0")))
            return;
        parameter->set_decode(values);
        return;
    }
}
