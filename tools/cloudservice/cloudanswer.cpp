#include "cloudanswer.h"

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

bool CloudAnswer::parse(const QString& text, CloudAnswer* answer)
{
    if (text == QLatin1String("registry")) {
        *answer = registry();
        return true;
    }
    if (text == QLatin1String("hold")) {
        *answer = hold();
        return true;
    }
    if (text == QLatin1String("close")) {
        *answer = close();
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
