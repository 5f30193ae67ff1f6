#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// How the local cloud service answers a request: from its registry (the default), with a fixed
// status and body, not at all, or as a hostile service would.
struct CloudAnswer {
    enum Kind {
        Registry, // behave like the real service
        Respond, // send status and body as they are
        Hold, // never answer and keep the connection open
        Close, // close the connection without a response
        Stream, // status 200, body then `size` bytes of padding, made as the peer reads them;
                // size < 0: a chunked body that never ends
        Truncated, // status and body, announced `size` bytes longer; then the connection closes
        Slow, // as the registry, which acts at once, with the answer sent `size` ms later
    };
    Kind kind = Registry;
    int status = 200;
    QByteArray body; // sent with Content-Type application/json, whether it is JSON or not
    qint64 size = 0;

    static CloudAnswer registry();
    static CloudAnswer json(int status, const QJsonObject& body = {});
    static CloudAnswer raw(int status, const QByteArray& body);
    static CloudAnswer hold();
    static CloudAnswer close();
    // A well-formed object with an "id", padded with blanks (still valid JSON) to `bytes`.
    static CloudAnswer huge(qint64 bytes = hugeBytes);
    static CloudAnswer endless();
    // 200 with bytes that are no JSON at all.
    static CloudAnswer garbage();
    // 200 with a whole object whose announced length runs past it: the connection closes first.
    static CloudAnswer truncated();
    // The registry's answer, held back for ms milliseconds.
    static CloudAnswer slow(int ms);

    static constexpr qint64 hugeBytes = 100 * 1024 * 1024;
    static constexpr int hostileId = 4242; // the "id" the hostile answers carry

    // Reads "registry", "hold", "close", "huge" (hugeBytes) or "huge:BYTES", "endless",
    // "garbage", "truncated", "slow:MS", "STATUS" (with the body {}) or "STATUS:BODY" (BODY sent verbatim).
    // False for anything else, or a status outside 100..599.
    static bool parse(const QString& text, CloudAnswer* answer);
};
