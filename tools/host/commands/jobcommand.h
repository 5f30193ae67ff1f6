#pragma once

#include "hostcommand.h"

// zrhost job FILE.plt [--copies N]: runs a cutting job with progress.
class JobCommand : public HostCommand {
public:
    static constexpr int maxCopies = 9999;

    QString name() const override { return QStringLiteral("job"); }
    QString synopsis() const override { return QStringLiteral("FILE.plt [--copies N]"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
