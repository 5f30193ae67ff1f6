#pragma once

// What zrhost returns, so that scripts can tell the failures apart.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1, // the machine refused, did not answer, or ended the job unfinished
    ExitUsage = 2, // bad command line, unknown parameter, unreadable or empty cut file
    ExitNoPlugin = 3, // no device plugin could be loaded
    ExitNoMachine = 4, // the machine could not be reached within the time-out
    ExitLinkLost = 5, // the link went down while the command ran
    ExitInterrupted = 130, // stopped with Ctrl-C (the job is stopped cleanly first)
};
