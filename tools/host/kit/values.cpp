#include "values.h"

#include "protocol.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <functional>
#include <limits>

namespace Values {

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

// What the parameter's editor makes of its value.
struct Editor {
    QString kind;
    double min = 0;
    double max = 0;
    double factor = 1;
    QStringList items;
};

Editor editorOf(ZRDeviceProperty* parameter)
{
    const QJsonObject widget = parameter->property("WIDGET").toJsonObject();
    Editor editor;
    editor.kind = widget.value(QLatin1String("widget")).toString();
    editor.min = widget.value(QLatin1String("min")).toDouble(0);
    editor.max = widget.value(QLatin1String("max"))
                     .toDouble(editor.kind == QLatin1String("QSpinBox") ? 1000 : 0);
    const double factor = widget.value(QLatin1String("factor")).toDouble(1);
    editor.factor = std::isfinite(factor) && factor != 0 ? factor : 1;
    if (widget.contains(QLatin1String("option")))
        editor.items = widget.value(QLatin1String("option")).toString().split(QLatin1Char(';'));
    return editor;
}

bool isOneWord(ZRDeviceProperty* parameter)
{
    return parameter->cmd_type() == ZRDeviceInterface::CMD && parameter->cmd_len() == 1;
}

// The value to three decimals at most, without trailing zeros ("-0" as "0").
QString number(double value)
{
    const double rounded = std::round(value * 1000) / 1000;
    return QString::number(rounded == 0 ? 0.0 : rounded, 'g', 15);
}

// The number typed, when it is one (a whole one, if asked) from min to max; false with the
// reason in *error otherwise.
bool readNumber(const QString& text, double* value, QString* error, bool whole = false,
    double min = -unbounded, double max = unbounded, const QString& unit = QString())
{
    bool ok = false;
    *value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(*value))
        *error = QStringLiteral("\"%1\" is not a number").arg(printable(text));
    else if (whole && *value != std::trunc(*value))
        *error = QStringLiteral("\"%1\" is not a whole number").arg(printable(text));
    else if (!(*value >= min && *value <= max))
        *error = QStringLiteral("%1 is out of range (%2 to %3%4)")
                     .arg(number(*value), number(min), number(max), unit);
    else
        return true;
    return false;
}

// The machine's number for the text, as a value of the type the parameter holds now. A
// one-register number takes 0 to 65535, or -32768 to -1 as the word's two's complement; a number
// over several registers any 32-bit value.
QVariant rawValue(ZRDeviceProperty* parameter, const QString& text, QString* error)
{
    const int type = parameter->value().userType();
    const bool oneWord = isOneWord(parameter);
    double value = 0;
    if (type == QMetaType::Double)
        return readNumber(text, &value, error) ? QVariant(value) : QVariant();
    if (type == QMetaType::Int || type == QMetaType::UInt) {
        const double min = oneWord ? -32768 : std::numeric_limits<int>::min();
        const double max = oneWord    ? 65535
            : type == QMetaType::UInt ? double(std::numeric_limits<uint>::max())
                                      : std::numeric_limits<int>::max();
        if (!readNumber(text, &value, error, true, min, max))
            return {};
        if (type == QMetaType::Int)
            return int(value);
        const qint64 word = qint64(value);
        return ::uint(word < 0 ? word + (oneWord ? 65536 : qint64(1) << 32) : word);
    }
    if (type == QMetaType::QString)
        return text;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (type == QMetaType::QJsonObject && document.isObject())
        return document.object();
    *error = type == QMetaType::QJsonObject
        ? QStringLiteral("\"%1\" is not a JSON object").arg(printable(text))
        : QStringLiteral("this parameter holds no value of its own");
    return {};
}

} // namespace

QList<QByteArray> names(ZRDeviceInterface* device)
{
    QList<QByteArray> result;
    for (const QByteArray& name : device->dynamicPropertyNames()) {
        if (device->property_ptr(name.constData()))
            result.append(name);
    }
    return result;
}

QList<QByteArray> members(ZRDeviceInterface* device, const QByteArray& group)
{
    QList<QByteArray> result;
    ZRDeviceProperty* parameter = device->property_ptr(group.constData());
    if (!parameter)
        return result;
    for (const QByteArray& entry : parameter->dynamicPropertyNames()) {
        ZRDeviceProperty* member = device->property_ptr(entry.constData());
        if (member && member != parameter && parameter->property_ptr(entry.constData()) == member)
            result.append(entry);
    }
    return result;
}

QByteArray groupOf(ZRDeviceInterface* device, const QByteArray& name, bool reading)
{
    for (const QByteArray& group : names(device)) {
        if ((!reading || !device->property_ptr(group.constData())->get_cmd_bytes().isEmpty())
            && members(device, group).contains(name))
            return group;
    }
    return {};
}

