#pragma once

#include "hostsession.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

// The options every zrhost command takes: where the machine is, how the embedded simulator
// behaves, and how much is printed.
struct HostOptions {
    static constexpr int defaultReplyTimeoutMs = 1000;
    static constexpr double defaultConnectTimeoutS = 10;

    SessionOptions session;
    int replyTimeoutMs = defaultReplyTimeoutMs;
    bool quiet = false;
    bool verbose = false;
    bool progress = true;

    static QList<QCommandLineOption> options();
    // False, with the reason in *error, when a value does not fit.
    static bool read(const QCommandLineParser& parser, HostOptions* options, QString* error);
};
