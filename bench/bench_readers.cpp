// Memory of the scan readers on large files: the peak resident memory one reading adds, as a
// multiple of the file's size. Each reading runs in a child process of its own, whose peak
// (VmHWM) less its memory at the start is the figure; a reader should stay below three
// times the file's size plus 50 MB. Not a timing: one iteration each, the counters are the
// result ("peak_MB", "file_MB", "ratio", "within" 1 when under the bound).

#include "measured/readers.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 kTargetBytes = qint64(120) << 20; // below the readers' 128 MiB limit

// A line of /proc/self/status ("VmRSS", "VmHWM") in kB.
long statusKb(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0 && line[n] == ':')
            value = std::strtol(line + n + 1, nullptr, 10);
    std::fclose(f);
    return value;
}

// Writes a file of about kTargetBytes from `head`, then `block(i)` repeated, then `tail`.
QString makeFile(const QTemporaryDir& dir, const char* name, const QByteArray& head,
                 const std::function<QByteArray(int)>& block, const QByteArray& tail) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(head);
    for (int i = 0; f.size() + tail.size() < kTargetBytes - (qint64(1) << 20); ++i)
        f.write(block(i));
    f.write(tail);
    return path;
}

// The peak memory (MB) reading `path` adds, measured in a child; -1 when it failed.
double peakMb(const QString& path, bool& ok) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const long before = statusKb("VmRSS");
        const ScanReadResult r = readScanFile(path);
        const long peak = statusKb("VmHWM");
        const double result[2] = {double(peak - before) / 1024.0, r.ok ? 1.0 : 0.0};
        if (::write(fds[1], result, sizeof result) != sizeof result)
            ::_exit(1);
        if (!r.ok)
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
        ::_exit(0);
    }
    ::close(fds[1]);
    double result[2] = {-1, 0};
    const bool read = ::read(fds[0], result, sizeof result) == sizeof result;
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    ok = read && result[1] == 1.0;
    return read ? result[0] : -1;
}

void measure(benchmark::State& state, const QString& path) {
    const double fileMb = double(QFile(path).size()) / (1 << 20);
    double peak = 0;
    bool ok = false;
    for (auto _ : state)
        peak = peakMb(path, ok);
    if (!ok)
        state.SkipWithError("the file was not read");
    state.counters["file_MB"] = fileMb;
    state.counters["peak_MB"] = peak;
    state.counters["ratio"] = peak / fileMb;
    state.counters["within"] = peak <= 3 * fileMb + 50 ? 1 : 0;
    QFile::remove(path);
}

QByteArray rasHeader(int scan) {
    QByteArray h = "*RAS_HEADER_START\n*MEAS_SCAN_AXIS_X \"TwoThetaOmega\"\n"
                   "*MEAS_SCAN_UNIT_Y \"cps\"\n";
    // An instrument writes about 150 keys per scan, most of them set-up details.
    for (int k = 0; k < 150; ++k)
        h += "*HW_SETTING_" + QByteArray::number(k) + "_OF_SCAN_" + QByteArray::number(scan) +
             " \"some value " + QByteArray::number(k * 7) + "\"\n";
    return h + "*RAS_HEADER_END\n";
}

// Many scans of 2,000 points, each with a full header.
void rasManyScans(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "many.ras", "*RAS_DATA_START\n",
        [](int scan) {
            QByteArray b = rasHeader(scan) + "*RAS_INT_START\n";
            for (int i = 0; i < 2000; ++i)
                b += QByteArray::number(60 + 0.001 * i, 'f', 4) + " " +
                     QByteArray::number(1000 + (i * 37) % 5000) + ".0000 1.0000\n";
            return b + "*RAS_INT_END\n";
        },
        "*RAS_DATA_END\n");
    measure(state, path);
}

// One scan whose header never ends in distinct keys: all of it is words the reader skips.
void rasHugeHeader(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "header.ras",
        "*RAS_DATA_START\n*RAS_HEADER_START\n*MEAS_SCAN_UNIT_Y \"cps\"\n"
        "*MEAS_SCAN_AXIS_X \"Omega\"\n",
        [](int i) { return "*KEY_" + QByteArray::number(i) + " \"v\"\n"; },
        "*RAS_HEADER_END\n*RAS_INT_START\n30 1 1\n31 2 1\n*RAS_INT_END\n*RAS_DATA_END\n");
    measure(state, path);
}

void columns(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "columns.txt", "# omega cps\n",
        [](int i) {
            return QByteArray::number(30 + 1e-6 * i, 'f', 6) + "\t" +
                   QByteArray::number(100 + i % 977) + "\n";
        },
        "");
    measure(state, path);
}

void columnsUtf16(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "columns16.txt", QByteArray("\xFF\xFE", 2),
        [](int i) {
            const QByteArray ascii = QByteArray::number(30 + 1e-6 * i, 'f', 6) + "\t" +
                                     QByteArray::number(100 + i % 977) + "\n";
            QByteArray wide;
            for (const char c : ascii)
                wide.append(c).append('\0');
            return wide;
        },
        "");
    measure(state, path);
}

void x00(benchmark::State& state) {
    QTemporaryDir dir;
    // About 8 million points; NrOfData undercounts: every line is read all the same.
    const QString path = makeFile(
        dir, "large.x00",
        "HR-XRDScan\r\nFirstAngle, 30\r\nStepWidth, 0.00001\r\nNrOfData, 2\r\n"
        "ScanAxis, Omega/2Theta\r\nScanData\r\n",
        [](int i) { return QByteArray::number(100 + i % 977, 'f', 7) + "\r\n"; }, "");
    measure(state, path);
}

void xrdml(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(
        dir, "large.xrdml",
        "<?xml version=\"1.0\"?>\n<xrdMeasurements xmlns=\"http://www.xrdml.com/XRDMeasurement/"
        "1.5\"><xrdMeasurement><scan status=\"Completed\"><dataPoints><positions "
        "axis=\"2Theta\"><startPosition>60</startPosition><endPosition>70</endPosition>"
        "</positions><commonCountingTime>1</commonCountingTime><intensities>",
        [](int i) { return QByteArray::number(100 + i % 977, 'f', 8) + " "; },
        "</intensities></dataPoints></scan></xrdMeasurement></xrdMeasurements>\n");
    measure(state, path);
}

} // namespace

BENCHMARK(rasManyScans)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(rasHugeHeader)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(columns)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(columnsUtf16)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(x00)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(xrdml)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
