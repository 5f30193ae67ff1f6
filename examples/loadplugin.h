#pragma once

// Loads the device plugin as every example does. ZRDEVICE_PLUGIN_DIR names the folder the SDK
// installed the plugin module in: the CMake package's variable of that name, or
// "pkg-config --variable=plugindir zrdevice".

#include <zrdeviceinterface.h>

#include <QDir>
#include <QPluginLoader>

#include <iostream>

// The factory of the first plugin in the folder that declares the device interface, or null.
// It stays loaded, and owned by Qt, until the program ends; the devices it makes are the
// caller's.
inline ZRDeviceInterface* loadFactory(const QString& folder = QStringLiteral(ZRDEVICE_PLUGIN_DIR))
{
    const QDir dir(folder);
    for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
        QPluginLoader loader(dir.filePath(file));
        // The metadata names the interface without loading the library.
        if (loader.metaData().value(QStringLiteral("IID")).toString()
            != QLatin1String(ZRDeviceInterface_iid))
            continue;
        if (auto* factory = qobject_cast<ZRDeviceInterface*>(loader.instance()))
            return factory;
        std::cerr << qPrintable(loader.errorString()) << "\n";
    }
    std::cerr << "no device plugin in " << qPrintable(folder) << "\n";
    return nullptr;
}
