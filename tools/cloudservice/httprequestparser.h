#pragma once

#include "cloudrequest.h"

#include <QByteArray>

// Cuts HTTP/1.x requests out of the bytes a connection delivers, one at a time. Bodies are
// framed by Content-Length only, which is all QNetworkAccessManager sends; the header block and
// the body are bounded so that a peer cannot make the service hold unlimited data.
class HttpRequestParser {
public:
    static constexpr int MaxHeaderBytes = 16 * 1024;
    static constexpr int MaxBodyBytes = 4 * 1024 * 1024;

    enum class Result { NeedMore, Complete, Bad };

    void append(const QByteArray& bytes) { m_buffer += bytes; }

    // Takes the next complete request from the buffer into request. On Bad, errorStatus holds
    // the status to answer before closing (400, 413, 431, 501 or 505); the buffer is then of no
    // further use.
    Result next(CloudRequest* request, int* errorStatus);

private:
    QByteArray m_buffer;
};
