#pragma once

// Runs zrhost with its command line; returns the exit code.
int runCommandLine(int argc, char** argv);
