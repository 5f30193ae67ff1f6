#pragma once

#include "zrcommoninterface.h"
#include "zrdeviceproperty.h"

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

    // Starts a job whose cut file has at least size bytes, then, once startTask() returned and
    // started() ran, jogs, beats and pauses while the job streams. Returns every byte the machine
    // is to receive, in order.
    QByteArray streamJob(int size, const std::function<void()>& started)
    {
        move_157(this);
        QString file;
        for (int i = 0; file.size() < size; ++i)
            file += QStringLiteral("PD%1,%2;").arg(i).arg(i % 977);
        setPlt(file);
        ZRDeviceProperty packer;
        const QByteArray expected = property_ptr("TASK_COPIES")->set_cmd_bytes()
            + property_ptr("TASK_PLT")->set_cmd_bytes() + packer.pack("SET83:32868;", "CMD")
            + packer.pack("SET82:0;", "CMD") + property_ptr("HEARTBEAT")->get_cmd_bytes()
            + packer.pack("SET125:0;", "CMD");
        startTask();
        started();
        move(1, 0);
        slot_device_timer();
        sendCMD(property_ptr("TASK_PAUSE")->set_cmd_bytes());
        return expected;
    }
};
