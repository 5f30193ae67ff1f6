#include "values.h"

#include "zrdevicehost.h"
#include "zrdeviceproperty.h"

#include <functional>

namespace {

// The zrhost command that sends a command parameter ("jog", "origin").
QString commandOf(const QByteArray& name)
{
    if (name == "MOVE_X" || name == "MOVE_Y")
        return QStringLiteral("jog");
    if (name == "TASK_PAUSE" || name == "TASK_RESUME" || name == "TASK_STOP")
        return QStringLiteral("pause, resume or stop");
    return QStringLiteral("origin");
}

} // namespace

namespace Values {

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
    const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
    const QString shownName = QString::fromLatin1(name);
    const QList<QByteArray> parts = members(device, name);
    if (editor.isCommand) {
        *error = QStringLiteral("%1 is a command to the machine, not a setting: use zrhost %2")
                     .arg(shownName, commandOf(name));
        return Result::Refused;
    }
    if (!parts.isEmpty() && !editor.writable) {
        *error = QStringLiteral("%1 is a group: set its members (%2)")
                     .arg(shownName, QString::fromLatin1(parts.join(", ")));
        return Result::Refused;
    }
    if (!editor.writable) {
        *error
            = QStringLiteral("%1 is read-only: the machine takes no value for it").arg(shownName);
        return Result::ReadOnly;
    }
    QString why;
    *value = editor.value(text, parameter->value(), raw, &why);
    if (value->isValid())
        return Result::Done;
    *error = QStringLiteral("%1: %2").arg(shownName, why);
    return Result::OutOfRange;
}

} // namespace Values

namespace Values {

QString unitOf(ZRDeviceInterface* device, const QByteArray& name, bool raw, Units::Unit unit)
{
    const QString own = device->property_ptr(name.constData())->uint();
    bool perSecond = false;
    if (raw)
        return QString();
    return Units::isLength(own, &perSecond) ? Units::symbol(unit, perSecond)
                                            : ZRDevice::printable(own);
}

QString shown(ZRDeviceInterface* device, const QByteArray& name, bool raw, Units::Unit unit)
{
    const ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
    const QVariant value = parameter->value();
    const bool number = editor.items.isEmpty() && value.canConvert<double>()
        && (editor.kind == ZRDevice::Editor::SpinBox
            || editor.kind == ZRDevice::Editor::DoubleSpinBox);
    if (raw || unit == Units::Mm || !number || !Units::isLength(editor.unit))
        return editor.text(value, raw);
    return Units::number(editor.shownNumber(value), unit, editor.factor < 1 ? 1 : 0);
}

bool typed(ZRDeviceInterface* device, const QByteArray& name, const QString& text, Units::Unit unit,
    QString* typed, QString* error)
{
    const ZRDeviceProperty* parameter = device->property_ptr(name.constData());
    const ZRDevice::Editor editor = ZRDevice::Editor::of(parameter, name);
    *typed = text;
    bool perSecond = false;
    if ((editor.kind == ZRDevice::Editor::SpinBox || editor.kind == ZRDevice::Editor::DoubleSpinBox)
        && Units::isLength(editor.unit, &perSecond)) {
        double mm = 0;
        if (!Units::parse(text, unit, perSecond, &mm, error)) {
            *error = QStringLiteral("%1: %2").arg(QString::fromLatin1(name), *error);
            return false;
        }
        *typed = QString::number(mm, 'g', 12);
        return true;
    }
    if (editor.kind != ZRDevice::Editor::ComboBox)
        return true;
    // A choice by its whole text, by a word of it, or by its number.
    const QString word = text.trimmed();
    QStringList words;
    QList<int> matches;
    for (int i = 0; i < editor.items.size(); ++i) {
        const QString item = editor.items.at(i).trimmed();
        const QStringList parts = item.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        words << item << parts;
        if (item.compare(word, Qt::CaseInsensitive) == 0)
            return true;
        for (const QString& part : parts) {
            if (part.compare(word, Qt::CaseInsensitive) == 0 && !matches.contains(i))
                matches.append(i);
        }
    }
    bool isNumber = false;
    word.toDouble(&isNumber);
    if (isNumber)
        return true;
    if (matches.size() == 1) {
        *typed = QString::number(matches.first());
        return true;
    }
    QStringList choices;
    for (int i = 0; i < editor.items.size(); ++i)
        choices.append(QStringLiteral("%1 (%2)")
                           .arg(ZRDevice::printable(editor.items.at(i).trimmed()))
                           .arg(i));
    const QString near = nearest(word, words);
    *error = QStringLiteral("%1: \"%2\" is %3 of the choices: %4%5")
                 .arg(QString::fromLatin1(name), ZRDevice::printable(word),
                     matches.isEmpty() ? QStringLiteral("none") : QStringLiteral("more than one"),
                     choices.join(QStringLiteral(", ")),
                     near.isEmpty() ? QString()
                                    : QStringLiteral("; did you mean \"%1\"?")
                                          .arg(ZRDevice::printable(near.toLower())));
    return false;
}

QString nearest(const QString& word, const QStringList& candidates)
{
    const QString typed = word.toLower();
    QString best;
    int bestDistance = qMax(1, typed.size() / 3) + 1;
    for (const QString& candidate : candidates) {
        const QString other = candidate.toLower();
        // Levenshtein distance, one row at a time.
        QVector<int> row(other.size() + 1);
        for (int j = 0; j <= other.size(); ++j)
            row[j] = j;
        for (int i = 1; i <= typed.size(); ++i) {
            int diagonal = row[0];
            row[0] = i;
            for (int j = 1; j <= other.size(); ++j) {
                const int above = row[j];
                row[j] = qMin(qMin(row[j] + 1, row[j - 1] + 1),
                    diagonal + (typed.at(i - 1) == other.at(j - 1) ? 0 : 1));
                diagonal = above;
            }
        }
        if (row[other.size()] < bestDistance) {
            bestDistance = row[other.size()];
            best = candidate;
        }
    }
    return best;
}

QString unknownText(ZRDeviceInterface* device, const QString& name)
{
    QStringList known;
    for (const QByteArray& candidate : names(device))
        known.append(QString::fromLatin1(candidate));
    const QString near = nearest(name, known);
    return QStringLiteral("no such parameter: %1 (%2see zrhost list)")
        .arg(ZRDevice::printable(name),
            near.isEmpty() ? QString() : QStringLiteral("did you mean %1? ").arg(near));
}

} // namespace Values
