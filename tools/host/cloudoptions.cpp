#include "cloudoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

bool isAddress(const QUrl& url, const QStringList& schemes)
{
    return url.isValid() && schemes.contains(url.scheme()) && !url.host().isEmpty();
}

} // namespace

QList<QCommandLineOption> CloudOptions::options()
{
    // clang-format off
    return {
        { "cloud", "HTTP base of a cloud service, such as http://127.0.0.1:8700/api/: the device registers there and posts its work records.", "url" },
        { "cloud-ws", "WebSocket base of that service, such as ws://127.0.0.1:8701/api/: the device opens its remote channel there and sends runtime reports (none without it).", "url" },
        { "cloud-token", "Bearer token sent with every request to the cloud service.", "token" },
        { "device-code", "The machine's device code for the cloud service (default: the machine number read from the machine).", "code" },
        { "cloud-embedded", "Start the project's local cloud service in this program on 127.0.0.1 and use it; a job then prints the work record it received." },
        { "cloud-timeout", "Seconds to wait for each answer of the cloud service (default 5).", "seconds" },
    };
    // clang-format on
}

bool CloudOptions::read(const QCommandLineParser& parser, CloudOptions* options, QString* error)
{
    options->embedded = parser.isSet("cloud-embedded");
    const bool remote = parser.isSet("cloud");
    if (options->embedded && (remote || parser.isSet("cloud-ws"))) {
        *error = QStringLiteral(
            "--cloud-embedded starts a cloud service of its own; give it or --cloud, not both");
        return false;
    }
    if (!options->embedded && !remote) {
        for (const char* name : { "cloud-ws", "cloud-token", "device-code", "cloud-timeout" }) {
            if (parser.isSet(name)) {
                *error = QStringLiteral("--%1 needs --cloud or --cloud-embedded").arg(name);
                return false;
            }
        }
        return true;
    }

    if (remote) {
        const QUrl http(parser.value("cloud"), QUrl::StrictMode);
        if (!isAddress(http, { "http", "https" })) {
            *error = QStringLiteral("--cloud wants an http:// or https:// address such as "
                                    "http://127.0.0.1:8700/api/, not \"%1\"")
                         .arg(parser.value("cloud"));
            return false;
        }
        options->httpBase = http;
    }
    if (parser.isSet("cloud-ws")) {
        QUrl ws(parser.value("cloud-ws"), QUrl::StrictMode);
        if (!isAddress(ws, { "ws", "wss" }) || ws.hasQuery() || ws.hasFragment()) {
            *error = QStringLiteral("--cloud-ws wants a ws:// or wss:// address such as "
                                    "ws://127.0.0.1:8701/api/, not \"%1\"")
                         .arg(parser.value("cloud-ws"));
            return false;
        }
        // The device appends its code without a separator; the base is a folder.
        if (!ws.path().endsWith(QLatin1Char('/')))
            ws.setPath(ws.path() + QLatin1Char('/'));
        options->wsBase = ws.toString();
    }

    options->token = parser.value("cloud-token");
    if (options->token.contains(QRegularExpression(QStringLiteral("[\\s\\x00-\\x1f\\x7f]")))) {
        *error = QStringLiteral("--cloud-token may not hold spaces or control characters");
        return false;
    }
    if (parser.isSet("device-code")) {
        options->deviceCode = parser.value("device-code");
        if (!isValidDeviceCode(options->deviceCode)) {
            *error = QStringLiteral("--device-code wants letters, digits, '-', '_' and '.' (at "
                                    "most 64), not \"%1\"")
                         .arg(options->deviceCode);
            return false;
        }
    }
    if (parser.isSet("cloud-timeout")) {
        bool ok = false;
        const double seconds = parser.value("cloud-timeout").toDouble(&ok);
        if (!ok || !(seconds >= 0.1 && seconds <= 600)) {
            *error = QStringLiteral("--cloud-timeout wants a number from 0.1 to 600, not \"%1\"")
                         .arg(parser.value("cloud-timeout"));
            return false;
        }
        options->requestTimeoutMs = int(seconds * 1000);
    }
    return true;
}

bool CloudOptions::isValidDeviceCode(const QString& code)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return allowed.match(code).hasMatch();
}
