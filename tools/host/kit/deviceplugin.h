#pragma once

#include "zrdeviceinterface.h"

#include <QPluginLoader>
#include <QString>
#include <QStringList>

#include <memory>

// Loads the device plugin the way any host does: it looks through the plugin folders for a Qt
// plugin that declares the device interface, and uses its instance as the factory of devices.
class DevicePlugin {
public:
    // The folders searched when none is given: the build tree's plugins/ beside bin/, then the
    // installed plugin folder relative to the program.
    static QStringList defaultFolders();

    // Loads the first device plugin found in folder (or in the default folders when empty).
    bool load(const QString& folder = QString());
    QString fileName() const { return m_loader.fileName(); }
    QString errorString() const { return m_error; }

    // The plugin's factory object; null until load() succeeds.
    ZRDeviceInterface* factory() const { return m_factory; }
    // A new, fully built device, owned by the caller.
    std::unique_ptr<ZRDeviceInterface> createDevice() const;

private:
    bool tryFile(const QString& path);

    QPluginLoader m_loader;
    ZRDeviceInterface* m_factory = nullptr;
    QString m_error;
};
