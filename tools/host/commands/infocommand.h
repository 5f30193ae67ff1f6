#pragma once

#include "hostcommand.h"

// zrhost info: connects and shows the machine information.
class InfoCommand : public HostCommand {
public:
    QString name() const override { return QStringLiteral("info"); }
    QString synopsis() const override { return QString(); }
    QString summary() const override;
    QString description() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;

    // Reads the machine information and prints it; used by the job as well.
    static int readAndPrint(HostContext& context);
};
