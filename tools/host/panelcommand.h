#pragma once

// "zrhost panel": opens the parameter panel, optionally connected to a machine or to a simulated
// machine started in-process. Runs its own QApplication and returns the exit code.
int runPanelCommand(int argc, char** argv);
