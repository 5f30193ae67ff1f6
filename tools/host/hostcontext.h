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
    int connect();
    bool isEmbedded() const;

private:
    HostOptions m_options;
    Console m_console;
    HostSession m_session;
    InterruptWatcher m_interrupts;
};
