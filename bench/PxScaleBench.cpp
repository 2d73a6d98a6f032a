// Mode 2 at scale: the same generated pair on the Paradox driver and on the
// SQLite test driver, at 10,000 and 100,000 objects (--million adds
// 1,000,000; --sizes=N,N,... gives others, each a multiple of 100).
//
// Each pair is generated once per driver in a folder on disk (under $TMPDIR,
// else beside this program, or --dir=FOLDER) and synced to the disk. Mode 2
// then runs --repeat=N times (default 3) per driver on a fresh copy of it,
// each in a process of its own, the drivers taking turns so that a slow
// spell of the machine falls on both; the table shows each driver's median
// run (by wall time) and the spread of the wall times. A run reports its wall and CPU
// time (user + system), the peak resident memory of its process
// (ru_maxrss), the fsync and fdatasync calls and the bytes handed to write
// calls (wchar of /proc/self/io) during mode 2. The table gives the
// Paradox/SQLite ratio of the wall times per size, the growth of the time
// per 10x the objects per driver, and the calls and kilobytes per sector of
// 100 objects. --cache-mb=N sets the Paradox block cache per folder.
#include <sys/vfs.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/support/ModeBenchSupport.h"
#include "platform/bde/PxCache.h"

namespace {

using namespace modebench;

constexpr long kTmpfsMagic = 0x01021994;

struct TOptions {
    std::vector<int> objects{10000, 100000};
    std::string root;
    std::size_t cacheMB = 0; // 0: the engine's default
    int repeat = 3;
};

void Usage()
{
    std::fputs("usage: PxScaleBench [--million] [--sizes=N,N,...] [--dir=FOLDER] [--cache-mb=N] [--repeat=N]\n"
               "  sizes are numbers of objects, multiples of 100 (default 10000,100000);\n"
               "  --million adds 1000000 (some minutes a run); pairs are generated under FOLDER\n"
               "  (default $TMPDIR, else the folder of this program), never on tmpfs;\n"
               "  --cache-mb sets the Paradox block cache (default: the engine's);\n"
               "  --repeat runs mode 2 N times per driver and size (default 3) and shows the median\n",
               stderr);
}

std::vector<int> ParseSizes(const std::string& text)
{
    std::vector<int> sizes;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        char* end = nullptr;
        const long n = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || n <= 0 || n % kObjectsPerSector != 0 || n > 100000000)
            throw std::invalid_argument("not a number of objects (a multiple of 100): " + item);
        sizes.push_back(static_cast<int>(n));
        from = comma + 1;
    }
    return sizes;
}

TOptions ParseOptions(int argc, char** argv)
{
    TOptions options;
    bool million = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--million")
            million = true;
        else if (arg.rfind("--sizes=", 0) == 0)
            options.objects = ParseSizes(arg.substr(8));
        else if (arg.rfind("--dir=", 0) == 0)
            options.root = arg.substr(6);
        else if (arg.rfind("--cache-mb=", 0) == 0) {
            const std::string value = arg.substr(11);
            char* end = nullptr;
            const long mb = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || mb <= 0 || mb > 65536) throw std::invalid_argument("not a cache size in MB: " + value);
            options.cacheMB = static_cast<std::size_t>(mb);
        }
        else if (arg.rfind("--repeat=", 0) == 0) {
            const std::string value = arg.substr(9);
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || n <= 0 || n > 99) throw std::invalid_argument("not a number of runs: " + value);
            options.repeat = static_cast<int>(n);
        }
        else
            throw std::invalid_argument("unknown option " + arg);
    }
    if (million) options.objects.push_back(1000000);
    std::sort(options.objects.begin(), options.objects.end());
    options.objects.erase(std::unique(options.objects.begin(), options.objects.end()), options.objects.end());
    return options;
}

