// libFuzzer entry: the scan readers, aborting on the first broken promise.

#include "tests/fuzz/scancheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const QString problem =
        checkScanReaders(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "broken promise: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
