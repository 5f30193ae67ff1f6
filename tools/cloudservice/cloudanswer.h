#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// How the local cloud service answers a request: from its registry (the default), with a fixed
// status and body, or not at all.
struct CloudAnswer {
    enum Kind {
        Registry, // behave like the real service
        Respond, // send status and body as they are
        Hold, // never answer and keep the connection open
        Close, // close the connection without a response
    };
    Kind kind = Registry;
    int status = 200;
    QByteArray body; // sent with Content-Type application/json, whether it is JSON or not

    static CloudAnswer registry();
    static CloudAnswer json(int status, const QJsonObject& body = {});
    static CloudAnswer raw(int status, const QByteArray& body);
    static CloudAnswer hold();
    static CloudAnswer close();

    // Reads "registry", "hold", "close", "STATUS" (with the body {}) or "STATUS:BODY" (BODY sent
    // verbatim). False for anything else, or a status outside 100..599.
    static bool parse(const QString& text, CloudAnswer* answer);
};
