// libFuzzer target: the receive path from bytes on the line to the live
// image and the pages (see tests/support/receiveharness.h for the input).
#include "support/receiveharness.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    ReceiveHarness::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    ReceiveHarness::runOne(data, size);
    return 0;
}
