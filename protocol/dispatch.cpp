#include "zrcommoninterface.h"

// Placeholder until reply dispatch lands.
void ZRCommonInterface::decode_cmd(QString) { }
