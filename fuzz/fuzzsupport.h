#pragma once

// What the fuzz targets share: a quiet application, and a cloud client that sends nothing,
// keeps each handler a device hands it, and answers them with replies made from the fuzzer's
// bytes.

#include "corvanecloud.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <deque>

// The application the device needs, with Qt's messages silenced: they would drown the fuzzer's.
inline void startQuietApplication(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// A finished reply with a status (0: none arrived), a body, and whether it came whole.
class CannedReply : public QNetworkReply {
public:
    CannedReply(int status, const QByteArray& body, bool whole)
        : m_body(body)
    {
        if (status != 0)
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
        if (status == 0 || !whole)
            setError(RemoteHostClosedError, QStringLiteral("Connection closed"));
        open(QIODevice::ReadOnly);
        setFinished(true);
    }
    void abort() override { }
    qint64 bytesAvailable() const override { return m_body.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 size) override
    {
        const qint64 n = qMin<qint64>(size, m_body.size());
        memcpy(data, m_body.constData(), size_t(n));
        m_body.remove(0, int(n));
        return n;
    }

private:
    QByteArray m_body;
};

class ScriptedCloud : public CorvaneCloud {
public:
    struct Request {
        QString path;
        QByteArray method;
        QJsonObject body;
        std::function<void(QNetworkReply*, bool)> handler;
    };
    std::deque<Request> requests;

    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override
    {
        requests.push_back({ path, method, body, handler });
    }

    // Answers the oldest request that waits for an answer; false when none does.
    bool answerNext(int status, const QByteArray& body, bool whole)
    {
        while (!requests.empty() && !requests.front().handler)
            requests.pop_front();
        if (requests.empty())
            return false;
        const Request request = requests.front();
        requests.pop_front();
        CannedReply reply(status, body, whole);
        request.handler(&reply, whole && status >= 200 && status < 300);
        return true;
    }
};
