#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class HostContext;
class QCommandLineParser;

// One zrhost command. The dispatcher parses the command line with the common options and the
// command's own, and hands over the arguments that follow the command's name.
class HostCommand {
public:
    virtual ~HostCommand() = default;

    virtual QString name() const = 0;
    // The arguments as the usage line shows them, such as "FILE.plt [--copies N]".
    virtual QString synopsis() const = 0;
    // One line for the list of commands.
    virtual QString summary() const = 0;
    // What the command's --help says about it.
    virtual QString description() const = 0;
    virtual QList<QCommandLineOption> options() const { return {}; }

    // Returns the exit code (exitcode.h).
    virtual int run(
        HostContext& context, const QCommandLineParser& parser, const QStringList& arguments)
        = 0;
};
