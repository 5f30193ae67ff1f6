#include "zrdeviceproperty.h"

#include "asciitext.h"
#include "numbers.h"
#include "replyfits.h"

#include <charconv>
#include <cstring>

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

using Kind = ZRDeviceInterface::ZRDeviceCMDType;

// A value spread over several registers travels as the 16-bit words of its 32-bit pattern, low
// word first; every register after the second carries 0.
constexpr int maxRegisters = 6;

quint16 wordOf(quint32 value, int index)
{
    if (index == 0)
        return value & 0xffff;
    if (index == 1)
        return value >> 16;
    return 0;
}

quint16 wordFromText(const QString& text)
{
    const unsigned int word = unsignedNumberOrZero(text);
    return word <= 0xffff ? quint16(word) : 0;
}

QByteArray nameKey(const QString& name)
{
    return name.toUtf8();
}

int decimalDigits(int n)
{
    int digits = 1;
    while (n >= 10) {
        n /= 10;
        ++digits;
    }
    return digits;
}

// A frame for a body of size bytes: STX, the total length, ';', the body, ETX, all but the body
// written; body points where it goes.
QByteArray frameAround(int size, char** body)
{
    // The length field counts itself, so its digit count is settled in two steps.
    const int n = size + 3;
    const int length = n + decimalDigits(n + decimalDigits(n));
    QByteArray frame(length, Qt::Uninitialized);
    char* out = frame.data();
    *out++ = STX;
    out = std::to_chars(out, out + 10, length).ptr;
    *out++ = ';';
    *body = out;
    frame.data()[length - 1] = ETX;
    return frame;
}

} // namespace

QByteArray ZRDeviceProperty::pack(QString payload, QString head) const
{
    // Commands and cut files are ASCII text, which is its own 8-bit encoding: it is narrowed
    // straight into the frame. Other text takes the local 8-bit encoding.
    char* body = nullptr;
    QByteArray frame = frameAround(head.size() + 1 + payload.size(), &body);
    if (narrowAscii(head.constData(), head.size(), body)) {
        body[head.size()] = ';';
        if (narrowAscii(payload.constData(), payload.size(), body + head.size() + 1))
            return frame;
    }
    const QByteArray encoded = (head + QLatin1Char(';') + payload).toLocal8Bit();
    frame = frameAround(encoded.size(), &body);
    std::memcpy(body, encoded.constData(), size_t(encoded.size()));
    return frame;
}

QByteArray ZRDeviceProperty::get_cmd_bytes() const
{
    if (m_type == ZRDeviceInterface::UnCMD || m_length == 0 || m_getCmd == 0)
        return {};
    if (m_type == ZRDeviceInterface::CMD) {
        QString payload = QStringLiteral("GET");
        for (int i = 0; i < m_length; ++i)
            payload += QString::number(m_getCmd + i) + QLatin1Char(';');
        return pack(payload, QStringLiteral("CMD"));
    }
    if (m_type == ZRDeviceInterface::CCMD) {
        QString payload = QString::number(m_getCmd);
        for (const QString& field : m_param)
            payload += QLatin1Char(',') + field;
        return pack(payload + QLatin1Char(';'), QStringLiteral("CCMD"));
    }
    return {};
}

QByteArray ZRDeviceProperty::set_cmd_bytes() const
{
    if (m_type == ZRDeviceInterface::UnCMD || m_setCmd == 0)
        return {};
    const QString text = m_value.toString();
    switch (m_type) {
    case ZRDeviceInterface::CCMD: {
        QString payload = QString::number(m_setCmd);
        const QStringList members = m_value.toStringList();
        if (members.size() < 2) {
            payload += QLatin1Char(',');
            for (const QString& field : m_param)
                payload += field + QLatin1Char(',');
            payload += text;
        } else {
            for (const QString& name : members) {
                if (ZRDeviceProperty* member = property_ptr(nameKey(name).constData()))
                    payload += QLatin1Char(',') + member->value().toString();
            }
        }
        return pack(payload + QLatin1Char(';'), QStringLiteral("CCMD"));
    }
    case ZRDeviceInterface::CMD: {
        QString payload = QStringLiteral("SET");
        if (m_length == 1) {
            payload += QString::number(m_setCmd) + QLatin1Char(':') + text + QLatin1Char(';');
        } else if (m_length >= 2) {
            const quint32 pattern = m_value.toUInt();
            for (int i = 0; i < qMin(m_length, maxRegisters); ++i) {
                payload += QString::number(m_setCmd + i) + QLatin1Char(':')
                    + QString::number(wordOf(pattern, i)) + QLatin1Char(';');
            }
        }
        return pack(payload, QStringLiteral("CMD"));
    }
    case ZRDeviceInterface::NUM:
        return pack(QStringLiteral("NUM:") + text + QLatin1Char(';'), QStringLiteral("CMD"));
    case ZRDeviceInterface::PLT:
        return pack(text, QStringLiteral("PLT"));
    case ZRDeviceInterface::PPLT:
        return pack(text, QStringLiteral("PPLT"));
    case ZRDeviceInterface::QRPLT:
        return pack(text, QStringLiteral("QR_PLT"));
    default:
        return {};
    }
}

bool replyFits(ZRDeviceProperty& parameter, const QStringList& values)
{
    if (values.size() == 1)
        return true;
    const Kind kind = parameter.cmd_type();
    if (kind == ZRDeviceInterface::CMD)
        return values.size() >= 2;
    if (kind != ZRDeviceInterface::CCMD)
        return false;
    // A group fills the members it has fields for; a plain CCMD reply repeats the parameter list
    // before the value.
    if (!parameter.value().toStringList().isEmpty())
        return true;
    const QStringList param = parameter.param();
    return values.size() > param.size() && values.mid(0, param.size()) == param;
}

void ZRDeviceProperty::set_decode(QStringList values)
{
    if (!replyFits(*this, values))
        return;
    if (values.size() == 1) {
        set_decode(values.first());
        return;
    }
    if (m_type == ZRDeviceInterface::CMD) {
        const quint32 pattern
            = quint32(wordFromText(values.at(1))) << 16 | wordFromText(values.at(0));
        m_value = QVariant(int(pattern));
        return;
    }
    const QStringList members = m_value.toStringList();
    if (members.isEmpty()) {
        set_decode(values.at(m_param.size()));
        return;
    }
    for (int i = 0; i < members.size() && i < values.size(); ++i) {
        if (ZRDeviceProperty* member = property_ptr(nameKey(members.at(i)).constData()))
            member->set_decode(QStringList { values.at(i) });
    }
}

void ZRDeviceProperty::set_decode(QString text)
{
    bool ok = false;
    switch (m_value.userType()) {
    case QMetaType::QString:
        m_value = text;
        break;
    case QMetaType::UInt:
        m_value = unsignedNumberOrZero(text);
        break;
    case QMetaType::Int:
        m_value = numberOrZero(text);
        break;
    case QMetaType::Double: {
        const double number = text.toDouble(&ok);
        m_value = ok ? number : 0.0;
        break;
    }
    default:
        break;
    }
}
