#pragma once

#include "hostcommand.h"

// zrhost preview FILE.plt -o OUT.png: writes the picture a job hands the device.
class PreviewCommand : public HostCommand {
public:
    static constexpr int defaultSize = 256;

    QString name() const override { return QStringLiteral("preview"); }
    QString synopsis() const override { return QStringLiteral("FILE.plt -o OUT.png [--size N]"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
