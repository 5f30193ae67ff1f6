#include "cataloguerow.h"

#include "hanging.h"
#include "zrdeviceproperty.h"

#include <algorithm>
#include <cstring>

CatalogueRow CatalogueRow::commands(
    int get, int set, int len, ZRDeviceInterface::ZRDeviceCMDType type) const
{
    CatalogueRow row = *this;
    row.getCmd = get;
    row.setCmd = set;
    row.length = len;
    row.kind = type;
    return row;
}

const QJsonObject& groupBoxEditor()
{
    static const QJsonObject editor { { "widget", "QGroupBox" } };
    return editor;
}

const QJsonObject& tabsEditor()
{
    static const QJsonObject editor { { "widget", "QTabWidget" } };
    return editor;
}

const QJsonObject& speedEditor()
{
    static const QJsonObject editor { { "widget", "QSpinBox" }, { "max", 700 }, { "min", 10 } };
    return editor;
}

const CatalogueRow& rowNamed(const QVector<CatalogueRow>& rows, const char* name)
{
    const auto row = std::find_if(rows.cbegin(), rows.cend(),
        [name](const CatalogueRow& candidate) { return std::strcmp(candidate.name, name) == 0; });
    Q_ASSERT_X(row != rows.cend(), "rowNamed", name);
    return *row;
}

static ZRDeviceProperty* createBareParameter(const CatalogueRow& row)
{
    auto* parameter = new ZRDeviceProperty;
    parameter->init(
        row.value, row.label, row.unit, row.getCmd, row.setCmd, row.length, row.kind, {});
    return parameter;
}

static void setEditor(ZRDeviceProperty* parameter, const CatalogueRow& row)
{
    if (!row.editor.isEmpty())
        parameter->setProperty("WIDGET", row.editor);
}

ZRDeviceProperty* createParameter(const CatalogueRow& row)
{
    ZRDeviceProperty* parameter = createBareParameter(row);
    setEditor(parameter, row);
    return parameter;
}

void hangRows(ZRDeviceInterface* device, const QVector<CatalogueRow>& rows)
{
    if (!device)
        return;
    for (const CatalogueRow& row : rows)
        adoptParameter(device, row.name, createParameter(row));
}

void hangGroup(ZRDeviceInterface* device, const CatalogueRow& group, const QStringList& members,
    GroupEditor editor)
{
    if (!device)
        return;
    ZRDeviceProperty* parameter = createBareParameter(group);
    if (editor == GroupEditor::BeforeMembers)
        setEditor(parameter, group);
    for (const QString& member : members) {
        const QByteArray name = member.toLatin1();
        if (ZRDeviceProperty* memberParameter = parameterOf(device, name.constData()))
            hangParameter(parameter, name.constData(), memberParameter);
    }
    if (editor == GroupEditor::AfterMembers)
        setEditor(parameter, group);
    adoptParameter(device, group.name, parameter);
}

bool isCommandParameter(const QByteArray& name)
{
    static const QByteArray commands[] = { "MOVE_X", "MOVE_Y", "TASK_STOP", "TASK_PAUSE",
        "TASK_RESUME", "FLAG_POINT", "BACK_FLAG_POINT" };
    return std::find(std::begin(commands), std::end(commands), name) != std::end(commands);
}
