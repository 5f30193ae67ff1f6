#include "cloudanswer.h"

#include <QHash>
#include <QJsonDocument>

CloudAnswer CloudAnswer::registry()
{
    return {};
}

CloudAnswer CloudAnswer::json(int status, const QJsonObject& body)
{
    return raw(status, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

CloudAnswer CloudAnswer::raw(int status, const QByteArray& body)
{
    return { Respond, status, body };
}

CloudAnswer CloudAnswer::hold()
{
    return { Hold, 0, {} };
}

CloudAnswer CloudAnswer::close()
{
    return { Close, 0, {} };
}

CloudAnswer CloudAnswer::huge(qint64 bytes)
{
    CloudAnswer answer = json(200, { { "id", hostileId } });
    answer.kind = Stream;
    answer.size = qMax<qint64>(0, bytes - answer.body.size());
    return answer;
}

CloudAnswer CloudAnswer::endless()
{
    CloudAnswer answer = huge(0);
    answer.size = -1;
    return answer;
}

CloudAnswer CloudAnswer::garbage()
{
    static const char bytes[] = "\xff\xfe{\"id\": 4242,,, \x00\x01 ]]";
    return raw(200, QByteArray(bytes, sizeof bytes - 1));
}

CloudAnswer CloudAnswer::truncated()
{
    CloudAnswer answer = json(200, { { "id", hostileId }, { "code", "cut short" } });
    answer.kind = Truncated;
    answer.size = 64;
    return answer;
}

CloudAnswer CloudAnswer::slow(int ms)
{
    return { Slow, 0, {}, ms };
}

bool CloudAnswer::parse(const QString& text, CloudAnswer* answer)
{
    static const QHash<QString, CloudAnswer (*)()> named {
        { QStringLiteral("registry"), &registry },
        { QStringLiteral("hold"), &hold },
        { QStringLiteral("close"), &close },
        { QStringLiteral("huge"), [] { return huge(); } },
        { QStringLiteral("endless"), &endless },
        { QStringLiteral("garbage"), &garbage },
        { QStringLiteral("truncated"), &truncated },
    };
    if (const auto make = named.value(text)) {
        *answer = make();
        return true;
    }
    if (text.startsWith(QLatin1String("huge:"))) {
        bool ok = false;
        const qint64 bytes = text.mid(5).toLongLong(&ok);
        if (!ok || bytes < 0)
            return false;
        *answer = huge(bytes);
        return true;
    }
    if (text.startsWith(QLatin1String("slow:"))) {
        bool ok = false;
        const int ms = text.mid(5).toInt(&ok);
        if (!ok || ms < 0)
            return false;
        *answer = slow(ms);
        return true;
    }
    const int colon = text.indexOf(QLatin1Char(':'));
    bool ok = false;
    const int status = text.left(colon).toInt(&ok);
    if (!ok || status < 100 || status > 599)
        return false;
    *answer = colon < 0 ? json(status) : raw(status, text.mid(colon + 1).toUtf8());
    return true;
}
