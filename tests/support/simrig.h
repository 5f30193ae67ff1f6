#pragma once

// The simulated machine as the tests set it up: listening on 127.0.0.1 on a free port, its
// pseudo-terminal ready to stand in for the USB port, and a plain client to connect when asked.

#include "simclient.h"
#include "simmachine.h"
#include "simptyfront.h"
#include "simtcpfront.h"

struct SimRig {
    explicit SimRig(const SimOptions& options = SimOptions())
        : sim(options)
        , tcp(&sim)
        , pty(&sim)
        , listening(tcp.listen())
    { }

    // Connects the client and waits until the machine has taken the connection.
    bool connectClient()
    {
        return listening && client.connectTo(tcp.port())
            && QTest::qWaitFor([this] { return tcp.isConnected(); }, 3000);
    }

    SimMachine sim;
    SimTcpFront tcp;
    SimPtyFront pty;
    bool listening;
    simtest::Client client;
};

// A machine that cuts fast and reports often, so that a job takes a fraction of a second.
inline SimOptions fastMachine(double speed = 20000, int reportIntervalMs = 20)
{
    SimOptions options;
    options.speedMmPerSecond = speed;
    options.reportIntervalMs = reportIntervalMs;
    return options;
}
