#pragma once

#include "zrcommoninterface.h"

#include <QString>
#include <QStringList>

// The ZR-TX4150V rotary-knife flatbed cutter, and the plugin's exported class.
//
// The plugin's own instance is an empty factory: each initInstance() builds a new device with the
// model's catalogue, which the caller owns. The model's translation for the system language,
// from the "translations" folder beside the application, is loaded once and installed for as long
// as any object of the class lives; the objects share it.
class ZRTX4150V : public ZRCommonInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ZRDeviceInterface_iid)
    Q_INTERFACES(ZRDeviceInterface)
public:
    explicit ZRTX4150V(QObject* parent = nullptr);
    ~ZRTX4150V() override;

    ZRDeviceInterface* initInstance() override;
    QStringList userProperty() override;
    QStringList sysProperty() override;
    int icon() override;

    // Applies short two-field comma replies (a value read, or a write's status) before the
    // common dispatch.
    void decode_cmd(QString frame) override;
    using ZRCommonInterface::decode_cmd;
};
