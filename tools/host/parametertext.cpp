#include "parametertext.h"

#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>

#include <cmath>

namespace ParameterText {

namespace {

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

QString bytesText(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("(empty)");
    const QImage image = QImage::fromData(bytes);
    if (!image.isNull() && bytes.startsWith("\x89PNG"))
        return QStringLiteral("PNG %1×%2, %3 bytes")
            .arg(image.width())
            .arg(image.height())
            .arg(bytes.size());
    return QStringLiteral("%1 bytes").arg(bytes.size());
}

// What the editor shows when it is not the stored number itself.
QString shownText(const QVariant& value, const QJsonObject& editor)
{
    bool numeric = false;
    const double stored = value.toDouble(&numeric);
    if (!numeric)
        return {};
    if (editor.value(QLatin1String("widget")).toString() == QLatin1String("QComboBox")) {
        const QStringList items
            = editor.value(QLatin1String("option")).toString().split(QLatin1Char(';'));
        const int index = int(stored);
        if (index >= 0 && index < items.size() && double(index) == stored)
            return items.at(index).trimmed();
        return {};
    }
    const double factor = editor.value(QLatin1String("factor")).toDouble(1.0);
    if (!std::isfinite(factor) || factor == 0.0 || factor == 1.0)
        return {};
    return QStringLiteral("×%1 = %2").arg(QString::number(factor, 'g', 6), number(stored * factor));
}

} // namespace

QString printable(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

QString label(ZRDeviceProperty* parameter)
{
    return printable(parameter->label().trimmed());
}

QString unit(ZRDeviceProperty* parameter)
{
    return printable(parameter->uint());
}

QString value(ZRDeviceProperty* parameter)
{
    const QVariant& value = parameter->value();
    switch (value.userType()) {
    case QMetaType::UnknownType:
        return {};
    case QMetaType::QStringList:
        return printable(value.toStringList().join(QStringLiteral(", ")));
    case QMetaType::QJsonObject:
        return printable(
            QString::fromUtf8(QJsonDocument(value.toJsonObject()).toJson(QJsonDocument::Compact)));
    case QMetaType::QByteArray:
        return bytesText(value.toByteArray());
    case QMetaType::QDateTime: {
        const QDateTime time = value.toDateTime();
        return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                              : QStringLiteral("(none)");
    }
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        const QString stored = value.toString();
        const QString shown = shownText(value, parameter->property("WIDGET").toJsonObject());
        return shown.isEmpty() ? stored : QStringLiteral("%1 (%2)").arg(stored, shown);
    }
    default:
        return printable(value.toString());
    }
}

QString command(ZRDeviceProperty* parameter)
{
    const ZRDeviceInterface::ZRDeviceCMDType kind = parameter->cmd_type();
    if (kind == ZRDeviceInterface::UnCMD)
        return QStringLiteral("-");
    const auto numberText = [](int n) { return n ? QString::number(n) : QStringLiteral("-"); };
    QString text
        = QStringLiteral("%1 %2/%3")
              .arg(QString::fromLatin1(
                  QMetaEnum::fromType<ZRDeviceInterface::ZRDeviceCMDType>().valueToKey(kind)))
              .arg(numberText(parameter->get_cmd_int()), numberText(parameter->set_cmd_int()));
    if (parameter->cmd_len() > 1)
        text += QStringLiteral(" ×%1").arg(parameter->cmd_len());
    return text;
}

QStringList cells(const QByteArray& name, ZRDeviceProperty* parameter, int depth, bool withCommand)
{
    QStringList row { QString(depth * 2, QLatin1Char(' ')) + QString::fromLatin1(name),
        label(parameter), value(parameter), unit(parameter) };
    if (withCommand)
        row.append(command(parameter));
    return row;
}

} // namespace ParameterText
