#pragma once

#include "zrdeviceinterface.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTranslator>

class QTcpSocket;
class QWebSocket;
class UsbOperate;

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
    explicit ZRCommonInterface(QObject* parent = nullptr);
    ~ZRCommonInterface() override;

    ZRDeviceInterface* initInstance() override;
    void setUSBPath(QString path) override;
    void setIPAddress(QString address) override;
    bool connectDevice() override;
    ZRDeviceProperty* property_ptr(const char* name) override;
    QStringList userProperty() override;
    void sendCMD(QByteArray frame) override;
    void setCorvaneCloud(CorvaneCloud* cloud, QString code) override;
    void startTask() override;
    void stopTask() override;
    void move(int first, int second) override;

    // Receives each complete frame from the machine, STX to ETX included.
    virtual void decode_cmd(QString frame);

    // Link: transports, heartbeat, frames.
    void connect_usb(QString path);
    void connect_tcp(QString address);
    void heartbeat_switch(bool on);
    void send_cmd(QByteArray frame);
    void decode_buffer();
    // Splits one reply item such as "SET7:15" into name "SET", number 7 and value "15".
    void decode_cmd(QString item, QString& name, int& number, QString& value);

    // Tasks.
    void decode_task(QString report);

    // Catalogue builders. Each fills the device it is given, which need not be this object.
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

    // Cloud and remote channel.
    void cloud_device_get(QJsonObject body);
    void cloud_device_new(QJsonObject body);
    void cloud_device_update(QJsonObject body);
    void cloud_device_model_get(QJsonObject body);
    void cloud_device_workrecord(QJsonObject body);
    void device_task_to_cloud();
    void device_task_record_to_cloud();
    void device_info_to_cloud();
    void connect_websocket();

    // Picks the translation language from the system locale: "ja_JP", "" under zh_CN (the
    // built-in texts are Chinese), otherwise "en_US".
    void systemLanguage();

public slots:
    void slot_usb_write(QByteArray data);
    void slot_usb_read(QByteArray data);
    void slot_usb_status(int s);
    void slot_tcp_socket_read();
    void slot_tcp_socket_state(QAbstractSocket::SocketState s);
    void slot_device_timer();
    void slot_websocket_connected();
    void slot_websocket_disconnected();
    void slot_websocket_error(QAbstractSocket::SocketError error);
    void slot_websocket_text_received(const QString& message);

protected:
    UsbOperate* usb_operate = nullptr;
    QTcpSocket* tcp_socket = nullptr;
    QByteArray recv_buffer;
    QTimer device_timer;
    CorvaneCloud* corvane_cloud = nullptr;
    QWebSocket* web_socket = nullptr;
    QString last_task_frame;
    QString last_remote_text;
    QMutex send_mutex;
    QTranslator translator;
    QJsonObject cloud_device;
    QString language;

private:
    // decode_buffer() bookkeeping: bytes of recv_buffer already dispatched, and bytes already
    // known to hold no ETX, so that every received byte is looked at once.
    int recv_consumed = 0;
    int recv_scanned = 0;
};
