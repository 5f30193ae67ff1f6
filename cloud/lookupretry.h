#pragma once

// How long the cloud device lookup waits, after a request that got no response, before it asks
// again: 10000 ms. Not part of the SDK; the tests shorten it to stay fast.
int cloudLookupRetryDelay();
void setCloudLookupRetryDelay(int milliseconds);
