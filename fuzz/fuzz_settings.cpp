// libFuzzer entry for qm::fuzz::FuzzSettings.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzSettings(data, size);
    return 0;
}
