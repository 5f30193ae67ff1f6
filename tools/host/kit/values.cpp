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

// What the parameter's editor makes of its value.
struct Editor {
    QString kind;
    double min = 0;
    double max = 0;
    double factor = 1;
    QStringList items;
    bool signedWord = false; // a one-register value whose editor goes below zero
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
    editor.signedWord = editor.min < 0 && parameter->cmd_type() == ZRDeviceInterface::CMD
        && parameter->cmd_len() == 1;
    return editor;
}

QString number(double value)
{
    QString text = QString::number(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

bool parseNumber(const QString& text, double* value, QString* error)
{
    bool ok = false;
    *value = text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(*value))
        return true;
    *error = QStringLiteral("\"%1\" is not a number").arg(printable(text));
    return false;
}

bool inRange(double value, double min, double max, const QString& unit, QString* error)
{
    if (value >= min && value <= max)
        return true;
    *error = QStringLiteral("%1 is out of range (%2 to %3%4)")
                 .arg(number(value), number(min), number(max), unit);
    return false;
}

// The machine's number for the text, as a value of the type the parameter holds now. A
// one-register number takes 0 to 65535, or -32768 to -1 as the word's two's complement; a number
// over several registers any 32-bit value.
QVariant rawValue(ZRDeviceProperty* parameter, const QString& text, QString* error)
{
    const QVariant& current = parameter->value();
    const bool oneWord
        = parameter->cmd_type() == ZRDeviceInterface::CMD && parameter->cmd_len() == 1;
    const int type = current.userType();
    if (type == QMetaType::Int || type == QMetaType::UInt || type == QMetaType::Double) {
        double value = 0;
        if (!parseNumber(text, &value, error))
            return {};
        if (type == QMetaType::Double)
            return value;
        const double min = oneWord ? -32768 : std::numeric_limits<int>::min();
        const double max = oneWord    ? 65535
            : type == QMetaType::UInt ? double(std::numeric_limits<uint>::max())
                                      : std::numeric_limits<int>::max();
        if (value != std::trunc(value)) {
            *error = QStringLiteral("\"%1\" is not a whole number").arg(printable(text));
            return {};
        }
        if (!inRange(value, min, max, QString(), error))
            return {};
        if (type == QMetaType::Int)
            return int(value);
        const qint64 word = qint64(value) < 0
            ? qint64(value) + (oneWord ? 65536 : (qint64(1) << 32))
            : qint64(value);
        return ::uint(word);
    }
    switch (type) {
    case QMetaType::QString:
        return text;
    case QMetaType::QJsonObject: {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        if (document.isObject())
            return document.object();
        *error = QStringLiteral("\"%1\" is not a JSON object").arg(printable(text));
        return {};
    }
    default:
        *error = QStringLiteral("this parameter holds no value of its own");
        return {};
    }
}

} // namespace

