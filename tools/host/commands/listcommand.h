#pragma once

#include "hostcommand.h"

// zrhost list: the device's parameters with labels, values and units.
class ListCommand : public HostCommand {
public:
    QString name() const override { return QStringLiteral("list"); }
    QString synopsis() const override { return QStringLiteral("[--read] [--commands] [--full]"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
