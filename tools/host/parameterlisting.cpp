#include "parameterlisting.h"

#include "columntable.h"
#include "parametertext.h"
#include "parametertree.h"
#include "zrdeviceproperty.h"

namespace {

QList<QByteArray> latin1(const QStringList& names)
{
    QList<QByteArray> result;
    for (const QString& name : names)
        result.append(name.toLatin1());
    return result;
}

} // namespace

ParameterListing::ParameterListing(ZRDeviceInterface* device)
    : m_device(device)
{ }

void ParameterListing::collect(
    const QByteArray& name, int depth, QList<Entry>* entries, QList<QByteArray>* shown) const
{
    if (shown->contains(name) || !m_device->property_ptr(name.constData()))
        return;
    shown->append(name);
    entries->append({ name, depth });
    const QList<QByteArray> members = ParameterTree::members(m_device, name);
    for (const QByteArray& member : members)
        collect(member, depth + 1, entries, shown);
}

QList<ParameterListing::Entry> ParameterListing::order(
    const QList<QByteArray>& names, QList<QByteArray>* shown) const
{
    QList<Entry> entries;
    for (const QByteArray& name : names)
        collect(name, 0, &entries, shown);
    return entries;
}

QString ParameterListing::everything() const
{
    QList<QByteArray> shown;
    const QList<Entry> system = order(latin1(m_device->sysProperty()), &shown);
    const QList<Entry> user = order(latin1(m_device->userProperty()), &shown);
    // Members of groups come with their group, wherever the group stands.
    QList<QByteArray> rest;
    const QList<QByteArray> all = ParameterTree::names(m_device);
    for (const QByteArray& name : all) {
        if (!ParameterTree::isMember(m_device, name))
            rest.append(name);
    }
    const QList<Entry> others = order(rest, &shown);
    return render({ { QStringLiteral("System parameters"), system },
        { QStringLiteral("User parameters"), user },
        { QStringLiteral("Other parameters"), others } });
}

QString ParameterListing::named(const QList<QByteArray>& names) const
{
    QList<QByteArray> shown;
    return render({ { QString(), order(names, &shown) } });
}

QString ParameterListing::render(const QList<QPair<QString, QList<Entry>>>& sections) const
{
    QStringList header { QStringLiteral("NAME"), QStringLiteral("LABEL"), QStringLiteral("VALUE"),
        QStringLiteral("UNIT") };
    if (m_showCommands)
        header.append(QStringLiteral("COMMAND"));
    ColumnTable table;
    if (m_maxValueWidth > 0)
        table.setMaxWidth(2, m_maxValueWidth);
    bool first = true;
    for (const auto& section : sections) {
        if (section.second.isEmpty())
            continue;
        if (!section.first.isEmpty())
            table.addLine(QStringLiteral("%1%2:").arg(
                first ? QString() : QStringLiteral("\n"), section.first));
        // Each section repeats the column names, so that a long listing reads on its own.
        table.addRow(header);
        first = false;
        for (const Entry& entry : section.second) {
            ZRDeviceProperty* parameter = m_device->property_ptr(entry.name.constData());
            QStringList cells
                = ParameterText::cells(entry.name, parameter, entry.depth, m_showCommands);
            // A group's value is its member list, which the rows beneath it show.
            if (!ParameterTree::members(m_device, entry.name).isEmpty())
                cells[2].clear();
            table.addRow(cells);
        }
    }
    return table.render();
}
