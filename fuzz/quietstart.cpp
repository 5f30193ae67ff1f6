// The libFuzzer start of the targets that need only an application: a quiet one, since Qt's
// messages would drown the fuzzer's, and no wait before a device looks itself up again, which
// would stall a run for ten seconds.

#include "fuzzsupport.h"
#include "lookupretry.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    startQuietApplication(argc, argv);
    setCloudLookupRetryDelay(0);
    return 0;
}
