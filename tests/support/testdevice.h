#pragma once

#include "zrcommoninterface.h"

#include <QStringList>

#include <functional>

// A device core that opens its protected members to the tests and records the frames that
// decode_buffer() hands on, instead of dispatching them.
class TestDevice : public ZRCommonInterface {
public:
    using ZRCommonInterface::cloud_device;
    using ZRCommonInterface::corvane_cloud;
    using ZRCommonInterface::decode_cmd;
    using ZRCommonInterface::device_timer;
    using ZRCommonInterface::language;
    using ZRCommonInterface::last_task_frame;
    using ZRCommonInterface::recv_buffer;
    using ZRCommonInterface::tcp_socket;
    using ZRCommonInterface::usb_operate;
    using ZRCommonInterface::web_socket;
    using ZRCommonInterface::ZRCommonInterface;

    bool recordFrames = false;
    QStringList dispatched;
    // Sees every frame, recorded or dispatched.
    std::function<void(const QString&)> onFrame;

    void decode_cmd(QString frame) override
    {
        if (recordFrames)
            dispatched.append(frame);
        else
            ZRCommonInterface::decode_cmd(frame);
        if (onFrame)
            onFrame(frame);
    }

    void receive(const QByteArray& bytes)
    {
        recv_buffer += bytes;
        decode_buffer();
    }
};
