// libFuzzer entry for qm::fuzz::FuzzBodyText.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzBodyText(data, size);
    return 0;
}
