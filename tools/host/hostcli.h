#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class HostCommand;

// zrhost's command line: finds the command, parses the common options and the command's own,
// prints help, and runs the command.
class HostCli {
public:
    HostCli();
    ~HostCli();

    // arguments as QCoreApplication::arguments() gives them; returns the exit code.
    int run(const QStringList& arguments);

    QString helpText() const;
    QString helpText(const HostCommand& command) const;

private:
    HostCommand* command(const QString& name) const;

    std::vector<std::unique_ptr<HostCommand>> m_commands;
};
