#include "valuefromtext.h"

#include "zrdeviceproperty.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

bool wholeNumber(const QString& text, qint64 min, qint64 max, qint64* number, QString* error)
{
    bool ok = false;
    const qint64 parsed = text.trimmed().toLongLong(&ok);
    if (!ok) {
        *error = QStringLiteral("\"%1\" is not a whole number").arg(text);
        return false;
    }
    if (parsed < min || parsed > max) {
        *error = QStringLiteral("%1 is out of range (%2 to %3)").arg(parsed).arg(min).arg(max);
        return false;
    }
    *number = parsed;
    return true;
}

} // namespace

QVariant valueFromText(ZRDeviceProperty* parameter, const QString& text, QString* error)
{
    const QVariant& current = parameter->value();
    const bool registers = parameter->cmd_type() == ZRDeviceInterface::CMD;
    const int words = parameter->cmd_len();
    qint64 number = 0;

    switch (current.userType()) {
    case QMetaType::Int: {
        const bool oneWord = registers && words == 1;
        const qint64 min = oneWord ? -32768 : std::numeric_limits<int>::min();
        const qint64 max = oneWord ? 65535 : std::numeric_limits<int>::max();
        if (!wholeNumber(text, min, max, &number, error))
            return {};
        return int(number);
    }
    case QMetaType::UInt: {
        const bool oneWord = registers && words == 1;
        const qint64 min = oneWord ? -32768 : std::numeric_limits<int>::min();
        const qint64 max = oneWord ? 65535 : std::numeric_limits<uint>::max();
        if (!wholeNumber(text, min, max, &number, error))
            return {};
        if (number < 0)
            number += oneWord ? 65536 : (qint64(1) << 32);
        return ::uint(number);
    }
    case QMetaType::Double: {
        bool ok = false;
        const double real = text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(real)) {
            *error = QStringLiteral("\"%1\" is not a number").arg(text);
            return {};
        }
        return real;
    }
    case QMetaType::Bool: {
        const QString word = text.trimmed().toLower();
        if (word == QLatin1String("true") || word == QLatin1String("1")
            || word == QLatin1String("yes"))
            return true;
        if (word == QLatin1String("false") || word == QLatin1String("0")
            || word == QLatin1String("no"))
            return false;
        *error = QStringLiteral("\"%1\" is neither true nor false").arg(text);
        return {};
    }
    case QMetaType::QString:
        return text;
    case QMetaType::QStringList:
        return text.split(QLatin1Char(','));
    case QMetaType::QByteArray:
        return text.toUtf8();
    case QMetaType::QJsonObject: {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &parseError);
        if (!document.isObject()) {
            *error = QStringLiteral("\"%1\" is not a JSON object").arg(text);
            return {};
        }
        return document.object();
    }
    case QMetaType::QDateTime: {
        const QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODate);
        if (!time.isValid()) {
            *error = QStringLiteral("\"%1\" is not an ISO 8601 date and time").arg(text);
            return {};
        }
        return time;
    }
    default:
        *error = QStringLiteral("this parameter holds no value of its own");
        return {};
    }
}
