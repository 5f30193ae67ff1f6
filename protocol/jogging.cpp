#include "zrcommoninterface.h"

// Placeholder until jogging lands.
void ZRCommonInterface::move(int, int) { }
