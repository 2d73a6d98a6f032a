// The change engine: the frame of a run, its dispatch and modes 0 and 3.
#include "Tools/Parvane/ChangeEngine.h"

#include <vector>

#include "CoreLib/SimpleXML.h"
#include "Tools/Parvane/ChangeRoutines.h"
#include "Tools/Parvane/ItemTransactions.h"
#include "Tools/Parvane/RunContexts.h"
#include "Tools/Parvane/SpatialChanges.h"
#include "Tools/Parvane/SysObjectChanges.h"
#include "gismodel/VelmoTables.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"

namespace {

constexpr const char* kNotOpen = "База данных не открыта";
constexpr const char* kNotImplemented = "Not implemented functionality";
constexpr const char* kDontChangeGuid = "Don't change GUID";

// Sets a flag for the lifetime of the object.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
};

std::chrono::seconds SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
}

} // namespace

TChangeEngine::TChangeEngine(IChangeHost& host) : host_(host) {}

TChangeEngine::~TChangeEngine() { CloseDatabases(); }

// ---- the pair ------------------------------------------------------------------------

std::string TChangeEngine::OpenDatabases(rtl::RefPtr<IUdb> db, rtl::RefPtr<IUdb> semDb)
{
    CheckCondition(!running_, EngineText::RunUnderWay);
    CloseDatabases();
    CheckCondition(db && semDb, kNotOpen);
    try {
        FIDGenerator.Init(db.get(), 100);
        std::string caption;
        {
            const auto cursor = PrepareSelect(*db, VelmoTable::DbInfo, {}, {}, true)->Execute(nullptr, 0);
            if (cursor && !cursor->Eof()) caption = cursor->AsString(rtl::Variant("DBCAPTION"), std::string());
            if (cursor) cursor->Close();
        }
        FDb = std::move(db);
        FSemDb = std::move(semDb);
        FNewIDs.SetActiveIDGroup(FIDGenerator.IDGroup());
        FBackupConfirmed = false;
        return caption;
    } catch (...) {
        CloseDatabases();
        throw;
    }
}

void TChangeEngine::CloseDatabases() noexcept
{
    FIDGenerator.Done();
    FDb = nullptr;
    FSemDb = nullptr;
    FSysObjects.Clear();
}

// ---- the run -------------------------------------------------------------------------

void TChangeEngine::Run(const TRunOptions& options)
{
    CheckCondition(!running_, EngineText::RunUnderWay);
    CheckCondition(IsOpen(), kNotOpen);
    const TFlagScope running(running_);
    FNewIDs.StartRun(options.OnlyCurrentIDs);
    FReport.clear();
    FCancelled = false;
    TItemTransactions transactions(*FDb, *FSemDb, FIDGenerator);
    const TRunContext run{*FDb,    *FSemDb,      host_,       FLog,       transactions,
                          FNewIDs, FIDGenerator, FSysObjects, FCancelled, FReport};

    FLog.WriteLog(std::string());
    FLog.WriteLog(rtl::Format(EngineText::ProcessStart, DateTimeToXmlStr(rtl::Now()).c_str()));
    try {
        if (options.ChangeDBID) ChangeDatabaseID();
        switch (options.Mode) {
        case cmChangeGenerator:
            ChangeGenerator();
            host_.ShowMessage(EngineText::GeneratorChanged, std::string());
            break;
        case cmSystemObjects:
            if (ConfirmBackup() && host_.SelectSystemObjects(*FDb, FSysObjects)) {
                const auto start = std::chrono::steady_clock::now();
                WithProgress(host_, EngineText::SystemObjectsProgress, 0, [&] {
                    ChangeGenerator();
                    FIDGenerator.Reserve(FSysObjects.Count());
                    TSysObjectChanges(run).ChangeSystemObjects();
                });
                ShowResult(SecondsSince(start));
            }
            break;
        case cmSpatialObjects:
            if (ConfirmBackup() && host_.SelectLayers(*FDb, FSysObjects)) {
                const auto start = std::chrono::steady_clock::now();
                ChangeGenerator();
                TSpatialChanger(run).ChangeSpatialObjectIDs();
                ShowResult(SecondsSince(start));
            }
            break;
        case cmGlobalIDs:
            ChangeGlobalIDs(run);
            ShowFinishMessage(EngineText::IDsChanged);
            break;
        default:
            RTL_ASSERT(false, kNotImplemented);
        }
    } catch (...) {
        try {
            FLog.WriteLog(EngineText::ProcessEnd);
        } catch (...) {
            // The run's own error is the one to show.
        }
        throw;
    }
    FLog.WriteLog(EngineText::ProcessEnd);
}