std::string DefaultRoot()
{
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

bool OnTmpfs(const std::string& folder)
{
    struct statfs fs{};
    return ::statfs(folder.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic;
}

// A commit of the SQLite library in its default durable mode: the counter must see its syncs.
long SqliteCommitSyncs(const std::string& folder)
{
    const TMeasure m = InChild([&](TMeasure& m) {
        sqlite3* db = nullptr;
        const std::string file = folder + "/sync-check.sqlite";
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + file);
        sqlite3_exec(db, "CREATE TABLE T(X INTEGER)", nullptr, nullptr, nullptr);
        TTimedPart timed(m);
        const int rc = sqlite3_exec(db, "BEGIN; INSERT INTO T VALUES (1); COMMIT", nullptr, nullptr, nullptr);
        timed.Stop();
        sqlite3_close(db);
        std::filesystem::remove(file);
        if (rc != SQLITE_OK) throw std::runtime_error("the SQLite commit failed");
    });
    return m.syncs;
}

struct TRun {
    TDriver driver;
    int objects;
    TMeasure generation;
    TMeasure mode;            // the median run
    double fastest = 0;       // wall seconds of the fastest and slowest runs
    double slowest = 0;
};

// The run of median wall time (the slower middle one of an even count).
TMeasure Median(std::vector<TMeasure> runs)
{
    std::sort(runs.begin(), runs.end(), [](const TMeasure& a, const TMeasure& b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

// A copy of the pair's folder, on the disk before it is measured.
void CopyPair(const std::string& from, const std::string& to)
{
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
    ::sync();
}

const TRun* Find(const std::vector<TRun>& runs, TDriver driver, int objects)
{
    for (const TRun& r : runs)
        if (r.driver == driver && r.objects == objects) return &r;
    return nullptr;
}

// The growth of the time per 10x the objects from the run before (of the same driver).
double GrowthPer10x(const TRun& before, const TRun& after)
{
    const double decades = std::log10(static_cast<double>(after.objects) / before.objects);
    return std::pow(after.mode.seconds / before.mode.seconds, 1.0 / decades);
}

double MB(long kb) { return static_cast<double>(kb) / 1024.0; }

void PrintTable(const std::vector<TRun>& runs, const std::vector<int>& sizes)
{
    std::printf("\n%-8s %9s %9s %13s %9s %10s %11s %8s %13s %13s\n", "driver", "objects", "wall s",
                "wall range", "cpu s", "Px/SQLite", "growth/10x", "peak MB", "fsyncs/sector", "KB wr/sector");
    for (const int objects : sizes)
        for (const TDriver driver : {dSqlite, dParadox}) {
            const TRun* run = Find(runs, driver, objects);
            if (!run) continue;
            const double sectors = static_cast<double>(objects) / kObjectsPerSector;
            char ratio[32] = "";
            if (driver == dParadox)
                if (const TRun* sqlite = Find(runs, dSqlite, objects))
                    std::snprintf(ratio, sizeof ratio, "%.2f", run->mode.seconds / sqlite->mode.seconds);
            char growth[32] = "";
            const TRun* before = nullptr;
            for (const TRun& r : runs)
                if (r.driver == driver && r.objects < objects && (!before || r.objects > before->objects)) before = &r;
            if (before) std::snprintf(growth, sizeof growth, "%.2f", GrowthPer10x(*before, *run));
            char range[32];
            std::snprintf(range, sizeof range, "%.2f-%.2f", run->fastest, run->slowest);
            std::printf("%-8s %9d %9.2f %13s %9.2f %10s %11s %8.1f %13.2f %13.1f\n", DriverName(driver), objects,
                        run->mode.seconds, range, run->mode.cpuSeconds, ratio, growth, MB(run->mode.peakAfterKB),
                        static_cast<double>(run->mode.syncs) / sectors,
                        static_cast<double>(run->mode.bytesWritten) / 1024.0 / sectors);
        }
}

struct TRemoveOnExit {
    std::string folder;
    ~TRemoveOnExit()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

int Main(int argc, char** argv)
{
    const TOptions options = ParseOptions(argc, argv);
    const std::string root = options.root.empty() ? DefaultRoot() : options.root;
    if (options.cacheMB) bde::PxSetDefaultCacheBytes(options.cacheMB << 20);
    std::printf("Paradox block cache: %.0f MB per folder\n", static_cast<double>(bde::PxDefaultCacheBytes()) / (1 << 20));
    std::filesystem::create_directories(root);
    if (OnTmpfs(root)) throw std::runtime_error(root + " is on tmpfs: give a folder on disk with --dir");
    const std::string work = velmotest::MakeTempFolder("pxscale-", std::filesystem::absolute(root).string());
    const TRemoveOnExit removeWork{work};
    // The fixture makes its pairs in the temporary folder: the same disk, so that they move without a copy.
    ::setenv("TMPDIR", work.c_str(), 1);
    std::printf("Pairs are generated in %s (on disk)\n", work.c_str());

    const long commitSyncs = SqliteCommitSyncs(work);
    if (commitSyncs == 0) throw std::runtime_error("an SQLite commit was seen making no fsync: the counter misses calls");
    std::printf("Counter check: one SQLite commit made %ld fsync/fdatasync calls\n", commitSyncs);
    std::printf("A measuring process starts at %.1f MB (ru_maxrss)\n",
                MB(InChild([](TMeasure& m) { TTimedPart(m).Stop(); }).peakAfterKB));
    std::fflush(stdout);

    std::vector<TRun> runs;
    for (const int objects : options.objects) {
        const int sectors = objects / kObjectsPerSector;
        // The generated pair, copied for each run.
        const auto pristine = [&](TDriver driver) { return work + "/" + DriverName(driver) + "-" + std::to_string(objects); };
        std::vector<TRun> sized;
        for (const TDriver driver : {dSqlite, dParadox}) {
            TRun run{driver, objects, {}, {}};
            const std::string folder = pristine(driver);
            run.generation = InChild([&](TMeasure& m) {
                TTimedPart timed(m);
                Generate(driver, sectors, folder);
                timed.Stop();
            });
            std::printf("Generated %s, %d objects: %.2f s (peak %.1f MB)\n", DriverName(driver), objects,
                        run.generation.seconds, MB(run.generation.peakAfterKB));
            std::fflush(stdout);
            sized.push_back(run);
        }
        std::vector<std::vector<TMeasure>> measured(sized.size());
        for (int round = 0; round < options.repeat; ++round)
            for (std::size_t i = 0; i < sized.size(); ++i) {
                const TDriver driver = sized[i].driver;
                const std::string folder = pristine(driver) + "-run";
                // The pair's files go to the disk now, not while mode 2 syncs its own.
                CopyPair(pristine(driver), folder);
                const TMeasure m = InChild([&](TMeasure& m) { RunMode(driver, folder, m); });
                std::filesystem::remove_all(folder);
                std::printf("Mode 2 on %s, %d objects, run %d: %.2f s (cpu %.2f s)\n", DriverName(driver), objects,
                            round + 1, m.seconds, m.cpuSeconds);
                std::fflush(stdout);
                measured[i].push_back(m);
            }
        for (std::size_t i = 0; i < sized.size(); ++i) {
            TRun& run = sized[i];
            run.mode = Median(measured[i]);
            run.fastest = run.slowest = measured[i].front().seconds;
            for (const TMeasure& m : measured[i]) {
                run.fastest = std::min(run.fastest, m.seconds);
                run.slowest = std::max(run.slowest, m.seconds);
            }
            std::filesystem::remove_all(pristine(run.driver));
            runs.push_back(run);
        }
    }
    PrintTable(runs, options.objects);
    std::printf("\nGeneration (not timed above):\n");
    for (const TRun& r : runs)
        std::printf("  %-8s %9d objects: %.2f s, peak %.1f MB\n", DriverName(r.driver), r.objects,
                    r.generation.seconds, MB(r.generation.peakAfterKB));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Main(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "PxScaleBench: %s\n", e.what());
        Usage();
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "PxScaleBench: %s\n", e.what());
        return 1;
    }
}
