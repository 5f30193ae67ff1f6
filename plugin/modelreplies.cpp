#include "zrtx4150v.h"

#include "numbers.h"
#include "zrdeviceproperty.h"

// A two-field comma reply carries either the value a read asked for or the status of a write.
// The common dispatch leaves that form alone, so it is applied here first: a get number stores
// the value, a set number reports the status through retStatus. The get number is compared first,
// so a parameter that reads and writes under one number always takes the field as a value.
void ZRTX4150V::decode_cmd(QString frame)
{
    const QStringList fields = frame.split(QLatin1Char(';'));
    if (fields.size() < 3)
        return;
    const QStringList comma = fields.at(2).split(QLatin1Char(','));
    // Number 0 names no command: a parameter without a read or write command has 0 there, and a
    // field that is not a number reads as 0, so such a reply must not land in that parameter.
    const int number = numberOrZero(comma.first());
    if (fields.at(1) == QLatin1String("CCMD") && comma.size() == 2 && number != 0) {
        const QString text = comma.at(1);
        const QList<QByteArray> names = dynamicPropertyNames();
        for (const QByteArray& name : names) {
            ZRDeviceProperty* parameter = property_ptr(name.constData());
            if (!parameter)
                return;
            if (parameter->cmd_type() != CCMD)
                continue;
            if (number == parameter->get_cmd_int()) {
                parameter->set_decode(QStringList { text });
                break;
            }
            if (number == parameter->set_cmd_int()) {
                parameter->ret_Status(numberOrZero(text));
                break;
            }
        }
    }
    ZRCommonInterface::decode_cmd(frame);
}
