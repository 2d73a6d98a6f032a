// What the benchmarks of mode 2 share: the generated pair, its drivers, a
// process of its own per measurement and the run of mode 2.
//
// The pair: one layer of sectors of 100 objects, one semantic table keyed on
// ID with a row per object, an index row per object, and links between pairs
// of objects for a tenth of them.
#pragma once

#include <functional>
#include <string>

#include "tests/support/VelmoFixture.h"

namespace modebench {

inline constexpr int kObjectsPerSector = 100;
// Every 20th object is linked to the next one: a tenth of the objects are in links.
inline constexpr int kLinkEvery = 20;
inline constexpr const char* kSemTable = "SEM_DATA";

std::string LayerID();
std::string SectorID(int sector);
std::string ObjectID(int sector, int object);
// Mode 2 opens group 2 (the counter of group 1 is in use) and numbers from 1001 in sector and blob order.
std::string NewObjectID(int sector, int object);
inline bool Linked(int index) { return index % kLinkEvery == 0; }

velmotest::TVelmoDesc BenchDesc(int sectors);

// ---- drivers

enum TDriver { dSqlite = 0, dParadox = 1 };

velmotest::TUdbOpener Opener(TDriver driver);
const char* DriverName(TDriver driver);

// Generates the pair (in the system's temporary folder, in one transaction
// per database) and moves its files to folder, which is missing or empty.
void Generate(TDriver driver, int sectors, const std::string& folder);

// ---- measurements in a process of their own

// What a measuring process sends back through a pipe (plain bytes).
struct TMeasure {
    double seconds = 0;         // wall time of the timed part
    double cpuSeconds = 0;      // user + system time of the timed part
    long peakBeforeKB = 0;      // ru_maxrss when the timed part starts
    long peakAfterKB = 0;       // ... and when it ends
    long syncs = 0;             // fsync and fdatasync calls during the timed part
    long long bytesWritten = 0; // bytes handed to write calls during it (wchar of /proc/self/io)
    char error[200] = {};
};

// The timed part of a measurement: starts when made, fills m on Stop.
class TTimedPart {
public:
    explicit TTimedPart(TMeasure& m);
    void Stop();

private:
    TMeasure& m_;
    double wallStart_;
    double cpuStart_;
    long syncsStart_;
    long long writtenStart_;
};

// Runs fn in a child process and returns what it measured; an exception
// thrown there comes back as a std::runtime_error with its text.
TMeasure InChild(const std::function<void(TMeasure&)>& fn);

// fsync and fdatasync calls of this process so far (the bench executables
// count them on their way to the C library).
long SyncCalls();

// Opens the pair in folder, runs mode 2 on its layer (the timed part) and
// checks that the first object got its new identifier.
void RunMode(TDriver driver, const std::string& folder, TMeasure& m);

} // namespace modebench
