#pragma once

#include "cloudexchange.h"
#include "corvanecloud.h"

// The host's cloud client: the SDK's client, telling the host about every request its devices
// make and what each got, so that the person at the machine learns what failed with the service
// (the device itself tells nobody).
//
// A device whose lookup ("GET device") gets no response at all waits 10 s in a nested event
// loop and asks again, for as long as no response comes. A program that runs one command cannot
// sit in that loop: with lookup retries off, such a reply is not handed to the device, whose
// registration then simply stays unfinished, and the host goes on without the service.
class HostCloudClient : public CorvaneCloud {
    Q_OBJECT
public:
    using CorvaneCloud::CorvaneCloud;

    // On unless turned off.
    void setLookupRetries(bool on) { m_lookupRetries = on; }
    bool lookupRetries() const { return m_lookupRetries; }

    void customRequest(const QString& path, QByteArray method, QJsonObject body,
        std::function<void(QNetworkReply*, bool)> handler) override;

signals:
    // A request is leaving; only path, method and body are filled.
    void requestSent(const CloudExchange& exchange);
    // Its reply has finished and, unless held back, the device's handler has run, so the
    // device's record already shows what the reply changed.
    void replyReceived(const CloudExchange& exchange);

private:
    bool m_lookupRetries = true;
};
