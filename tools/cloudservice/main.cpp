// zrcloud: a cloud service on 127.0.0.1 for trying a host and its devices without the real one.

#include "cloudservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

void log(const QString& line)
{
    out() << QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz")) << ' ' << line
          << Qt::endl;
}

// "resource:METHOD=answer"
bool addAnswer(CloudService& service, const QString& option)
{
    const int equals = option.indexOf(QLatin1Char('='));
    const int colon = option.left(equals).indexOf(QLatin1Char(':'));
    if (equals < 0 || colon <= 0 || colon + 1 >= equals)
        return false;
    CloudAnswer answer;
    if (!CloudAnswer::parse(option.mid(equals + 1), &answer))
        return false;
    service.setAnswer(
        option.left(colon), option.mid(colon + 1, equals - colon - 1).toLatin1(), answer);
    return true;
}

quint16 portOption(const QCommandLineParser& parser, const QCommandLineOption& option, bool* ok)
{
    const uint port = parser.value(option).toUInt(ok);
    *ok = *ok && port <= 65535;
    return quint16(port);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrcloud"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A cloud service on 127.0.0.1 for cutter devices: device registration, work records and\n"
        "the remote channel. It answers like the real service from a registry kept in memory,\n"
        "unless told otherwise with --answer, and prints every request and channel event.\n"
        "\n"
        "HTTP resources under the base path:\n"
        "  PATCH device_model {\"code\": N}  model id for model number N\n"
        "  POST  device_model or device    create a device entry (body needs \"code\")\n"
        "  GET   device?code=C             the device entry, 404 until created\n"
        "  PUT   device                    update the entry named by \"id\" or \"code\"\n"
        "  POST  device_work_records       store a work record; GET lists them\n"
        "WebSocket: ws://127.0.0.1:<ws port><base path><code>/Device/"));
    parser.addHelpOption();
    const QCommandLineOption httpPort(QStringLiteral("http-port"),
        QStringLiteral("Port of the HTTP resources, 8700 unless given (0 picks a free one)."),
        QStringLiteral("port"), QStringLiteral("8700"));
    const QCommandLineOption wsPort(QStringLiteral("ws-port"),
        QStringLiteral("Port of the WebSocket channel, 8701 unless given (0 picks a free one)."),
        QStringLiteral("port"), QStringLiteral("8701"));
    const QCommandLineOption basePath(QStringLiteral("base-path"),
        QStringLiteral("Path under which the resources and channels live, /api/ unless given."),
        QStringLiteral("path"), QStringLiteral("/api/"));
    const QCommandLineOption token(QStringLiteral("token"),
        QStringLiteral("Answer 401 to requests without \"Authorization: Bearer <token>\"."),
        QStringLiteral("token"));
    const QCommandLineOption answer(QStringLiteral("answer"),
        QStringLiteral("Answer resource and method always the same way; repeatable. <answer> is "
                       "registry (the default), hold (never answer, keep the connection open), "
                       "close (close without a response), slow:MS (the registry's answer MS ms late), STATUS (that status with the body {}), "
                       "STATUS:BODY (BODY sent as it is, JSON or not), or a hostile answer: huge "
                       "(a 100 MB body; huge:BYTES for another size), endless (a chunked body "
                       "without end), garbage (200 with bytes that are no JSON) or truncated (200 "
                       "with a body shorter than announced). Examples: "
                       "device:GET=404, 'device:GET=200:{\"id\":12}', device_model:PATCH=500, "
                       "'device_model:POST=200:not json', device:GET=hold."),
        QStringLiteral("resource:METHOD=answer"));
    const QCommandLineOption prompt(QStringLiteral("prompt-interval"),
        QStringLiteral("Every <ms> milliseconds, prompt each connected device for a runtime "
                       "report (0, the default, never)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption channel(QStringLiteral("channel"),
        QStringLiteral("How the remote channel behaves: normal (the default), endless (one text "
                       "message without end: continuation frames and never a final one), flood "
                       "(distinct prompts as fast as the device reads them) or flood-no-read "
                       "(the same, never reading what the device sends)."),
        QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption quiet(QStringList { QStringLiteral("q"), QStringLiteral("quiet") },
        QStringLiteral("Print only the addresses, not every request and channel event."));
    parser.addOptions({ httpPort, wsPort, basePath, token, answer, prompt, channel, quiet });
    parser.process(app);

    CloudService service;
    service.setBasePath(parser.value(basePath));
    service.setRequiredToken(parser.value(token));
    for (const QString& option : parser.values(answer)) {
        if (!addAnswer(service, option)) {
            QTextStream(stderr) << "zrcloud: bad --answer " << option << Qt::endl;
            return 2;
        }
    }
    static const QHash<QString, CloudService::ChannelMode> modes {
        { QStringLiteral("normal"), CloudService::ChannelMode::Normal },
        { QStringLiteral("endless"), CloudService::ChannelMode::EndlessMessage },
        { QStringLiteral("flood"), CloudService::ChannelMode::PromptFlood },
        { QStringLiteral("flood-no-read"), CloudService::ChannelMode::FloodWithoutReading },
    };
    if (!modes.contains(parser.value(channel))) {
        QTextStream(stderr) << "zrcloud: --channel is normal, endless, flood or flood-no-read"
                            << Qt::endl;
        return 2;
    }
    service.setChannelMode(modes.value(parser.value(channel)));
    bool httpOk = false;
    bool wsOk = false;
    const quint16 httpPortNumber = portOption(parser, httpPort, &httpOk);
    const quint16 wsPortNumber = portOption(parser, wsPort, &wsOk);
    bool intervalOk = false;
    const int interval = parser.value(prompt).toInt(&intervalOk);
    if (!httpOk || !wsOk || !intervalOk || interval < 0) {
        QTextStream(stderr) << "zrcloud: ports are 0 to 65535 and the interval is a count of "
                               "milliseconds"
                            << Qt::endl;
        return 2;
    }
    if (!service.listen(httpPortNumber, wsPortNumber)) {
        QTextStream(stderr) << "zrcloud: " << service.errorString() << Qt::endl;
        return 1;
    }
    out() << "HTTP base: " << service.httpBase().toString() << Qt::endl;
    out() << "WebSocket base: " << service.wsBase() << Qt::endl;

    if (!parser.isSet(quiet)) {
        QObject::connect(&service, &CloudService::requestReceived, [](const CloudRequest& request) {
            QString target = request.path;
            for (int i = 0; i < request.query.size(); ++i) {
                target += QLatin1Char(i == 0 ? '?' : '&') + request.query[i].first
                    + QLatin1Char('=') + request.query[i].second;
            }
            const QString status = request.answerStatus ? QString::number(request.answerStatus)
                                                        : QStringLiteral("no answer");
            log(QStringLiteral("%1 %2 %3 -> %4")
                    .arg(QString::fromLatin1(request.method), target,
                        QString::fromUtf8(request.body), status));
        });
        QObject::connect(&service, &CloudService::deviceConnected,
            [](const QString& code) { log(QStringLiteral("channel %1 connected").arg(code)); });
        QObject::connect(&service, &CloudService::deviceDisconnected,
            [](const QString& code) { log(QStringLiteral("channel %1 disconnected").arg(code)); });
        QObject::connect(
            &service, &CloudService::reportReceived, [](const QString& code, const QString& text) {
                log(QStringLiteral("channel %1 report %2").arg(code, text.left(400)));
            });
    }

    QTimer prompter;
    int prompts = 0;
    QObject::connect(&prompter, &QTimer::timeout, [&] {
        // Each prompt differs from the one before, as a device ignores a repeated text.
        const QString text = QStringLiteral("prompt %1").arg(++prompts);
        for (const QString& code : service.connectedCodes())
            service.sendPrompt(code, text);
    });
    if (interval > 0)
        prompter.start(interval);

    return app.exec();
}