bool TChangeEngine::ConfirmBackup()
{
    if (FBackupConfirmed) return true;
    FBackupConfirmed = host_.AskBackup(EngineText::BackupQuestion);
    return FBackupConfirmed;
}

void TChangeEngine::ChangeDatabaseID()
{
    const std::string guid = rtl::CreateGuidString();
    PrepareUpdate(*FDb, VelmoTable::DbInfo, {UdbStrParam("DBID")}, {}, true)->Execute({rtl::Variant(guid)});
    FLog.WriteLog(EngineText::DbIdChanged + TChangeLog::Quoted(guid));
}

void TChangeEngine::ChangeGenerator()
{
    std::string guid;
    FIDGenerator.SwitchIDSpace(false, guid);
    if (!guid.empty()) FLog.WriteLog(rtl::Format(EngineText::GeneratorSwitched, FIDGenerator.IDGroup(), guid.c_str()));
    ResetServerPrefs();
}

void TChangeEngine::ResetServerPrefs() noexcept
{
    try {
        PrepareDelete(
            *FDb, VelmoTable::Prefs,
            {UdbStrParam("USERID"), UdbStrParam("PROJECTID"), UdbStrParam("OBJECTID"), UdbStrParam("KEYNAME")}, true)
            ->Execute({rtl::Variant("NOID"), rtl::Variant("NOID"), rtl::Variant("NOID"), rtl::Variant("SERVERID")});
    } catch (...) {
        // The stored preference is only a cache of the server's name.
    }
}

void TChangeEngine::ChangeGlobalIDs(const TRunContext& run)
{
    FLog.WriteLog(EngineText::GlobalIDsTitle);

    // Each space is updated by its group, so a missing or repeated GUID text
    // cannot stop the mode or change two spaces at once.
    struct TSpace {
        std::int32_t LocalID;
        std::string OldGuid;
        std::string NewGuid;
    };
    std::vector<TSpace> spaces;
    {
        const auto cursor = SelectAll(*FDb, VelmoTable::IdMaper);
        if (cursor) {
            for (; !cursor->Eof(); cursor->Next())
                spaces.push_back({cursor->AsInteger(rtl::Variant("LOCALID"), 0),
                                  cursor->AsString(rtl::Variant("GLOBALID"), std::string()), std::string()});
            cursor->Close();
        }
    }

    run.Transactions.ChangeItem([&] {
        const auto update =
            PrepareUpdate(*FDb, VelmoTable::IdMaper, {UdbStrParam("GLOBALID")}, {UdbIntParam("LOCALID")}, true);
        for (TSpace& space : spaces) {
            space.NewGuid = rtl::CreateGuidString();
            update->Execute({rtl::Variant(space.NewGuid), rtl::Variant(space.LocalID)});
            RTL_ASSERT(update->RowsAffected() == 1, kDontChangeGuid);
        }
    });
    // Logged once they are committed: the log never names a GUID that went back.
    for (const TSpace& space : spaces) FLog.LogIDChange(space.OldGuid, space.NewGuid);
    ResetServerPrefs();
}

// ---- results -------------------------------------------------------------------------

std::string TChangeEngine::FormatElapsed(std::chrono::seconds elapsed)
{
    const long long total = elapsed.count() < 0 ? 0 : static_cast<long long>(elapsed.count());
    return rtl::Format("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
}

std::string TChangeEngine::ResultText(bool cancelled, std::int32_t changedCount, std::chrono::seconds elapsed)
{
    return std::string(cancelled ? EngineText::Cancelled : EngineText::Finished) + "\r\n" +
           EngineText::ChangedCount + std::to_string(changedCount) + "\r\n" + EngineText::Elapsed +
           FormatElapsed(elapsed);
}

void TChangeEngine::ShowResult(std::chrono::seconds elapsed)
{
    ShowFinishMessage(ResultText(FCancelled, FNewIDs.ChangedCount(), elapsed));
}

void TChangeEngine::ShowFinishMessage(const std::string& text)
{
    host_.ShowMessage(text, FCancelled ? EngineText::Cancelled : EngineText::Finished);
}