QList<Entry> tree(
    ZRDeviceInterface* device, const QList<QByteArray>& names, QList<QByteArray>* shown)
{
    QList<QByteArray> seen;
    QList<QByteArray>& done = shown ? *shown : seen;
    QList<Entry> entries;
    std::function<void(const QByteArray&, int)> add = [&](const QByteArray& name, int depth) {
        if (done.contains(name) || !device->property_ptr(name.constData()))
            return;
        done.append(name);
        entries.append({ name, depth });
        for (const QByteArray& member : members(device, name))
            add(member, depth + 1);
    };
    for (const QByteArray& name : names)
        add(name, 0);
    return entries;
}

QList<QByteArray> latin1(const QStringList& names)
{
    QList<QByteArray> result;
    for (const QString& name : names)
        result.append(name.toLatin1());
    return result;
}

Result::Outcome checkWrite(ZRDeviceInterface* device, const QByteArray& name, const QString& text,
    bool raw, QVariant* value, QString* error)
{
    ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const QString shownName = QString::fromLatin1(name);
    const QList<QByteArray> parts = members(device, name);
    if (!Protocol::commandOf(name).isEmpty()) {
        *error = QStringLiteral("%1 is a command to the machine, not a setting: use zrhost %2")
                     .arg(shownName, Protocol::commandOf(name));
        return Result::Refused;
    }
    if (!parts.isEmpty() && parameter->set_cmd_bytes().isEmpty()) {
        *error = QStringLiteral("%1 is a group: set its members (%2)")
                     .arg(shownName, QString::fromLatin1(parts.join(", ")));
        return Result::Refused;
    }
    const auto kind = parameter->cmd_type();
    if (parameter->set_cmd_bytes().isEmpty()
        || (kind != ZRDeviceInterface::CMD && kind != ZRDeviceInterface::CCMD)) {
        *error
            = QStringLiteral("%1 is read-only: the machine takes no value for it").arg(shownName);
        return Result::ReadOnly;
    }
    QString why;
    *value = fromText(parameter, text, raw, &why);
    if (value->isValid())
        return Result::Done;
    *error = QStringLiteral("%1: %2").arg(shownName, why);
    return Result::OutOfRange;
}

QString shown(ZRDeviceProperty* parameter, bool raw)
{
    const QVariant& value = parameter->value();
    switch (value.userType()) {
    case QMetaType::QStringList:
        return printable(value.toStringList().join(QStringLiteral(", ")));
    case QMetaType::QJsonObject:
        return printable(
            QString::fromUtf8(QJsonDocument(value.toJsonObject()).toJson(QJsonDocument::Compact)));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        const QImage image = bytes.startsWith("\x89PNG") ? QImage::fromData(bytes) : QImage();
        return image.isNull()
            ? QStringLiteral("%1 bytes").arg(bytes.size())
            : QStringLiteral("PNG %1×%2, %3 bytes")
                  .arg(QString::number(image.width()), QString::number(image.height()),
                      QString::number(bytes.size()));
    }
    case QMetaType::QDateTime:
        return value.toDateTime().isValid()
            ? value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            : QStringLiteral("(none)");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        break;
    default:
        return printable(value.toString());
    }
    if (raw)
        return value.toString();
    const Editor editor = editorOf(parameter);
    double shownValue = value.toDouble();
    if (!editor.items.isEmpty()) {
        const bool listed = shownValue >= 0 && shownValue < editor.items.size()
            && shownValue == std::trunc(shownValue);
        return listed ? printable(editor.items.at(int(shownValue)).trimmed()) : value.toString();
    }
    if (editor.min < 0 && isOneWord(parameter) && shownValue >= 32768 && shownValue <= 65535)
        shownValue -= 65536;
    return number(shownValue * editor.factor);
}

QVariant fromText(ZRDeviceProperty* parameter, const QString& text, bool raw, QString* error)
{
    const Editor editor = editorOf(parameter);
    if (editor.kind == QLatin1String("QComboBox") && !raw) {
        double index = -1;
        for (int i = 0; index < 0 && i < editor.items.size(); ++i) {
            if (editor.items.at(i).trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0)
                index = i;
        }
        if (index < 0 && !readNumber(text, &index, error, true, 0, editor.items.size() - 1))
            return {};
        return rawValue(parameter, QString::number(index), error);
    }
    const bool spin = editor.kind.endsWith(QLatin1String("SpinBox"));
    if (raw || !(spin || (editor.kind == QLatin1String("QLineEdit") && editor.factor != 1)))
        return rawValue(parameter, text, error);
    const QString unit
        = parameter->uint().isEmpty() ? QString() : QLatin1Char(' ') + parameter->uint();
    double shownValue = 0;
    if (!readNumber(text, &shownValue, error, false, spin ? editor.min : -unbounded,
            spin ? editor.max : unbounded, unit))
        return {};
    const double machine = std::round(shownValue / editor.factor);
    // As the editors store them: a spin box an int, a double spin box a real.
    if (editor.kind == QLatin1String("QSpinBox"))
        return int(machine);
    if (editor.kind == QLatin1String("QDoubleSpinBox"))
        return machine;
    return rawValue(parameter, QString::number(machine, 'f', 0), error);
}

QString printable(const QString& text)
{
    QString result;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace Values
