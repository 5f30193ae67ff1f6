#include "deviceplugin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

QStringList DevicePlugin::defaultFolders()
{
    const QString programs = QCoreApplication::applicationDirPath();
    return { QDir::cleanPath(programs + QStringLiteral("/../plugins")),
        QDir::cleanPath(programs + QStringLiteral("/" ZRDEVICE_PLUGIN_DIR_FROM_BIN)) };
}

bool DevicePlugin::load(const QString& folder)
{
    const QStringList folders = folder.isEmpty() ? defaultFolders() : QStringList { folder };
    for (const QString& path : folders) {
        const QDir dir(path);
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
            if (QLibrary::isLibrary(file) && tryFile(dir.filePath(file)))
                return true;
        }
    }
    m_error = QStringLiteral("no device plugin in %1").arg(folders.join(QStringLiteral(", ")));
    return false;
}

bool DevicePlugin::tryFile(const QString& path)
{
    m_loader.setFileName(path);
    // The metadata names the interface without loading the library.
    if (m_loader.metaData().value(QStringLiteral("IID")).toString()
        != QLatin1String(ZRDeviceInterface_iid))
        return false;
    m_factory = qobject_cast<ZRDeviceInterface*>(m_loader.instance());
    if (!m_factory) {
        m_error = m_loader.errorString();
        return false;
    }
    return true;
}

std::unique_ptr<ZRDeviceInterface> DevicePlugin::createDevice() const
{
    return std::unique_ptr<ZRDeviceInterface>(m_factory ? m_factory->initInstance() : nullptr);
}
