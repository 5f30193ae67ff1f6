#include "zrdeviceinterface.h"

#include "compilerdate.h"
#include "hanging.h"
#include "zrdeviceproperty.h"

#include <QDate>
#include <QLocale>

QString formatCompilerDate(const QString& text)
{
    const QLocale english(QLocale::English, QLocale::AnyCountry);
    const QString pattern = QStringLiteral("yyyy - MM - dd");
    QString date = english.toDate(text, QStringLiteral("MMM dd yyyy")).toString(pattern);
    if (date.isEmpty())
        date = english.toDate(text, QStringLiteral("MMM  d yyyy")).toString(pattern);
    return date;
}

namespace {

// The base versions keep the path or address as the parameter's label and the transport's name
// as its value. A later call updates the same parameter, so a pointer the host holds stays valid.
void hangAddressAsLabel(
    ZRDeviceInterface* device, const char* name, const QString& transport, const QString& address)
{
    ZRDeviceProperty* parameter = parameterOf(device, name);
    if (!parameter) {
        parameter = new ZRDeviceProperty;
        adoptParameter(device, name, parameter);
    }
    parameter->init(transport, address, QString(), 0, 0, 0, ZRDeviceInterface::UnCMD, {});
}

} // namespace

// The enumerations are known to the meta-type system by their qualified names from the moment the
// library is loaded, so that queued connections and conversions of "STATUS" work.
static void registerMetaTypes()
{
    qRegisterMetaType<ZRDeviceInterface::ZRDeviceStatus>();
    qRegisterMetaType<ZRDeviceInterface::ZRDeviceMessage>();
    qRegisterMetaType<ZRDeviceInterface::ZRDeviceCMDType>();
}
Q_CONSTRUCTOR_FUNCTION(registerMetaTypes)

ZRDeviceInterface::ZRDeviceInterface(QObject* parent)
    : QObject(parent)
{ }

ZRDeviceInterface::~ZRDeviceInterface()
{
    releaseParameters(this);
}

ZRDeviceInterface* ZRDeviceInterface::initInstance()
{
    return nullptr;
}

void ZRDeviceInterface::setUSBPath(QString path)
{
    hangAddressAsLabel(this, "USB", tr("USB"), path);
}

void ZRDeviceInterface::setIPAddress(QString address)
{
    hangAddressAsLabel(this, "TCP", tr("TCP"), address);
}

bool ZRDeviceInterface::connectDevice()
{
    return false;
}

ZRDeviceProperty* ZRDeviceInterface::property_ptr(const char*)
{
    return nullptr;
}

QStringList ZRDeviceInterface::userProperty()
{
    return {};
}

QStringList ZRDeviceInterface::sysProperty()
{
    return {};
}

void ZRDeviceInterface::sendCMD(QByteArray) { }

void ZRDeviceInterface::setCorvaneCloud(CorvaneCloud*, QString) { }

void ZRDeviceInterface::startTask() { }

void ZRDeviceInterface::stopTask() { }

void ZRDeviceInterface::move(int, int) { }

int ZRDeviceInterface::icon()
{
    return 0;
}

void ZRDeviceInterface::setPlt(QString file)
{
    ZRDeviceProperty* plt = property_ptr("TASK_PPLT");
    if (!plt)
        plt = property_ptr("TASK_PLT");
    if (plt)
        plt->setValue(file);
}

QString ZRDeviceInterface::buildDate()
{
    return formatCompilerDate(QStringLiteral(__DATE__));
}
