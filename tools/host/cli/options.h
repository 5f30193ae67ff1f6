#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// One command-line option: a flag, a text or a number within limits.
struct Option {
    Option(const QString& name, const QString& value, const QString& help, double min = 0,
        double max = 0, QChar letter = QChar())
        : name(name)
        , value(value)
        , help(help)
        , min(min)
        , max(max)
        , letter(letter)
    { }

    QString name; // "copies"
    QString value; // the value's name in the help ("n"); empty for a flag
    QString help;
    double min = 0; // a number when min < max
    double max = 0;
    QChar letter; // a short form, such as 'q'

    bool isNumber() const { return min < max; }
};

// The options of one command line, parsed against the options the command takes. Numbers are
// checked against their limits here, with one error text for all.
class Arguments {
public:
    bool parse(const QStringList& arguments, const QList<Option>& allowed, QString* error);

    bool isSet(const QString& name) const { return m_values.contains(name); }
    QString text(const QString& name, const QString& fallback = QString()) const;
    double number(const QString& name, double fallback) const;
    QStringList positional;

private:
    QHash<QString, QString> m_values;
};

// The options as the help shows them, one to a line.
QString optionLines(const QList<Option>& options);
