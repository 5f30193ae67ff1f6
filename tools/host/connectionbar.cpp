#include "connectionbar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

ConnectionBar::ConnectionBar(QWidget* parent)
    : QWidget(parent)
    , m_tcp(new QRadioButton(tr("TCP")))
    , m_usb(new QRadioButton(tr("USB")))
    , m_address(new QLineEdit)
    , m_port(new QSpinBox)
    , m_usbPath(new QLineEdit)
    , m_connect(new QPushButton(tr("Connect")))
    , m_disconnect(new QPushButton(tr("Disconnect")))
{
    auto* transports = new QButtonGroup(this);
    transports->addButton(m_tcp);
    transports->addButton(m_usb);
    m_tcp->setChecked(true);

    m_address->setObjectName(QStringLiteral("address"));
    m_address->setPlaceholderText(tr("192.168.1.100"));
    m_address->setMinimumWidth(150);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setRange(1, 65535);
    m_port->setValue(9100);
    m_usbPath->setObjectName(QStringLiteral("usbPath"));
    m_usbPath->setPlaceholderText(tr("/dev/ttyUSB0"));
    m_usbPath->setMinimumWidth(150);
    m_connect->setObjectName(QStringLiteral("connect"));
    m_connect->setDefault(true);
    m_disconnect->setObjectName(QStringLiteral("disconnect"));
    m_disconnect->setToolTip(
        tr("Close the link. The panel keeps the values it shows and takes a fresh device from "
           "the plugin."));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_tcp);
    row->addWidget(new QLabel(tr("IP address")));
    row->addWidget(m_address, 2);
    row->addWidget(new QLabel(tr("Port")));
    row->addWidget(m_port);
    row->addSpacing(24);
    row->addWidget(m_usb);
    row->addWidget(new QLabel(tr("Device")));
    row->addWidget(m_usbPath, 2);
    row->addSpacing(24);
    row->addWidget(m_connect);
    row->addWidget(m_disconnect);

    connect(m_connect, &QPushButton::clicked, this, &ConnectionBar::connectRequested);
    connect(m_disconnect, &QPushButton::clicked, this, &ConnectionBar::disconnectRequested);
    connect(m_address, &QLineEdit::returnPressed, this, &ConnectionBar::connectRequested);
    connect(m_usbPath, &QLineEdit::returnPressed, this, &ConnectionBar::connectRequested);
    // Both fields stay open; typing in one says which link is meant.
    connect(m_address, &QLineEdit::textEdited, m_tcp, [this] { m_tcp->setChecked(true); });
    connect(m_usbPath, &QLineEdit::textEdited, m_usb, [this] { m_usb->setChecked(true); });
    setButtons(true, false);
}

ConnectionBar::Transport ConnectionBar::transport() const
{
    return m_usb->isChecked() ? Usb : Tcp;
}

QString ConnectionBar::address() const
{
    return m_address->text().trimmed();
}

quint16 ConnectionBar::port() const
{
    return quint16(m_port->value());
}

QString ConnectionBar::usbPath() const
{
    return m_usbPath->text().trimmed();
}

void ConnectionBar::setTcp(const QString& address, quint16 port)
{
    m_address->setText(address);
    if (port > 0)
        m_port->setValue(port);
    m_tcp->setChecked(true);
}

void ConnectionBar::setUsb(const QString& path)
{
    m_usbPath->setText(path);
    m_usb->setChecked(true);
}

void ConnectionBar::setButtons(bool canConnect, bool canDisconnect)
{
    m_connect->setEnabled(canConnect);
    m_disconnect->setEnabled(canDisconnect);
}
