#include "parameterreader.h"

#include "linkstatus.h"
#include "parametertree.h"
#include "zrdeviceproperty.h"

#include <QEventLoop>
#include <QTimer>

ParameterReader::ParameterReader(ZRDeviceInterface* device, QObject* parent)
    : QObject(parent)
    , m_device(device)
{ }

void ParameterReader::addRead(const QByteArray& name, ZRDeviceProperty* parameter)
{
    if (m_alreadyRead.contains(name))
        return;
    const QByteArray frame = parameter->get_cmd_bytes();
    for (const Read& read : qAsConst(m_reads)) {
        if (read.frame == frame)
            return;
    }
    Read read;
    read.name = name;
    read.frame = frame;
    read.watched.append(parameter);
    const QList<QByteArray> members = ParameterTree::members(m_device, name);
    for (const QByteArray& member : members)
        read.watched.append(m_device->property_ptr(member.constData()));
    m_reads.append(read);
}

void ParameterReader::plan(const QByteArray& name)
{
    ZRDeviceProperty* parameter = m_device->property_ptr(name.constData());
    if (!parameter) {
        m_unknown.append(name);
        return;
    }
    if (!parameter->get_cmd_bytes().isEmpty()) {
        if (LinkStatus::answerIsDropped(parameter->get_cmd_int()))
            m_local.append(name);
        else
            addRead(name, parameter);
        return;
    }
    const QByteArray group = ParameterTree::readingGroup(m_device, name);
    if (!group.isEmpty()) {
        addRead(group, m_device->property_ptr(group.constData()));
        return;
    }
    const QList<QByteArray> members = ParameterTree::members(m_device, name);
    if (members.isEmpty()) {
        m_local.append(name);
        return;
    }
    for (const QByteArray& member : members)
        plan(member);
}

bool ParameterReader::check()
{
    bool all = true;
    for (Read& read : m_reads) {
        for (int i = 0; !read.answered && i < read.watched.size(); ++i)
            read.answered = read.watched.at(i)->value() != read.before.at(i);
        all = all && read.answered;
    }
    return all;
}

bool ParameterReader::read(const QList<QByteArray>& names, int timeoutMs)
{
    m_reads.clear();
    m_unknown.clear();
    m_local.clear();
    m_linkLost = false;
    m_cancelled = false;
    for (const QByteArray& name : names)
        plan(name);
    if (!m_unknown.isEmpty())
        return false;

    // The values are noted before anything goes out: an answer may arrive while the next read
    // is being written.
    for (Read& read : m_reads) {
        for (ZRDeviceProperty* watched : qAsConst(read.watched))
            read.before.append(watched->value());
    }
    for (const Read& read : qAsConst(m_reads))
        m_device->sendCMD(read.frame);
    if (m_reads.isEmpty())
        return true;

    QEventLoop loop;
    QTimer poll;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (check())
            loop.quit();
    });
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(m_device, &ZRDeviceInterface::message, &loop,
        [&](ZRDeviceInterface::ZRDeviceMessage kind, const QString& text) {
            if (kind == ZRDeviceInterface::DevStatus && LinkStatus::isDown(text)) {
                m_linkLost = true;
                loop.quit();
            }
        });
    poll.start(pollMs);
    deadline.start(timeoutMs);
    m_loop = &loop;
    if (!check() && !m_cancelled)
        loop.exec();
    m_loop = nullptr;
    return check() && !m_linkLost && !m_cancelled;
}

void ParameterReader::cancel()
{
    m_cancelled = true;
    if (m_loop)
        m_loop->quit();
}

QList<QByteArray> ParameterReader::unanswered() const
{
    QList<QByteArray> names;
    for (const Read& read : m_reads) {
        if (!read.answered)
            names.append(read.name);
    }
    return names;
}
