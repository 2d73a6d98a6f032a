#include "bench/support/ModeBenchSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "Tools/Parvane/ChangeEngine.h"
#include "platform/rtl/NumText.h"
#include "tests/support/PdoxOpener.h"

namespace modebench {

using namespace velmotest;
using rtl::Variant;

std::string LayerID() { return Id(1, 5); }
std::string SectorID(int sector) { return Id(1, static_cast<std::uint32_t>(10 + sector)); }
std::string ObjectID(int sector, int object)
{
    return Id(1, static_cast<std::uint32_t>(100000 + sector * kObjectsPerSector + object));
}
std::string NewObjectID(int sector, int object)
{
    return Id(2, static_cast<std::uint32_t>(1001 + sector * kObjectsPerSector + object));
}

TVelmoDesc BenchDesc(int sectors)
{
    const std::string layer = LayerID();
    TVelmoDesc desc;
    desc.Counter(1, 5000).Space(1, "{11111111-1111-1111-1111-111111111111}").Layer(layer, "", "Слой");
    std::vector<std::vector<Variant>> rows;
    for (int s = 0; s < sectors; ++s) {
        std::vector<TObjectDesc> objects;
        for (int o = 0; o < kObjectsPerSector; ++o) {
            objects.push_back({ObjectID(s, o), {Id(1, 7)}});
            rows.push_back({Variant(ObjectID(s, o)), Variant("value " + rtl::IntToStr(o))});
            if (Linked(s * kObjectsPerSector + o)) desc.Link(ObjectID(s, o), ObjectID(s, o + 1));
        }
        desc.Sector(TSectorDesc(SectorID(s), layer, std::move(objects)));
    }
    desc.SemTable(TSemTableDesc(Id(1, 6), layer, "Данные", kSemTable)
                      .Columns({{"ID", udtString, 12, true}, {"VALUE", udtString, 50, false}}, {{"", "ID", true, true}})
                      .Rows(std::move(rows)));
    return desc;
}

// ---- drivers

TUdbOpener Opener(TDriver driver) { return driver == dSqlite ? SqliteOpener() : PdoxOpener(); }
const char* DriverName(TDriver driver) { return driver == dSqlite ? "SQLite" : "Paradox"; }

void Generate(TDriver driver, int sectors, const std::string& folder)
{
    const TVelmoDbPair pair(BenchDesc(sectors), Opener(driver));
    pair.Spatial().Close();
    pair.Semantic().Close();
    // The pair's folder goes away with it: its files move unless they are on another file system.
    std::error_code moved;
    std::filesystem::rename(pair.Folder(), folder, moved);
    if (moved) std::filesystem::copy(pair.Folder(), folder, std::filesystem::copy_options::recursive);
}

// ---- measurements in a process of their own

namespace {

double WallNow() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

rusage Usage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
double CpuNow()
{
    const rusage usage = Usage();
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// The "wchar" line of /proc/self/io; 0 when it cannot be read.
long long WrittenBytes()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return 0;
}

} // namespace

TTimedPart::TTimedPart(TMeasure& m)
    : m_(m), wallStart_(WallNow()), cpuStart_(CpuNow()), syncsStart_(SyncCalls()), writtenStart_(WrittenBytes())
{
    m_.peakBeforeKB = Usage().ru_maxrss;
}

void TTimedPart::Stop()
{
    m_.seconds = WallNow() - wallStart_;
    m_.cpuSeconds = CpuNow() - cpuStart_;
    m_.syncs = SyncCalls() - syncsStart_;
    m_.bytesWritten = WrittenBytes() - writtenStart_;
    m_.peakAfterKB = Usage().ru_maxrss;
}

TMeasure InChild(const std::function<void(TMeasure&)>& fn)
{
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(fds[0]);
        TMeasure m;
        try {
            fn(m);
        } catch (const std::exception& e) {
            std::snprintf(m.error, sizeof m.error, "%s", e.what());
        }
        const ssize_t written = ::write(fds[1], &m, sizeof m);
        ::_exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
    }
    ::close(fds[1]);
    TMeasure m;
    const ssize_t got = ::read(fds[0], &m, sizeof m);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measuring process failed");
    if (m.error[0]) throw std::runtime_error(m.error);
    return m;
}

// ---- mode 2

namespace {

// A host that shows nothing and chooses the one layer.
class TQuietHost : public IChangeHost {
public:
    void WriteLog(const std::string&) override {}
    bool LogEnabled() override { return true; }
    void StartProgress(const std::string&, std::int32_t) override {}
    void StepProgress(const std::string&, std::int32_t) override {}
    void TickSpinner(bool) override {}
    void EndProgress() override {}
    bool AskBackup(const std::string&) override { return true; }
    void ShowMessage(const std::string&, const std::string&) override {}
    bool SelectSystemObjects(IUdb&, TVelmoSysObjectList&) override { return false; }
    bool SelectLayers(IUdb&, TVelmoSysObjectList& list) override
    {
        list.AddNew(LayerID(), "Слой", sokLayer);
        return true;
    }
    void ShowReport(const std::string&) override {}
};

} // namespace

void RunMode(TDriver driver, const std::string& folder, TMeasure& m)
{
    const rtl::RefPtr<IUdb> spatial = Opener(driver)(folder, "spatial");
    const rtl::RefPtr<IUdb> semantic = Opener(driver)(folder, "semantic");
    TQuietHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(spatial, semantic);
    TTimedPart timed(m);
    engine.Run({cmSpatialObjects, false, false});
    timed.Stop();
    engine.CloseDatabases();
    if (ReadSectorObjects(*spatial, SectorID(0)).front().ID != NewObjectID(0, 0))
        throw std::runtime_error("mode 2 did not renumber");
}

} // namespace modebench
