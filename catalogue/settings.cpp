#include "zrcommoninterface.h"

#include "cataloguerow.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>

namespace {

// The settings rows of the 157 board. The 437 board builds most of the same parameters, some of
// them under its own command numbers, so both builders take their rows from this one table.
struct SettingsRows {
    Q_DECLARE_TR_FUNCTIONS(ZRCommonInterface)
public:
    static QVector<CatalogueRow> board157();
};

QVector<CatalogueRow> SettingsRows::board157()
{
    using T = ZRDeviceInterface;
    const QString workModes
        = QStringList { tr("   速度优先"), tr("   平衡"), tr("   精度优先") }.join(';');
    const QJsonObject workModeEditor { { "widget", "QComboBox" }, { "option", workModes } };

    // clang-format off
    return {
        // name               label             unit      value                          get   set   len kind
        { "STATUS",          tr("状态"),       {},       0,                             0,    0,    0,  T::UnCMD },
        { "TCP_PORT",        tr("端口"),       {},       9100,                          0,    0,    0,  T::UnCMD },
        { "CONNECT_MODE",    tr("连接方式"),   {},       QString(),                     0,    0,    0,  T::UnCMD },
        { "QRCODE_COPIES",   tr("份数"),       tr("份"), 1,                             54,   54,   1,  T::CCMD },
        { "QRCODE_FILE",     tr("二维码文件"), {},       QString(),                     55,   55,   1,  T::CCMD },
        { "TASK_COPIES",     tr("份数"),       tr("份"), 1,                             1,    1,    1,  T::NUM },
        { "TASK_PLT",        tr("plt"),        {},       QString(),                     1,    1,    1,  T::PLT },
        { "TASK_STOP",       tr("停止"),       {},       2,                             125,  125,  1,  T::CMD },
        { "TASK_PAUSE",      tr("暂停"),       {},       0,                             125,  125,  1,  T::CMD },
        { "TASK_RESUME",     tr("继续"),       {},       1,                             125,  125,  1,  T::CMD },
        { "QR_PLT",          tr("QR PLT"),     {},       QString(),                     1,    1,    1,  T::QRPLT },
        { "FLAG_POINT",      tr("设原点"),     {},       1,                             87,   87,   1,  T::CMD },
        { "BACK_FLAG_POINT", tr("回原点"),     {},       1,                             93,   93,   1,  T::CMD },
        { "TASK_MODE",       tr("任务模式"),   {},       0,                             0,    0,    0,  T::UnCMD },
        { "LAST_TIME",       QString(),        {},       QDateTime::currentDateTime(),  0,    0,    0,  T::UnCMD },
        { "HEARTBEAT",       tr("心跳"),       tr("秒"), 2,                             1010, 1010, 1,  T::CCMD },
        { "FILE_PREVIEW",    tr("预览"),       {},       QByteArray(),                  0,    0,    0,  T::UnCMD },
        { "TASK_FILE_INFO",  tr("工作文件"),   {},       QJsonObject(),                 0,    0,    0,  T::UnCMD },
        { "WORK_MODE",       tr("切割质量"),   {},       0u,                            27,   27,   1,  T::CMD, workModeEditor },
        { "PU_SPEED",        tr("PU 速度"),    {},       0u,                            26,   26,   1,  T::CMD, speedEditor() },
        { "DEVICE_CLOUD",    tr("数据上传"),   {},       QJsonObject(),                 0,    0,    0,  T::UnCMD },
    };
    // clang-format on
}

} // namespace

// The order is the order replies are offered in: the first match takes a reply.
void ZRCommonInterface::init157(ZRDeviceInterface* device)
{
    hangRows(device, SettingsRows::board157());
}

void ZRCommonInterface::init437(ZRDeviceInterface* device)
{
    using T = ZRDeviceInterface;
    const QVector<CatalogueRow> shared = SettingsRows::board157();
    const auto row = [&shared](const char* name) { return rowNamed(shared, name); };

    // The task buttons and copies travel as comma commands on this board; replies numbered 27
    // never reach a parameter, so the three buttons keep 2, 0 and 1.
    // clang-format off
    hangRows(device, {
        row("STATUS"),
        { "DEVICE_STATUS", tr("电机状态"),   {}, QString(),  4, 0, 1, T::CCMD },
        row("TCP_PORT"),
        row("FILE_PREVIEW"),
        row("TASK_FILE_INFO"),
        { "GET_QRCODE",    tr("获取二维码"), {}, QVariant(), 11, 0, 1, T::CCMD },
        row("QRCODE_FILE"),
        row("TASK_COPIES").commands(         30, 30, 1, T::CCMD),
        { "TASK_PPLT",     tr("pplt"),       {}, QString(),  0, 1, 1, T::PPLT },
        row("TASK_STOP").commands(           27, 27, 1, T::CCMD),
        row("TASK_PAUSE").commands(          27, 27, 1, T::CCMD),
        row("TASK_RESUME").commands(         27, 27, 1, T::CCMD),
        row("TASK_MODE").commands(           32, 32, 1, T::CCMD),
        row("LAST_TIME"),
        row("CONNECT_MODE"),
        row("DEVICE_CLOUD"),
        row("WORK_MODE").commands(           64, 23, 1, T::CCMD),
    });
    // clang-format on
}
