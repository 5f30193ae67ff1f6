#pragma once

#include "zrdevicehost.h"
#include "zrdeviceinterface.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QMutex>
#include <QPair>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTranslator>
#include <QVector>

#include <memory>
#include <utility>

class QTcpSocket;
class QWebSocket;
class UsbOperate;
struct ReplyFrame;
struct ZRCommonInterfacePrivate;

// The device core shared by the cutters of this family.
//
// An object of this class plays one of two roles. The plugin's own instance is a factory: it has
// no parameters, and the group builders run as its members to fill the devices it creates. A
// device, returned by initInstance(), carries the parameter catalogue and owns its link (the USB
// transport, or the TCP socket as a Qt child), its heartbeat timer and its translator. The cloud
// client is the host's; the device only keeps the pointer.
//
// Everything runs in the thread that created the device; only sendCMD() may be called from
// other threads.
class ZRCommonInterface : public ZRDeviceInterface {
    Q_OBJECT
public:
    // device/zrcommoninterface.cpp: construction and destruction, the factory, lookup by name,
    // the default user parameters and the language.
    explicit ZRCommonInterface(QObject* parent = nullptr);
    ~ZRCommonInterface() override;
    ZRDeviceInterface* initInstance() override;
    ZRDeviceProperty* property_ptr(const char* name) override;
    QStringList userProperty() override;
    // Picks the translation language from the system locale: "ja_JP", "" under zh_CN (the
    // built-in texts are Chinese), otherwise "en_US".
    void systemLanguage();

    // link/connections.cpp: the transports, their link reports and the heartbeat.
    void setUSBPath(QString path) override;
    void setIPAddress(QString address) override;
    bool connectDevice() override;
    void connect_usb(QString path);
    void connect_tcp(QString address);
    void heartbeat_switch(bool on);

    // link/frames.cpp: sending frames, and cutting received bytes into frames.
    void sendCMD(QByteArray frame) override;
    void send_cmd(QByteArray frame);
    void decode_buffer();
    // Splits one reply item such as "SET7:15" into name "SET", number 7 and value "15".
    void decode_cmd(QString item, QString& name, int& number, QString& value);

    // protocol/dispatch.cpp: receives each complete frame from the machine, STX to ETX included,
    // and hands its values to the parameter it answers.
    virtual void decode_cmd(QString frame);

    // protocol/tasks.cpp: starting and closing a job, and the machine's progress reports.
    void startTask() override;
    void stopTask() override;
    void decode_task(QString report);

    // protocol/jogging.cpp.
    void move(int first, int second) override;

    // catalogue/: the group builders. Each fills the device it is given, which need not be this
    // object. settings.cpp: init157, init437; information.cpp: info_157, info_437;
    // geometry.cpp: camera_offset_*, scale_*, work_area_*; toolstations.cpp: tool_space_157,
    // sp1_157, sp2_157; movement.cpp: move_157; feeding.cpp: feed_157.
    void init157(ZRDeviceInterface* device);
    void info_157(ZRDeviceInterface* device);
    void camera_offset_157(ZRDeviceInterface* device);
    void tool_space_157(ZRDeviceInterface* device);
    void move_157(ZRDeviceInterface* device);
    void scale_157(ZRDeviceInterface* device);
    void work_area_157(ZRDeviceInterface* device);
    void sp1_157(ZRDeviceInterface* device);
    void sp2_157(ZRDeviceInterface* device);
    void feed_157(ZRDeviceInterface* device);
    void init437(ZRDeviceInterface* device);
    void info_437(ZRDeviceInterface* device);
    void camera_offset_437(ZRDeviceInterface* device);
    void scale_437(ZRDeviceInterface* device);
    void work_area_437(ZRDeviceInterface* device);

    // cloud/registration.cpp: attaching the cloud client and registering the machine.
    void setCorvaneCloud(CorvaneCloud* cloud, QString code) override;
    void cloud_device_get(QJsonObject body);
    void cloud_device_new(QJsonObject body);
    void cloud_device_update(QJsonObject body);
    void cloud_device_model_get(QJsonObject body);

    // cloud/reporting.cpp: the runtime report and the work record.
    void cloud_device_workrecord(QJsonObject body);
    void device_task_to_cloud();
    void device_task_record_to_cloud();
    void device_info_to_cloud();

    // cloud/remote.cpp: the remote channel; its slots follow the link's.
    void connect_websocket();

public slots:
    // link/connections.cpp.
    void slot_usb_write(QByteArray data);
    void slot_usb_read(QByteArray data);
    void slot_usb_status(int s);
    void slot_tcp_socket_read();
    void slot_tcp_socket_state(QAbstractSocket::SocketState s);
    void slot_device_timer();
    // cloud/remote.cpp.
    void slot_websocket_connected();
    void slot_websocket_disconnected();
    void slot_websocket_error(QAbstractSocket::SocketError error);
    void slot_websocket_text_received(const QString& message);

protected:
    UsbOperate* usb_operate = nullptr; // link/connections.cpp
    QTcpSocket* tcp_socket = nullptr; // link/connections.cpp
    QByteArray recv_buffer; // link/frames.cpp
    QTimer device_timer; // link/connections.cpp
    CorvaneCloud* corvane_cloud = nullptr; // cloud/registration.cpp
    QWebSocket* web_socket = nullptr; // cloud/remote.cpp
    QString last_task_frame; // protocol/dispatch.cpp
    QString last_remote_text; // cloud/remote.cpp
    QMutex send_mutex; // link/frames.cpp
    QTranslator translator; // plugin/zrtx4150v.cpp
    QJsonObject cloud_device; // cloud/registration.cpp
    QString language; // device/zrcommoninterface.cpp

    // protocol/dispatch.cpp: what decode_cmd(QString) does with a frame, for a frame already
    // read by its kind.
    void dispatch_reply(const QString& frame, const ReplyFrame& reply);
    // protocol/dispatch.cpp: the parameters a reply with this command number may reach (a CMD or
    // CCMD parameter whose get or set number it is), in creation order, each beside the number.
    // walkCut tells whether a dynamic property that holds no parameter ends the walk after them.
    // The range stands until the device's dynamic properties or a parameter's numbers change.
    using ReplyIndex = QVector<QPair<int, ZRDeviceProperty*>>;
    using ReplyCandidates = std::pair<ReplyIndex::const_iterator, ReplyIndex::const_iterator>;
    ReplyCandidates reply_candidates(int number, bool* walkCut);

private:
    friend int ZRDevice::heartbeatMs(ZRDeviceInterface* device);

    // protocol/tasks.cpp: the task record a progress report or stopTask() stores.
    QJsonObject task_record_of(const QJsonObject& previous, int status, QStringView fileName,
        int taskCopies, int finished, int percent);
    // protocol/dispatch.cpp.
    ZRDeviceProperty* reply_target(int number, ZRDeviceCMDType kind);
    void build_reply_index();
    // link/frames.cpp.
    void dispatch_frame(const char* bytes, int size);
    void transmit(const QByteArray& frame);
    void send_pending();
    void drop_pending();

    // Everything else the device keeps (device/zrcommoninterface_p.h).
    std::unique_ptr<ZRCommonInterfacePrivate> d;
};
