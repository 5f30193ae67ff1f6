#pragma once

#include "hostcommand.h"

// zrhost set NAME=VALUE...: writes parameters to the machine.
class SetCommand : public HostCommand {
public:
    QString name() const override { return QStringLiteral("set"); }
    QString synopsis() const override { return QStringLiteral("NAME=VALUE..."); }
    QString summary() const override;
    QString description() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
