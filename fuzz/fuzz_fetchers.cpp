// libFuzzer entry for qm::fuzz::FuzzFetchers.
#include "fuzz/FetcherTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qm::fuzz::FuzzFetchers(data, size);
    return 0;
}
