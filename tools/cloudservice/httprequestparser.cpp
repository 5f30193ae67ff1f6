#include "httprequestparser.h"

#include <QJsonDocument>
#include <QList>

namespace {

bool isToken(const QByteArray& text)
{
    static const QByteArray punctuation("!#$%&'*+-.^_`|~");
    if (text.isEmpty())
        return false;
    for (char c : text) {
        const bool alphanumeric
            = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric && !punctuation.contains(c))
            return false;
    }
    return true;
}

QString decodeQueryPart(QByteArray part)
{
    part.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
}

// The end of the header block (the index just past its blank line) and the length of that blank
// line's terminator; -1 while it has not arrived. Bare LF line ends are accepted too.
int headerEnd(const QByteArray& buffer)
{
    const int crlf = buffer.indexOf("\r\n\r\n");
    const int lf = buffer.indexOf("\n\n");
    if (crlf < 0 && lf < 0)
        return -1;
    if (lf < 0 || (crlf >= 0 && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

} // namespace

HttpRequestParser::Result HttpRequestParser::next(CloudRequest* request, int* errorStatus)
{
    auto bad = [errorStatus](int status) {
        *errorStatus = status;
        return Result::Bad;
    };

    // Blank lines before a request line are allowed.
    int start = 0;
    while (start < m_buffer.size() && (m_buffer[start] == '\r' || m_buffer[start] == '\n'))
        ++start;
    m_buffer.remove(0, start);
    if (m_buffer.isEmpty())
        return Result::NeedMore;

    const int end = headerEnd(m_buffer);
    if (end < 0)
        return m_buffer.size() > MaxHeaderBytes ? bad(431) : Result::NeedMore;
    if (end > MaxHeaderBytes)
        return bad(431);

    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return bad(400);

    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    if (requestLine.size() != 3 || !isToken(requestLine[0]) || !requestLine[1].startsWith('/'))
        return bad(400);
    const QByteArray version = requestLine[2];
    if (!version.startsWith("HTTP/"))
        return bad(400);
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return bad(505);
    for (char c : requestLine[1]) {
        if (uchar(c) <= ' ' || uchar(c) == 0x7f)
            return bad(400);
    }

    CloudRequest parsed;
    parsed.method = requestLine[0];
    QByteArray connection;
    qint64 contentLength = -1;
    for (const QByteArray& line : qAsConst(lines)) {
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return bad(400);
        const QByteArray name = line.left(colon).toLower();
        if (!isToken(name))
            return bad(400);
        const QByteArray value = line.mid(colon + 1).trimmed();
        parsed.headers.append({ name, value });
        if (name == "transfer-encoding")
            return bad(501);
        if (name == "connection")
            connection = value.toLower();
        if (name == "content-length") {
            if (value.isEmpty() || value.size() > 12)
                return bad(400);
            for (char c : value) {
                if (c < '0' || c > '9')
                    return bad(400);
            }
            const qint64 length = value.toLongLong();
            if (contentLength >= 0 && contentLength != length)
                return bad(400);
            contentLength = length;
        }
    }
    if (contentLength > MaxBodyBytes)
        return bad(413);
    const int bodyLength = int(qMax<qint64>(0, contentLength));
    if (m_buffer.size() - end < bodyLength)
        return Result::NeedMore;

    const QByteArray target = requestLine[1];
    const int question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.left(question);
    parsed.path = QString::fromUtf8(QByteArray::fromPercentEncoding(path));
    if (question >= 0) {
        for (const QByteArray& item : target.mid(question + 1).split('&')) {
            if (item.isEmpty())
                continue;
            const int equals = item.indexOf('=');
            parsed.query.append({ decodeQueryPart(equals < 0 ? item : item.left(equals)),
                equals < 0 ? QString() : decodeQueryPart(item.mid(equals + 1)) });
        }
    }
    parsed.keepAlive = version == "HTTP/1.1" ? connection != "close" : connection == "keep-alive";
    parsed.body = m_buffer.mid(end, bodyLength);
    if (!parsed.body.isEmpty()) {
        const QJsonDocument document = QJsonDocument::fromJson(parsed.body);
        parsed.bodyIsJson = document.isObject();
        parsed.json = document.object();
    }
    m_buffer.remove(0, end + bodyLength);
    *request = parsed;
    return Result::Complete;
}
