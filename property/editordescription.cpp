#include "zrdevicehost.h"

#include "cataloguerow.h"
#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace ZRDevice {

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

// The device's own state ("STATUS", a ZRDeviceInterface::ZRDeviceStatus) in words, in the
// enumeration's order; the link sets Working (2) when it comes up.
const char* const deviceStates[]
    = { "disconnected", "idle", "connected", "paused", "warning", "error" };

const QLatin1String kinds[] = { QLatin1String(), QLatin1String("QSpinBox"),
    QLatin1String("QDoubleSpinBox"), QLatin1String("QComboBox"), QLatin1String("QLineEdit"),
    QLatin1String("QLabel"), QLatin1String("QGroupBox"), QLatin1String("QTabWidget") };

// The one rounding of a shown number: three decimals at most, or as many as a finer factor needs
// for every machine number to show apart (0.0001: five), without trailing zeros ("-0" as "0").
QString number(double value, double factor = 1)
{
    const double step = std::abs(factor);
    const int decimals = step < 1 ? qMax(3, int(std::ceil(-std::log10(step))) + 1) : 3;
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    return QString::number(rounded == 0 ? 0.0 : rounded, 'g', 15);
}

// Text shown with control characters escaped (printable()) reads back as it was.
QString unescaped(const QString& text)
{
    static const QRegularExpression escape(QStringLiteral(R"(\\x([01][0-9a-f]|7f|[89][0-9a-f]))"));
    QString result = text;
    for (auto it = escape.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QChar c(match.captured(1).toUShort(nullptr, 16));
        result.replace(match.captured(0), QString(c));
    }
    return result;
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

} // namespace

Editor Editor::of(const ZRDeviceProperty* parameter, const QByteArray& name)
{
    Editor editor;
    if (!parameter)
        return editor;
    auto* p = const_cast<ZRDeviceProperty*>(parameter);
    const QJsonObject widget = p->property("WIDGET").toJsonObject();
    const QString kind = widget.value(QLatin1String("widget")).toString();
    for (int i = 1; i < int(std::size(kinds)); ++i) {
        if (kind == kinds[i])
            editor.kind = Kind(i);
    }
    editor.min = widget.value(QLatin1String("min")).toDouble(0);
    editor.max = widget.value(QLatin1String("max")).toDouble(editor.kind == SpinBox ? 1000 : 0);
    // A factor of 0 (or one that is no finite number) cannot be divided by: such a description
    // shows and takes the machine's number as it is.
    const double factor = widget.value(QLatin1String("factor")).toDouble(1);
    editor.factor = std::isfinite(factor) && factor != 0 ? factor : 1;
    // Splitting keeps empty parts: an empty option string is one blank item.
    if (widget.contains(QLatin1String("option")))
        editor.items = widget.value(QLatin1String("option"))
                           .toString()
                           .split(QLatin1Char(';'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    const ZRDeviceInterface::ZRDeviceCMDType type = p->cmd_type();
    editor.oneRegister = type == ZRDeviceInterface::CMD && p->cmd_len() == 1;
    editor.isSigned = editor.oneRegister && editor.min < 0;
    editor.writable = (type == ZRDeviceInterface::CMD || type == ZRDeviceInterface::CCMD)
        && !p->set_cmd_bytes().isEmpty();
    editor.isCommand = isCommandParameter(name);
    if (name == "STATUS" && editor.items.isEmpty()) {
        for (const char* state : deviceStates)
            editor.items.append(QLatin1String(state));
    }
    editor.unit = p->uint();
    return editor;
}

double Editor::shownNumber(const QVariant& value) const
{
    double shown = value.toDouble();
    if (isSigned && shown >= 32768 && shown <= 65535)
        shown -= 65536;
    return shown * factor;
}

QString Editor::text(const QVariant& value, bool raw) const
{
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
    if (!items.isEmpty()) {
        const double index = value.toDouble();
        const bool listed = index >= 0 && index < items.size() && index == std::trunc(index);
        return listed ? printable(items.at(int(index)).trimmed()) : value.toString();
    }
    return number(shownNumber(value), factor);
}

QVariant Editor::value(const QString& text, const QVariant& current, bool raw, QString* error) const
{
    QString typed = text;
    if (kind == ComboBox && !raw) {
        double index = -1;
        for (int i = 0; index < 0 && i < items.size(); ++i) {
            if (items.at(i).trimmed().compare(text.trimmed(), Qt::CaseInsensitive) == 0)
                index = i;
        }
        if (index < 0 && !readNumber(text, &index, error, true, 0, items.size() - 1))
            return {};
        typed = QString::number(index);
    } else if (!raw
        && (kind == SpinBox || kind == DoubleSpinBox || (kind == LineEdit && factor != 1))) {
        const bool spin = kind != LineEdit;
        double shown = 0;
        const QString unitText = unit.isEmpty() ? QString() : QLatin1Char(' ') + unit;
        if (!readNumber(text, &shown, error, false, spin ? min : -unbounded, spin ? max : unbounded,
                unitText))
            return {};
        // The machine's number, of the type its value has: written back, what is shown sends
        // the very frame the machine's value makes.
        typed = QString::number(std::round(shown / factor), 'f', 0);
    }

    // The machine's number, as a value of the type the parameter holds now. A one-register
    // number takes 0 to 65535, or -32768 to -1 as the word's two's complement; a number over
    // several registers any 32-bit value.
    const int type = current.userType();
    double value = 0;
    if (type == QMetaType::Double)
        return readNumber(typed, &value, error) ? QVariant(value) : QVariant();
    if (type == QMetaType::Int || type == QMetaType::UInt) {
        const double low = oneRegister ? -32768 : std::numeric_limits<int>::min();
        const double high = oneRegister ? 65535
            : type == QMetaType::UInt   ? double(std::numeric_limits<uint>::max())
                                        : std::numeric_limits<int>::max();
        if (!readNumber(typed, &value, error, true, low, high))
            return {};
        if (type == QMetaType::Int)
            return int(value);
        const qint64 word = qint64(value);
        return ::uint(word < 0 ? word + (oneRegister ? 65536 : qint64(1) << 32) : word);
    }
    if (type == QMetaType::QString)
        return unescaped(typed);
    const QJsonDocument document = QJsonDocument::fromJson(typed.toUtf8());
    if (type == QMetaType::QJsonObject && document.isObject())
        return document.object();
    *error = type == QMetaType::QJsonObject
        ? QStringLiteral("\"%1\" is not a JSON object").arg(printable(typed))
        : QStringLiteral("this parameter holds no value of its own");
    return {};
}

} // namespace ZRDevice
