// The change engine: everything a run of the main window does to the open
// database pair, without a display.
//
// The engine owns the attached pair, the identifier generator and the list
// of chosen system objects, and runs the four modes. What a run needs of the
// window (the log, progress and Cancel, questions and messages, the selection
// dialogs, the report of missing semantic tables) it asks of an IChangeHost,
// which the main window implements and tests implement without a display.
//
// Units of change: every changed item is one transaction on the spatial
// database (with a nested one on the semantic database where both change);
// the wrappers below use real transactions on every driver, call the
// generator's TransactionEnded after each outermost commit or rollback of the
// spatial database, and never let a failing rollback hide the error that
// caused it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "Tools/Parvane/IDGenerators.h"
#include "Tools/Parvane/SelectLayers.h"
#include "UdbProject/Udbs.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Variant.h"

class TSectorData;
class TSemTableData;

// Item indexes of the mode list.
enum TChangeMode : int {
    cmChangeGenerator = 0, // "Смена генератора базы"
    cmSystemObjects = 1,   // "Изменение идентификаторов системных объектов"
    cmSpatialObjects = 2,  // "Изменение идентификаторов пространственных объектов"
    cmGlobalIDs = 3,       // "Смена всех идентификаторов"
};

// What the window's options say when a run starts.
struct TRunOptions {
    int Mode = cmChangeGenerator;
    bool ChangeDBID = false;     // "Изменить идентификатор базы данных"
    bool OnlyCurrentIDs = false; // "Изменять идентификаторы только активного пространства идентификаторов"
};

// What the engine asks of the window.
class IChangeHost {
public:
    // One finished log entry (never a format); written only while the log
    // option is on.
    virtual void WriteLog(const std::string& entry) = 0;
    // Whether entries are written now (so a long entry need not be built).
    virtual bool LogEnabled() = 0;

    // The busy state: progress with a maximum (0: an empty bar), steps,
    // the spinner, and back to idle. Each lets pending events through.
    virtual void StartProgress(const std::string& text, std::int32_t maximum) = 0;
    virtual void StepProgress(const std::string& text, std::int32_t delta) = 0;
    virtual void TickSpinner(bool pump) = 0;
    virtual void EndProgress() = 0;

    // The backup question (Yes/No, warning icon, No the default); true for Yes.
    virtual bool AskBackup(const std::string& text) = 0;
    // An information box with an OK button; an empty caption is the
    // application title.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

    // The selection dialogs; true when closed with OK (the list then holds
    // the chosen objects).
    virtual bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) = 0;
    virtual bool SelectLayers(IUdb& db, TVelmoSysObjectList& list) = 0;

    // Shows the HTML report of missing semantic tables.
    virtual void ShowReport(const std::string& html) = 0;

protected:
    ~IChangeHost() = default;
};

// Runs fn in the busy state with text and maximum; the state ends however
// fn ends (a failure ending it is dropped: fn's error is the one passed on).
template <class Fn>
void WithProgress(IChangeHost& host, const std::string& text, std::int32_t maximum, Fn&& fn)
{
    host.StartProgress(text, maximum);
    try {
        fn();
    } catch (...) {
        try {
            host.EndProgress();
        } catch (...) {
        }
        throw;
    }
    host.EndProgress();
}

// The texts the engine shows and logs.
namespace EngineText {
inline constexpr const char* ProcessStart = "Начало процесса: %s";
inline constexpr const char* ProcessEnd = "Процесс завершен";
inline constexpr const char* DbIdChanged = "Идентификатор базы сменен на ";
inline constexpr const char* GeneratorSwitched = "Изменен текущий генератор идентификаторов на: %d  %s";
inline constexpr const char* GlobalIDsTitle = "Изменение глобальных идентификаторов";
inline constexpr const char* GeneratorChanged = "Генератор изменен";
inline constexpr const char* IDsChanged = "Идентификаторы изменены";
inline constexpr const char* BackupQuestion =
    "Перед началом операции рекомендуется создать резервную копию базы. Продолжить ?";
inline constexpr const char* SystemObjectsProgress = "Изменение идентификаторов системных объектов";
inline constexpr const char* Finished = "Операция завершена";
inline constexpr const char* Cancelled = "Операция прервана пользователем";
inline constexpr const char* ChangedCount = "Изменено: ";
inline constexpr const char* Elapsed = "Прошло времени: ";
inline constexpr const char* NotFound = "Объект не найден";
inline constexpr const char* RunUnderWay = "Идет изменение идентификаторов: дождитесь его окончания";
} // namespace EngineText

class TChangeEngine {
public:
    explicit TChangeEngine(IChangeHost& host);
    // Detaches the pair (the generator writes its counter back).
    ~TChangeEngine();
    TChangeEngine(const TChangeEngine&) = delete;
    TChangeEngine& operator=(const TChangeEngine&) = delete;

