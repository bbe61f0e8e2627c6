// libFuzzer entry for qm::fuzz::FuzzTextUtils.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzTextUtils(data, size);
    return 0;
}
