#pragma once

#include "hostcommand.h"

// zrhost get NAME...: reads parameters from the machine and prints them.
class GetCommand : public HostCommand {
public:
    QString name() const override { return QStringLiteral("get"); }
    QString synopsis() const override { return QStringLiteral("NAME..."); }
    QString summary() const override;
    QString description() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
