#include "cloudexchange.h"

#include <QJsonDocument>

QString CloudExchange::outcome(int timeoutMs) const
{
    if (!answered)
        return QStringLiteral("no answer yet");
    if (status != 0) {
        QString text = reason.isEmpty() ? QStringLiteral("HTTP %1").arg(status)
                                        : QStringLiteral("HTTP %1 %2").arg(status).arg(reason);
        const QString said = QJsonDocument::fromJson(response)
                                 .object()
                                 .value(QLatin1String("error"))
                                 .toString()
                                 .left(200);
        if (status >= 400 && !said.isEmpty())
            text += QStringLiteral(" (%1)").arg(said);
        return text;
    }
    // The client aborts a request that transfers nothing within its time-out.
    if (error == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no answer within %1 s").arg(timeoutMs / 1000.0);
    if (errorText.isEmpty())
        return QStringLiteral("no response");
    return QStringLiteral("no response (%1)").arg(errorText);
}
