#include "zrcommoninterface.h"

// Placeholder until the remote channel lands.
void ZRCommonInterface::slot_websocket_connected() { }
void ZRCommonInterface::slot_websocket_disconnected() { }
void ZRCommonInterface::slot_websocket_error(QAbstractSocket::SocketError) { }
void ZRCommonInterface::slot_websocket_text_received(const QString&) { }
