#include "zrcommoninterface.h"

// Placeholder until the machine link lands: no transport is opened yet.

void ZRCommonInterface::setUSBPath(QString) { }
void ZRCommonInterface::setIPAddress(QString) { }
bool ZRCommonInterface::connectDevice() { return false; }
void ZRCommonInterface::slot_usb_write(QByteArray) { }
void ZRCommonInterface::slot_usb_read(QByteArray) { }
void ZRCommonInterface::slot_usb_status(int) { }
void ZRCommonInterface::slot_tcp_socket_read() { }
void ZRCommonInterface::slot_tcp_socket_state(QAbstractSocket::SocketState) { }
void ZRCommonInterface::slot_device_timer() { }