QList<QByteArray> names(ZRDeviceInterface* device)
{
    QList<QByteArray> result;
    const QList<QByteArray> all = device->dynamicPropertyNames();
    for (const QByteArray& name : all) {
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
    const QList<QByteArray> entries = parameter->dynamicPropertyNames();
    for (const QByteArray& entry : entries) {
        ZRDeviceProperty* member = device->property_ptr(entry.constData());
        if (member && member != parameter && parameter->property_ptr(entry.constData()) == member)
            result.append(entry);
    }
    return result;
}

bool isMember(ZRDeviceInterface* device, const QByteArray& name)
{
    const QList<QByteArray> all = names(device);
    for (const QByteArray& group : all) {
        if (members(device, group).contains(name))
            return true;
    }
    return false;
}

QByteArray readingGroup(ZRDeviceInterface* device, const QByteArray& name)
{
    const QList<QByteArray> all = names(device);
    for (const QByteArray& group : all) {
        ZRDeviceProperty* parameter = device->property_ptr(group.constData());
        if (!parameter->get_cmd_bytes().isEmpty() && members(device, group).contains(name))
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

Fault checkWrite(ZRDeviceInterface* device, const QByteArray& name, const QString& text, bool raw,
    QVariant* value, QString* error)
{
    ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const QString shownName = QString::fromLatin1(name);
    if (!parameter) {
        *error = QStringLiteral("the device has no parameter %1 (see zrhost list)").arg(shownName);
        return NoSuchParameter;
    }
    const QString command = Protocol::commandOf(name);
    if (!command.isEmpty()) {
        *error = QStringLiteral("%1 is a command to the machine, not a setting: use zrhost %2")
                     .arg(shownName, command);
        return NotASetting;
    }
    const QList<QByteArray> parts = members(device, name);
    if (!parts.isEmpty() && parameter->set_cmd_bytes().isEmpty()) {
        QStringList list;
        for (const QByteArray& member : parts)
            list.append(QString::fromLatin1(member));
        *error = QStringLiteral("%1 is a group: set its members (%2)")
                     .arg(shownName, list.join(QStringLiteral(", ")));
        return NotASetting;
    }
    const auto kind = parameter->cmd_type();
    if (parameter->set_cmd_bytes().isEmpty()
        || (kind != ZRDeviceInterface::CMD && kind != ZRDeviceInterface::CCMD)) {
        *error
            = QStringLiteral("%1 is read-only: the machine takes no value for it").arg(shownName);
        return ReadOnly;
    }
    QString why;
    *value = fromText(parameter, text, raw, &why);
    if (value->isValid())
        return Fits;
    *error = QStringLiteral("%1: %2").arg(shownName, why);
    return DoesNotFit;
}

QString shown(ZRDeviceProperty* parameter, bool raw)
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
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        const QImage image = bytes.startsWith("\x89PNG") ? QImage::fromData(bytes) : QImage();
        return image.isNull()
            ? QStringLiteral("%1 bytes").arg(bytes.size())
            : QStringLiteral("PNG %1×%2, %3 bytes")
                  .arg(QString::number(image.width()), QString::number(image.height()),
                      QString::number(bytes.size()));
    }
    case QMetaType::QDateTime: {
        const QDateTime time = value.toDateTime();
        return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                              : QStringLiteral("(none)");
    }
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
    double number = value.toDouble();
    if (!editor.items.isEmpty()) {
        const int index = int(number);
        return index >= 0 && index < editor.items.size() && double(index) == number
            ? printable(editor.items.at(index).trimmed())
            : value.toString();
    }
    if (editor.signedWord && number >= 32768 && number <= 65535)
        number -= 65536;
    return Values::number(number * editor.factor);
}

QVariant fromText(ZRDeviceProperty* parameter, const QString& text, bool raw, QString* error)
{
    const Editor editor = editorOf(parameter);
    if (raw || editor.kind == QLatin1String("QLabel")
        || (editor.kind == QLatin1String("QLineEdit") && editor.factor == 1)
        || editor.kind.isEmpty())
        return rawValue(parameter, text, error);
    if (editor.kind == QLatin1String("QComboBox")) {
        int index = editor.items.indexOf(text);
        for (int i = 0; index < 0 && i < editor.items.size(); ++i) {
            if (editor.items.at(i).trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0)
                index = i;
        }
        if (index < 0) {
            double chosen = -1;
            if (!parseNumber(text, &chosen, error)
                || !inRange(chosen, 0, editor.items.size() - 1, QString(), error))
                return {};
            if (chosen != std::trunc(chosen)) {
                *error = QStringLiteral("\"%1\" is not an item number").arg(printable(text));
                return {};
            }
            index = int(chosen);
        }
        return rawValue(parameter, QString::number(index), error);
    }
    double shownValue = 0;
    if (!parseNumber(text, &shownValue, error))
        return {};
    const bool spin = editor.kind.endsWith(QLatin1String("SpinBox"));
    const QString unit
        = parameter->uint().isEmpty() ? QString() : QLatin1Char(' ') + parameter->uint();
    if (spin && !inRange(shownValue, editor.min, editor.max, unit, error))
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
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace Values
