// libFuzzer entry: the road of a dropped file, aborting on the first broken promise.

#include "tests/fuzz/road.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.warning=false");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const QString problem = checkRoad(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "broken promise: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
