#pragma once

#include <functional>

// The command line's one way to wait: it runs the event loop until done() holds, the time runs
// out (timeoutMs < 0: no limit) or Ctrl-C (SIGINT or SIGTERM) arrives. With onInterrupt the
// interrupt is handed to it (with its count, 1 for the first) and the wait goes on.
namespace Wait {

enum End { Done, TimedOut, Interrupted };

End until(const std::function<bool()>& done, int timeoutMs = -1,
    const std::function<void(int count)>& onInterrupt = {});
// Interrupts seen so far.
int interrupts();

} // namespace Wait
