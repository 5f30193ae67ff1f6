#pragma once

#include "hostcommand.h"

// zrhost pause, resume and stop: act on the job a machine is running.
class TaskControlCommand : public HostCommand {
public:
    enum Action { Pause, Resume, Stop };

    explicit TaskControlCommand(Action action);

    QString name() const override;
    QString synopsis() const override { return QString(); }
    QString summary() const override;
    QString description() const override;
    int run(HostContext& context, const QCommandLineParser& parser,
        const QStringList& arguments) override;

private:
    Action m_action;
};
