#include "corvanecloud.h"

// Placeholder until the HTTP client lands: requests go nowhere.
CorvaneCloud::CorvaneCloud(QObject* parent) : QObject(parent) { }
CorvaneCloud::~CorvaneCloud() = default;
void CorvaneCloud::customRequest(const QString&, QByteArray, QJsonObject,
    std::function<void(QNetworkReply*, bool)>) { }
QString CorvaneCloud::ws() { return {}; }
