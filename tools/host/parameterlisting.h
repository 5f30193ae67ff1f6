#pragma once

#include "zrdeviceinterface.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// A device's parameters as a table: name, label, value, unit and, on request, the commands.
//
// Every parameter appears once. A group shows its members indented beneath it, and a member
// that its group has shown is not repeated where it would stand by itself.
class ParameterListing {
public:
    explicit ParameterListing(ZRDeviceInterface* device);

    // Values longer than this many terminal cells are cut; 0 keeps them whole.
    void setMaxValueWidth(int cells) { m_maxValueWidth = cells; }
    void setShowCommands(bool on) { m_showCommands = on; }

    // The system parameters (sysProperty()), then the user parameters (userProperty()), then
    // every other parameter in the order the device created them, each under a title.
    QString everything() const;
    // The named parameters (and their members), in the order given, without titles.
    QString named(const QList<QByteArray>& names) const;

    // The names, in the order everything() shows them, each with its depth.
    struct Entry {
        QByteArray name;
        int depth;
    };
    QList<Entry> order(const QList<QByteArray>& names, QList<QByteArray>* shown) const;

private:
    void collect(
        const QByteArray& name, int depth, QList<Entry>* entries, QList<QByteArray>* shown) const;
    QString render(const QList<QPair<QString, QList<Entry>>>& sections) const;

    ZRDeviceInterface* m_device;
    int m_maxValueWidth = 0;
    bool m_showCommands = false;
};
