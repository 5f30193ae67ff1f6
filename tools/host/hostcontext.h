#pragma once

#include "console.h"
#include "hostoptions.h"
#include "hostsession.h"
#include "interruptwatcher.h"

// What a zrhost command runs with: its options, the console, the session with the plugin, the
// device and the machine, and Ctrl-C.
class HostContext {
public:
    explicit HostContext(const HostOptions& options);

    const HostOptions& options() const { return m_options; }
    Console& console() { return m_console; }
    HostSession& session() { return m_session; }
    ZRDeviceInterface* device() const { return m_session.device(); }
    InterruptWatcher& interrupts() { return m_interrupts; }

    // Loads the plugin and builds the device, and says why not. ExitOk or the exit code.
    int open();
    // open(), then connects to the machine and waits for the link. ExitOk or the exit code.
    int connectMachine();
    // Attaches the cloud service the options name, if any: reads the machine information,
    // registers the device and opens its remote channel. What fails with the service is told
    // and does not stop the command: ExitOk, or ExitInterrupted, ExitLinkLost.
    int attachCloud();
    // connectMachine(), then attachCloud().
    int connect();
    // Reads the machine information once a session (later calls return at once). ExitOk or the
    // exit code.
    int readMachineInfo();
    // What this session has read already and need not read again (the machine information).
    QList<QByteArray> alreadyRead() const;
    bool isEmbedded() const;
    // Whether the command got as far as attaching the cloud service the options name.
    bool cloudTried() const { return m_cloudTried; }

private:
    HostOptions m_options;
    Console m_console;
    HostSession m_session;
    InterruptWatcher m_interrupts;
    bool m_machineInfoRead = false;
    bool m_cloudTried = false;
};
