#include "zrcommoninterface.h"

// Placeholder until cloud registration lands.
void ZRCommonInterface::setCorvaneCloud(CorvaneCloud*, QString) { }
