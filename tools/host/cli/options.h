#pragma once

#include "cloud.h"
#include "cutfile.h"
#include "place.h"
#include "session.h"

#include <QCommandLineParser>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

struct Context;

// One command-line option: a flag, a text or a number within limits.
struct Option {
    QString name; // "copies"
    QString value; // the value's name in the help ("n"); empty for a flag
    QString help;
    double min = 0; // a number when min < max
    double max = 0;
    QChar letter {}; // a short form, such as 'q'
};

// The options of one command line, parsed against the options the command takes. Numbers are
// checked against their limits here, with one error text for all.
struct Arguments {
    QHash<QString, QString> values; // the options given, by name
    QStringList positional;

    bool isSet(const QString& name) const { return values.contains(name); }
    QString text(const QString& name) const { return values.value(name); }
    double number(const QString& name, double fallback) const
    {
        return isSet(name) ? values.value(name).toDouble() : fallback;
    }

    bool parse(const QStringList& arguments, const QList<Option>& allowed, QString* error)
    {
        QCommandLineParser parser;
        for (const Option& option : allowed) {
            const QStringList names = option.letter.isNull()
                ? QStringList { option.name }
                : QStringList { option.letter, option.name };
            parser.addOption(QCommandLineOption(names, option.help, option.value));
        }
        if (!parser.parse(QStringList { QStringLiteral("zrhost") } + arguments)) {
            const QString unknown = parser.unknownOptionNames().value(0);
            *error = unknown.isEmpty() ? parser.errorText()
                                       : QStringLiteral("there is no option %1%2")
                                             .arg(unknown.size() == 1 ? "-" : "--", unknown);
            return false;
        }
        positional = parser.positionalArguments();
        for (const Option& option : allowed) {
            if (!parser.isSet(option.name))
                continue;
            const QString value = parser.value(option.name);
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (option.min < option.max
                && (!ok || !(number >= option.min && number <= option.max))) {
                *error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                             .arg(option.name, QString::number(option.min),
                                 QString::number(option.max), ZRDevice::printable(value));
                return false;
            }
            values.insert(option.name, value);
        }
        return true;
    }
};

struct Command {
    QString name;
    QString synopsis;
    QString summary;
    QString description;
    QList<Option> options;
    int (*run)(Context&);

    // "job FILE.plt [--copies N]"
    QString call() const { return (name + QLatin1Char(' ') + synopsis).trimmed(); }
};

// The options every command takes, and those of the commands that cut a file.
QList<Option> commonOptions();
QList<Option> cutOptions();
// The shop's transforms of job and preview (transforms.cpp), and what they ask for, read into
// *shop with the copies the machine cuts of each sheet; the error text, or empty.
QList<Option> shopOptions();
QString shopArguments(const Arguments& a, int files, ShopSettings* shop, int* copies);
// The session's options: the plugin, time-outs and the cloud service; the error text, or empty.
QString sessionOptions(const Arguments& a, SessionOptions* s);
// Where the command reaches the machine, from the options and the settings file (read into
// *settings): directly with --ip or --usb, the settings' machine with --direct, the simulated
// machine with --simulator; else through the machine service of --server, ZRHOST_SERVER or the
// settings, with *server and *token. *given is false when nothing names a machine. Serving, the
// machine is the settings' unless named, and *token the settings' unless given. The error text,
// or empty.
QString placeOptions(const Arguments& a, bool serving, Settings* settings, SessionOptions* s,
    QUrl* server, QString* token, bool* given);

// Every command with its help (commands.cpp), and the help texts.
const QList<Command>& commands();
QString mainHelp();
QString commandHelp(const Command& command);
