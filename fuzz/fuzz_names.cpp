// libFuzzer entry for qm::fuzz::FuzzNames.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzNames(data, size);
    return 0;
}
