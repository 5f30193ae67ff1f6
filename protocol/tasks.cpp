#include "zrcommoninterface.h"

// Placeholder until task control lands.
void ZRCommonInterface::startTask() { }
void ZRCommonInterface::stopTask() { }
