// The change engine: the frame of a run, modes 0 and 3, the new-identifier
// rule and the routines every mode shares.
#include "Tools/Parvane/ChangeEngine.h"

#include <vector>

#include "CoreLib/SimpleXML.h"
#include "gismodel/SectorData.h"
#include "gismodel/SemTableData.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"

namespace {

constexpr const char* kNotOpen = "База данных не открыта";
constexpr const char* kNotImplemented = "Not implemented functionality";
constexpr const char* kDontChangeGuid = "Don't change GUID";

constexpr const char* kDbInfo = "VELMO_DBINFO";
constexpr const char* kIdMaper = "VELMO_IDMAPER";
constexpr const char* kPrefs = "VELMO_PREFS";

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

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

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
            const auto cursor = PrepareSelect(*db, kDbInfo, {}, {}, true)->Execute(nullptr, 0);
            if (cursor && !cursor->Eof()) caption = cursor->AsString(rtl::Variant("DBCAPTION"), std::string());
            if (cursor) cursor->Close();
        }
        FDb = std::move(db);
        FSemDb = std::move(semDb);
        FActiveIDGroup = FIDGenerator.IDGroup();
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
    FOptions = options;
    FReport.clear();
    FCancelled = false;
    FChangedCount = 0;

    WriteLog(std::string());
    WriteLog(rtl::Format(EngineText::ProcessStart, DateTimeToXmlStr(rtl::Now()).c_str()));
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
                    ChangeSystemObjects();
                });
                ShowResult(SecondsSince(start));
            }
            break;
        case cmSpatialObjects:
            if (ConfirmBackup() && host_.SelectLayers(*FDb, FSysObjects)) {
                const auto start = std::chrono::steady_clock::now();
                ChangeGenerator();
                ChangeSpatialObjectIDs();
                ShowResult(SecondsSince(start));
            }
            break;
        case cmGlobalIDs:
            ChangeGlobalIDs();
            ShowFinishMessage(EngineText::IDsChanged);
            break;
        default:
            RTL_ASSERT(false, kNotImplemented);
        }
    } catch (...) {
        try {
            WriteLog(EngineText::ProcessEnd);
        } catch (...) {
            // The run's own error is the one to show.
        }
        throw;
    }
    WriteLog(EngineText::ProcessEnd);
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
    PrepareUpdate(*FDb, kDbInfo, {UdbStrParam("DBID")}, {}, true)->Execute({rtl::Variant(guid)});
    WriteLog(EngineText::DbIdChanged + Quoted(guid));
}

void TChangeEngine::ChangeGenerator()
{
    std::string guid;
    FIDGenerator.SwitchIDSpace(false, guid);
    if (!guid.empty()) WriteLog(rtl::Format(EngineText::GeneratorSwitched, FIDGenerator.IDGroup(), guid.c_str()));
    ResetServerPrefs();
}

void TChangeEngine::ResetServerPrefs() noexcept
{
    try {
        PrepareDelete(*FDb, kPrefs,
                      {UdbStrParam("USERID"), UdbStrParam("PROJECTID"), UdbStrParam("OBJECTID"), UdbStrParam("KEYNAME")},
                      true)
            ->Execute({rtl::Variant("NOID"), rtl::Variant("NOID"), rtl::Variant("NOID"), rtl::Variant("SERVERID")});
    } catch (...) {
        // The stored preference is only a cache of the server's name.
    }
}

void TChangeEngine::ChangeGlobalIDs()
{
    WriteLog(EngineText::GlobalIDsTitle);

    // Each space is updated by its group, so a missing or repeated GUID text
    // cannot stop the mode or change two spaces at once.
    struct TSpace {
        std::int32_t LocalID;
        std::string OldGuid;
        std::string NewGuid;
    };
    std::vector<TSpace> spaces;
    {
        const auto cursor = SelectAll(*FDb, kIdMaper);
        if (cursor) {
            for (; !cursor->Eof(); cursor->Next())
                spaces.push_back({cursor->AsInteger(rtl::Variant("LOCALID"), 0),
                                  cursor->AsString(rtl::Variant("GLOBALID"), std::string()), std::string()});
            cursor->Close();
        }
    }

    InDbTransaction(*FDb, [&] {
        const auto update = PrepareUpdate(*FDb, kIdMaper, {UdbStrParam("GLOBALID")}, {UdbIntParam("LOCALID")}, true);
        for (TSpace& space : spaces) {
            space.NewGuid = rtl::CreateGuidString();
            update->Execute({rtl::Variant(space.NewGuid), rtl::Variant(space.LocalID)});
            RTL_ASSERT(update->RowsAffected() == 1, kDontChangeGuid);
        }
    });
    // Logged once they are committed: the log never names a GUID that went back.
    for (const TSpace& space : spaces) LogIDChange(space.OldGuid, space.NewGuid);
    ResetServerPrefs();
}

// ---- the new-identifier rule ---------------------------------------------------------

BinID TChangeEngine::NewIDFor(BinID oldID, bool& changed)
{
    if (oldID == 0) return oldID; // no identifier, or a text that does not read as one
    if (FOptions.OnlyCurrentIDs && SplitBinID(oldID).Group != static_cast<std::uint16_t>(FActiveIDGroup))
        return oldID;
    const BinID result = FIDGenerator.NextID();
    changed = true;
    ++FChangedCount;
    return result;
}

