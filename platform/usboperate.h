#pragma once

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>

class QSocketNotifier;

// The USB transport: a byte pipe to the character device of the machine's USB port (a CDC-ACM or
// USB-serial tty, a USB printer-class port, or any other tty or character device).
//
// usbConnect() opens the port; the transport then reports statusChanged(1) when open,
// statusChanged(2) when opening or I/O fails and statusChanged(0) when the port hangs up or is
// closed. Received bytes arrive through readData() in order, split or joined anywhere. send()
// writes one frame whole and in order; writeData() carries each frame once it has been written.
// The frame's text is its bytes decoded as UTF-8, where a byte that is not part of a valid UTF-8
// sequence stands as the lone low surrogate U+DC80 + byte; send() writes those bytes exactly.
//
// Status reports are delivered from the event loop, never from inside usbConnect() or send().
// The port is read and written from the thread the transport lives in, without blocking it;
// send() may be called from any thread.
class UsbOperate : public QObject {
    Q_OBJECT
public:
    enum ConnectionMode { Bulk = 0, Interrupt = 1, Serial = 2 };
    Q_ENUM(ConnectionMode)

    explicit UsbOperate(QObject* parent = nullptr);
    ~UsbOperate() override;

    // Opens path, closing the port first if it is open. Every mode is the same byte pipe: a tty
    // is put into raw mode, any other device is used as it is. exclusive is not used.
    void usbConnect(QString path, ConnectionMode mode, bool exclusive);
    void send(QString frame);

signals:
    void readData(QByteArray data);
    void writeData(QByteArray data);
    void statusChanged(int status);

private slots:
    void readPort();
    void writePort();

private:
    void enqueue(const QByteArray& frame);
    void closePort();
    void report(int status);

    int m_fd = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    // Frames not yet written whole; the first has m_headWritten bytes out already.
    QQueue<QByteArray> m_outgoing;
    int m_headWritten = 0;
};
