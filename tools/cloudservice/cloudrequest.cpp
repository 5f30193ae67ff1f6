#include "cloudrequest.h"

QByteArray CloudRequest::header(const QByteArray& name) const
{
    const QByteArray wanted = name.toLower();
    for (const auto& header : headers) {
        if (header.first == wanted)
            return header.second;
    }
    return {};
}

QString CloudRequest::queryValue(const QString& key) const
{
    for (const auto& item : query) {
        if (item.first == key)
            return item.second;
    }
    return {};
}
