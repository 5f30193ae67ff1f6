// zrhost: the project's host for the ZR-TX4150V device plugin.

#include "commands.h"

int main(int argc, char** argv)
{
    return runCommandLine(argc, argv);
}
