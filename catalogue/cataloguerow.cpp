#include "cataloguerow.h"

#include "hanging.h"
#include "zrdeviceproperty.h"

ZRDeviceProperty* createParameter(const CatalogueRow& row)
{
    auto* parameter = new ZRDeviceProperty;
    parameter->init(row.value, row.label, row.unit, row.getCmd, row.setCmd, row.length, row.kind, {});
    if (!row.editor.isEmpty())
        parameter->setProperty("WIDGET", row.editor);
    return parameter;
}

void hangRows(ZRDeviceInterface* device, std::initializer_list<CatalogueRow> rows)
{
    for (const CatalogueRow& row : rows)
        adoptParameter(device, row.name, createParameter(row));
}
