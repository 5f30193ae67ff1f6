#include "usboperate.h"

// Placeholder until the USB transport lands: every open fails.
UsbOperate::UsbOperate(QObject* parent) : QObject(parent) { }
UsbOperate::~UsbOperate() = default;
void UsbOperate::usbConnect(QString, ConnectionMode, bool) { emit statusChanged(2); }
void UsbOperate::send(QString) { }