void TChangeEngine::NewIDStrFor(const std::string& oldText, bool& changed, std::string& newText)
{
    const BinID oldID = StrToBinID(oldText);
    if (oldID == 0) {
        newText = oldText;
        return;
    }
    newText = BinIDToStr(NewIDFor(oldID, changed));
}

void TChangeEngine::CheckCondition(bool condition, const std::string& message)
{
    if (!condition) throw rtl::Exception(message);
}

std::int32_t TChangeEngine::RecordCount(IUdb& db, const std::string& table)
{
    CheckSqlName(table);
    const auto cursor = PrepareSQL(db, "select count(*) from [" + table + "]", {}, true)->Execute(nullptr, 0);
    if (!cursor) return 0;
    const std::int32_t count = cursor->Eof() ? 0 : cursor->AsInteger(rtl::Variant(0), 0);
    cursor->Close();
    return count;
}

// ---- blobs ---------------------------------------------------------------------------

std::string TChangeEngine::BlobToStr(const rtl::Variant& blob)
{
    if (blob.IsNull() || blob.IsEmpty()) return std::string();
    const rtl::ByteArray& bytes = blob.AsBytes();
    return std::string(bytes.begin(), bytes.end());
}

rtl::Variant TChangeEngine::StrToBlob(const std::string& bytes)
{
    return rtl::Variant(rtl::ByteArray(bytes.begin(), bytes.end()));
}

void TChangeEngine::LoadSectorFromBlob(TSectorData& sector, const rtl::Variant& blob)
{
    rtl::TMemoryStream stream(BlobToStr(blob));
    sector.LoadFromStream(stream);
}

void TChangeEngine::SaveSectorToBlob(TSectorData& sector, rtl::Variant& blob)
{
    rtl::TMemoryStream stream;
    sector.SaveToStream(stream);
    blob = rtl::Variant(stream.Bytes());
}

void TChangeEngine::LoadSemTableFromBlob(TSemTableData& table, IUdbTableDef* tableDef, const rtl::Variant& blob)
{
    RTL_ASSERT(tableDef != nullptr, rtl::SAssertionFailed);
    rtl::TMemoryStream stream(BlobToStr(blob));
    table.LoadStructure(*tableDef, &stream);
}

void TChangeEngine::SaveSemTableToBlob(TSemTableData& table, rtl::Variant& blob)
{
    rtl::TMemoryStream stream;
    table.SaveAdditionalData(stream);
    blob = rtl::Variant(stream.Bytes());
}

// ---- log -----------------------------------------------------------------------------

void TChangeEngine::WriteLog(const std::string& entry) { host_.WriteLog(entry); }

void TChangeEngine::LogIDChange(const std::string& oldText, const std::string& newText)
{
    WriteLog(Quoted(oldText) + " -> " + Quoted(newText));
}

std::string TChangeEngine::FormatIDPair(const TIDMapItem& item)
{
    return Quoted(BinIDToStr(item.OldID)) + " -> " + Quoted(BinIDToStr(item.NewID));
}

void TChangeEngine::LogIDMap(const TIDMapList& map)
{
    if (map.Count() == 0 || !host_.LogEnabled()) return;
    std::string entry;
    TIDMapItem item;
    for (int i = 0; i < map.Count(); ++i) {
        map.GetItem(i, item);
        if (i > 0) entry += "\r\n";
        entry += FormatIDPair(item);
    }
    WriteLog(entry);
}

// ---- transactions --------------------------------------------------------------------

void TChangeEngine::StartDbTransaction(IUdb& db) { db.StartTransaction(); }

void TChangeEngine::CommitDbTransaction(IUdb& db)
{
    db.Commit();
    TransactionEnded(db);
}

void TChangeEngine::RollbackDbTransaction(IUdb& db)
{
    try {
        db.Rollback();
    } catch (...) {
        try {
            TransactionEnded(db);
        } catch (...) {
            // The rollback's own error is the one to pass on.
        }
        throw;
    }
    TransactionEnded(db);
}

void TChangeEngine::RollbackAfterError(IUdb& db) noexcept
{
    try {
        RollbackDbTransaction(db);
    } catch (...) {
        // The error that made the rollback necessary passes on instead.
    }
}

void TChangeEngine::InDbTransaction(IUdb& db, const std::function<void()>& fn)
{
    StartDbTransaction(db);
    try {
        fn();
        db.Commit();
    } catch (...) {
        RollbackAfterError(db);
        throw;
    }
    TransactionEnded(db);
}

bool TChangeEngine::IsParadoxDb(IUdb& db)
{
    const auto params = db.GetParams();
    const std::string name = params ? params->GetStr(rtl::Variant("Udb\\DriverName"), std::string()) : std::string();
    return rtl::UpperCase(name).find("PARADOX") != std::string::npos;
}

void TChangeEngine::TransactionEnded(IUdb& db)
{
    // The generator writes again what went back with (or waited for) the
    // spatial database's transaction.
    if (&db == FDb.get() && db.IsOpen() && !db.InTransaction()) FIDGenerator.TransactionEnded();
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
    ShowFinishMessage(ResultText(FCancelled, FChangedCount, elapsed));
}

void TChangeEngine::ShowFinishMessage(const std::string& text)
{
    host_.ShowMessage(text, FCancelled ? EngineText::Cancelled : EngineText::Finished);
}
