#pragma once

#include "session.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// One command-line option: a flag, a text or a number within limits.
struct Option {
    QString name; // "copies"
    QString value; // the value's name in the help ("n"); empty for a flag
    QString help;
    double min = 0; // a number when min < max
    double max = 0;
    QChar letter {}; // a short form, such as 'q'

    bool isNumber() const { return min < max; }
};

// The options of one command line, parsed against the options the command takes. Numbers are
// checked against their limits here, with one error text for all.
class Arguments {
public:
    bool parse(const QStringList& arguments, const QList<Option>& allowed, QString* error);

    bool isSet(const QString& name) const { return m_values.contains(name); }
    QString text(const QString& name) const { return m_values.value(name); }
    double number(const QString& name, double fallback) const;
    QStringList positional;

private:
    QHash<QString, QString> m_values;
};

// The options as the help shows them, one to a line.
QString optionLines(const QList<Option>& options);

// The options every command takes: where the machine is, its time-outs, the output, the cloud.
QList<Option> commonOptions();
// The session those options describe. False with the reason in *error.
bool sessionOptions(const Arguments& arguments, SessionOptions* options, QString* error);
