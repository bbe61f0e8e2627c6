// libFuzzer entry for qm::fuzz::FuzzIni.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzIni(data, size);
    return 0;
}
