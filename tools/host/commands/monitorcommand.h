#pragma once

#include "hostcommand.h"

// zrhost monitor: prints every message of the device until Ctrl-C.
class MonitorCommand : public HostCommand {
public:
    QString name() const override { return QStringLiteral("monitor"); }
    QString synopsis() const override { return QStringLiteral("[--seconds N]"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
