#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class CorvaneCloud;
class ZRDeviceProperty;

// The contract between a host application and a device plugin. The host only ever programs
// against this class: it gets device objects from the plugin's factory, reads their parameters,
// tells them where the machine is, connects them, sends commands and jobs, and listens to
// message().
//
// Every parameter of a device is a ZRDeviceProperty hung on the device as a dynamic Qt property
// named after the parameter, holding the object's address as a QMetaType::VoidStar variant. The
// device owns those objects and deletes them when it is destroyed.
class ZRDeviceInterface : public QObject {
    Q_OBJECT
public:
    enum ZRDeviceStatus {
        DisConnected = 0,
        Idle = 1,
        Working = 2,
        Pause = 3,
        Warning = 4,
        Error = 5
    };
    Q_ENUM(ZRDeviceStatus)

    enum ZRDeviceMessage { DevStatus = 0, DevTasK = 1, Qrcode = 2 };
    Q_ENUM(ZRDeviceMessage)

    enum ZRDeviceCMDType { UnCMD = 0, CCMD = 1, CMD = 2, NUM = 3, PLT = 4, PPLT = 5, QRPLT = 6 };
    Q_ENUM(ZRDeviceCMDType)

    explicit ZRDeviceInterface(QObject* parent);
    ~ZRDeviceInterface() override;

    // The order of these virtuals is part of the contract: hosts built against it call through
    // the virtual table.
    virtual ZRDeviceInterface* initInstance();
    virtual void setUSBPath(QString path);
    virtual void setIPAddress(QString address);
    virtual bool connectDevice();
    virtual ZRDeviceProperty* property_ptr(const char* name);
    virtual QStringList userProperty();
    virtual QStringList sysProperty();
    virtual void sendCMD(QByteArray frame);
    virtual void setCorvaneCloud(CorvaneCloud* cloud, QString code);
    virtual void startTask();
    virtual void stopTask();
    virtual void move(int first, int second);
    virtual int icon();
    virtual void setPlt(QString file);

    // The date this library was built, as "yyyy - MM - dd".
    static QString buildDate();

signals:
    void message(ZRDeviceInterface::ZRDeviceMessage kind, QString text);
};

#define ZRDeviceInterface_iid "Quorlen.corvane.zrdeviceinterface"
Q_DECLARE_INTERFACE(ZRDeviceInterface, ZRDeviceInterface_iid)