    // ---- the pair
    // Detaches the previous pair, lets the generator read the counter and
    // the identifier spaces of db, and returns the caption of VELMO_DBINFO
    // (empty without a row). On failure nothing of the new pair is kept and
    // the error passes on.
    std::string OpenDatabases(rtl::RefPtr<IUdb> db, rtl::RefPtr<IUdb> semDb);
    // The generator writes its counter back; both references are dropped.
    void CloseDatabases() noexcept;
    bool IsOpen() const noexcept { return FDb && FSemDb; }

    // ---- the run (the Change button): the whole frame of a run for the mode
    // of options, ending with the "Процесс завершен" entry whatever happens.
    // A run never starts inside another (rtl::Exception), and no pair is
    // opened or closed during one.
    void Run(const TRunOptions& options);
    bool Running() const noexcept { return running_; }
    // Cancel was confirmed: the loops stop before their next item.
    void Cancel() noexcept { FCancelled = true; }

    // ---- operations of a run
    bool ConfirmBackup();
    void ChangeDatabaseID();
    void ChangeGenerator();
    // Deletes the stored "SERVERID" preference; never fails.
    void ResetServerPrefs() noexcept;
    void ChangeGlobalIDs();
    // Mode 1: the kinds in their order (styles and reference books included).
    void ChangeSystemObjects();
    // Mode 2.
    void ChangeSpatialObjectIDs();

    // The new-identifier rule. A 0 identifier (an empty or unreadable text)
    // never gets a new one.
    BinID NewIDFor(BinID oldID, bool& changed);
    void NewIDStrFor(const std::string& oldText, bool& changed, std::string& newText);

    // rtl::Exception with message when condition is false.
    static void CheckCondition(bool condition, const std::string& message);
    // select count(*) of table; 0 for null.
    static std::int32_t RecordCount(IUdb& db, const std::string& table);

    // ---- blobs
    static std::string BlobToStr(const rtl::Variant& blob);
    static rtl::Variant StrToBlob(const std::string& bytes);
    static void LoadSectorFromBlob(TSectorData& sector, const rtl::Variant& blob);
    static void SaveSectorToBlob(TSectorData& sector, rtl::Variant& blob);
    static void LoadSemTableFromBlob(TSemTableData& table, IUdbTableDef* tableDef, const rtl::Variant& blob);
    static void SaveSemTableToBlob(TSemTableData& table, rtl::Variant& blob);

    // ---- log
    void WriteLog(const std::string& entry);
    // The pair line: "old" -> "new".
    void LogIDChange(const std::string& oldText, const std::string& newText);
    static std::string FormatIDPair(const TIDMapItem& item);
    // One entry of every pair's line joined by CR LF; nothing for an empty map.
    void LogIDMap(const TIDMapList& map);

    // ---- transactions: real ones on every driver
    void StartDbTransaction(IUdb& db);
    void CommitDbTransaction(IUdb& db);
    // Rolls back; a rollback that fails raises its own error.
    void RollbackDbTransaction(IUdb& db);
    // Rollback after an error: a failure of the rollback itself is dropped so
    // the error that caused it passes on.
    void RollbackAfterError(IUdb& db) noexcept;
    // fn inside a transaction on db: committed when it returns, rolled back
    // (and the error passed on) when it raises.
    void InDbTransaction(IUdb& db, const std::function<void()>& fn);
    // The driver name parameter holds "PARADOX" (any case).
    static bool IsParadoxDb(IUdb& db);

    // ---- results
    // "h:nn:ss" with the total hours.
    static std::string FormatElapsed(std::chrono::seconds elapsed);
    // The three lines of the result message.
    static std::string ResultText(bool cancelled, std::int32_t changedCount, std::chrono::seconds elapsed);
    void ShowResult(std::chrono::seconds elapsed);
    void ShowFinishMessage(const std::string& text);

    // ---- state
    IUdb* Db() const noexcept { return FDb.get(); }
    IUdb* SemDb() const noexcept { return FSemDb.get(); }
    TIDGenerator& IDGenerator() noexcept { return FIDGenerator; }
    std::int32_t ActiveIDGroup() const noexcept { return FActiveIDGroup; }
    std::int32_t ChangedCount() const noexcept { return FChangedCount; }
    bool BackupConfirmed() const noexcept { return FBackupConfirmed; }
    bool Cancelled() const noexcept { return FCancelled; }
    TVelmoSysObjectList& SysObjects() noexcept { return FSysObjects; }
    const std::string& Report() const noexcept { return FReport; }
    void SetReport(std::string report) { FReport = std::move(report); }
    const TRunOptions& Options() const noexcept { return FOptions; }
    IChangeHost& Host() noexcept { return host_; }

private:
    // After an outermost commit or rollback of the spatial database.
    void TransactionEnded(IUdb& db);

    IChangeHost& host_;
    rtl::RefPtr<IUdb> FDb;
    rtl::RefPtr<IUdb> FSemDb;
    TIDGenerator FIDGenerator;
    std::int32_t FActiveIDGroup = 0;
    std::int32_t FChangedCount = 0;
    bool FBackupConfirmed = false;
    TVelmoSysObjectList FSysObjects;
    std::string FReport;
    bool FCancelled = false;
    TRunOptions FOptions;
    bool running_ = false;
};
