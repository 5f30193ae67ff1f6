#include "remotereports.h"

#include "zrcommoninterface.h"

#include <QDebug>
#include <QWebSocket>

#include <cmath>

RemoteReports* RemoteReports::of(ZRCommonInterface* device, QWebSocket* socket)
{
    auto* reports = socket->findChild<RemoteReports*>(QString(), Qt::FindDirectChildrenOnly);
    return reports ? reports : new RemoteReports(device, socket);
}

RemoteReports::RemoteReports(ZRCommonInterface* device, QWebSocket* socket)
    : QObject(socket)
    , m_device(device)
    , m_socket(socket)
{
    m_clock.start();
    m_trailing.setSingleShot(true);
    connect(&m_trailing, &QTimer::timeout, this, &RemoteReports::reportLater);
    connect(socket, &QWebSocket::bytesWritten, this, &RemoteReports::drained);
}

void RemoteReports::refill()
{
    m_tokens = qMin<double>(
        promptBurst, m_tokens + m_clock.restart() * double(promptsPerSecond) / 1000.0);
}

bool RemoteReports::admitPrompt()
{
    refill();
    if (m_tokens >= 1) {
        m_tokens -= 1;
        return true;
    }
    ++m_dropped;
    if (!m_trailing.isActive())
        m_trailing.start(int(std::ceil((1 - m_tokens) * 1000.0 / promptsPerSecond)));
    return false;
}

// The prompts dropped since the last answer get one report, with the state of this moment.
void RemoteReports::reportLater()
{
    refill();
    m_tokens = qMax(0.0, m_tokens - 1);
    qDebug() << "ZRCommonInterface::slot_websocket_text_received: prompts dropped"
             << m_dropped - m_droppedLogged;
    m_droppedLogged = m_dropped;
    m_device->device_task_to_cloud();
}

bool RemoteReports::maySend()
{
    if (m_socket->bytesToWrite() < maxQueuedBytes)
        return true;
    m_waiting = true;
    return false;
}

void RemoteReports::drained()
{
    if (!m_waiting || m_socket->bytesToWrite() >= maxQueuedBytes)
        return;
    m_waiting = false;
    m_device->device_task_to_cloud();
}
