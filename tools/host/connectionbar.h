#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Where the machine is: an IP address and port, or a USB device path, and the buttons that open
// and close the link. It only collects what the person types; the panel does the connecting.
class ConnectionBar : public QWidget {
    Q_OBJECT
public:
    enum Transport { Tcp, Usb };
    Q_ENUM(Transport)

    explicit ConnectionBar(QWidget* parent = nullptr);

    Transport transport() const;
    QString address() const;
    quint16 port() const;
    QString usbPath() const;

    void setTcp(const QString& address, quint16 port);
    void setUsb(const QString& path);
    void setButtons(bool canConnect, bool canDisconnect);

signals:
    void connectRequested();
    void disconnectRequested();

private:
    QRadioButton* m_tcp;
    QRadioButton* m_usb;
    QLineEdit* m_address;
    QSpinBox* m_port;
    QLineEdit* m_usbPath;
    QPushButton* m_connect;
    QPushButton* m_disconnect;
};
