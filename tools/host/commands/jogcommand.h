#pragma once

#include "hostcommand.h"

// zrhost jog AXIS DIRECTION [--ms N]: moves the head along one axis for a moment.
class JogCommand : public HostCommand {
public:
    static constexpr int defaultMs = 500;
    static constexpr int maxMs = 10000;

    QString name() const override { return QStringLiteral("jog"); }
    QString synopsis() const override { return QStringLiteral("x|y +|- [--ms N]"); }
    QString summary() const override;
    QString description() const override;
    QList<QCommandLineOption> options() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;
};
