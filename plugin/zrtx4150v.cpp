#include "zrtx4150v.h"

#include "cataloguerow.h"
#include "zrdeviceproperty.h"

#include <QCoreApplication>
#include <QHash>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QSet>

namespace {

// The model's translation is loaded once per language for the whole process and installed while
// a model object uses it: every installed translator is searched by every tr() of the
// application, and each installation is announced to every widget.
struct SharedTranslation {
    QTranslator translator;
    QSet<const QObject*> users;
};

QRecursiveMutex& translationsLock()
{
    static QRecursiveMutex lock;
    return lock;
}

// Never destroyed: a host may delete its last device after the plugin's statics are gone.
QHash<QString, SharedTranslation*>& translations()
{
    static auto* byLanguage = new QHash<QString, SharedTranslation*>;
    return *byLanguage;
}

} // namespace

ZRTX4150V::ZRTX4150V(QObject* parent)
    : ZRCommonInterface(parent)
{
    // Without an application there is neither a folder to look in nor anywhere to install.
    if (!QCoreApplication::instance())
        return;
    QMutexLocker lock(&translationsLock());
    SharedTranslation*& shared = translations()[language];
    if (!shared) {
        shared = new SharedTranslation;
        // Beside the application first, then where the SDK installed them.
        const QString file = QStringLiteral("ZR-TX4150V_%1.qm").arg(language);
        if (!shared->translator.load(
                file, QCoreApplication::applicationDirPath() + QStringLiteral("/translations")))
            shared->translator.load(file, QStringLiteral(ZRDEVICE_TRANSLATIONS_DIR));
    }
    // The most recently made model object's translation is searched first, before any translator
    // the host installed meanwhile: it goes to the front again.
    QCoreApplication::removeTranslator(&shared->translator);
    QCoreApplication::installTranslator(&shared->translator);
    shared->users.insert(this);
}

ZRTX4150V::~ZRTX4150V()
{
    QMutexLocker lock(&translationsLock());
    QHash<QString, SharedTranslation*>& all = translations();
    for (auto it = all.begin(); it != all.end(); ++it) {
        SharedTranslation* shared = it.value();
        if (!shared->users.remove(this))
            continue;
        if (shared->users.isEmpty()) {
            // A host may delete its last device after the application is gone.
            if (QCoreApplication::instance())
                QCoreApplication::removeTranslator(&shared->translator);
            delete shared;
            all.erase(it);
        }
        return;
    }
}

ZRDeviceInterface* ZRTX4150V::initInstance()
{
    auto* device = new ZRTX4150V(nullptr);
    init157(device);
    camera_offset_157(device);
    tool_space_157(device);
    info_157(device);
    move_157(device);
    scale_157(device);
    work_area_157(device);
    sp1_157(device);
    sp2_157(device);
    if (ZRDeviceProperty* model = device->property_ptr("DEVICE_MODEL"))
        model->setValue(QStringLiteral("ZR-TX4150V"));
    // clang-format off
    hangRows(device, {
        { "DEVICE_MODEL_NAME", tr("名称"), {}, tr("主动转刀平板机"), 0, 0, 0, UnCMD, { { "widget", "QLabel" } } },
    });
    // clang-format on
    return device;
}

QStringList ZRTX4150V::userProperty()
{
    return { QStringLiteral("WORK_MODE"), QStringLiteral("PU_SPEED"), QStringLiteral("TOOL_SPACE"),
        QStringLiteral("CAMERA_OFFSET"), QStringLiteral("SP1"), QStringLiteral("SP2") };
}

QStringList ZRTX4150V::sysProperty()
{
    return { QStringLiteral("DEVICE_MODEL_NAME"), QStringLiteral("DEVICE_INFO"),
        QStringLiteral("FIRMWARE"), QStringLiteral("DEVICE_ID"), QStringLiteral("PCB_ID"),
        QStringLiteral("PCB_VERSION"), QStringLiteral("WORKAREA"), QStringLiteral("SCALE"),
        QStringLiteral("DEVICE_CONFIG_NO"), QStringLiteral("DEVICE_UNIQUE_ID") };
}

int ZRTX4150V::icon()
{
    return 0xE621;
}
