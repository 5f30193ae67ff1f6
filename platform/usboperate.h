#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The USB transport: a byte pipe to the character device of the machine's USB port.
//
// usbConnect() opens the port; the transport then reports statusChanged(1) when open,
// statusChanged(2) when opening or I/O fails and statusChanged(0) when the port hangs up or is
// closed. Received bytes arrive through readData() in order, split or joined anywhere. send()
// writes one frame whole and in order.
class UsbOperate : public QObject {
    Q_OBJECT
public:
    enum ConnectionMode { Bulk = 0, Interrupt = 1, Serial = 2 };
    Q_ENUM(ConnectionMode)

    explicit UsbOperate(QObject* parent = nullptr);
    ~UsbOperate() override;

    void usbConnect(QString path, ConnectionMode mode, bool exclusive);
    void send(QString frame);

signals:
    void readData(QByteArray data);
    void writeData(QByteArray data);
    void statusChanged(int status);
};
