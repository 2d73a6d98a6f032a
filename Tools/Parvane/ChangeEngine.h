// The change engine: everything a run of the main window does to the open
// database pair, without a display.
//
// The engine owns the attached pair, the identifier generator and the list
// of chosen system objects, and keeps the frame of a run: what is reset,
// logged and asked before the mode, the dispatch to the mode and what is
// shown after it. Modes 0 and 3 are its own; modes 1 and 2 are
// TSysObjectChanges and TSpatialChanger, which receive the run's
// collaborators in a TRunContext: the log (TChangeLog), the units of change
// (TItemTransactions) and the new-identifier rule (TNewIDRule). What a run
// needs of the window it asks of an IChangeHost.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "Tools/Parvane/ChangeHosts.h"
#include "Tools/Parvane/ChangeLogs.h"
#include "Tools/Parvane/IDGenerators.h"
#include "Tools/Parvane/NewIDRules.h"
#include "Tools/Parvane/SelectLayers.h"
#include "UdbProject/Udbs.h"
#include "platform/rtl/RefCounted.h"

struct TRunContext;

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

    // ---- results
    // "h:nn:ss" with the total hours.
    static std::string FormatElapsed(std::chrono::seconds elapsed);
    // The three lines of the result message.
    static std::string ResultText(bool cancelled, std::int32_t changedCount, std::chrono::seconds elapsed);

    // ---- state
    IUdb* Db() const noexcept { return FDb.get(); }
    IUdb* SemDb() const noexcept { return FSemDb.get(); }
    TIDGenerator& IDGenerator() noexcept { return FIDGenerator; }
    // The new-identifier rule of the runs on this pair.
    TNewIDRule& NewIDs() noexcept { return FNewIDs; }
    std::int32_t ActiveIDGroup() const noexcept { return FNewIDs.ActiveIDGroup(); }
    std::int32_t ChangedCount() const noexcept { return FNewIDs.ChangedCount(); }
    bool Cancelled() const noexcept { return FCancelled; }
    const TVelmoSysObjectList& SysObjects() const noexcept { return FSysObjects; }
    const std::string& Report() const noexcept { return FReport; }
    IChangeHost& Host() const noexcept { return host_; }

private:
    // ---- operations of a run
    bool ConfirmBackup();
    void ChangeDatabaseID();
    void ChangeGenerator();
    // Deletes the stored "SERVERID" preference; never fails.
    void ResetServerPrefs() noexcept;
    void ChangeGlobalIDs(const TRunContext& run);
    void ShowResult(std::chrono::seconds elapsed);
    void ShowFinishMessage(const std::string& text);

    IChangeHost& host_;
    rtl::RefPtr<IUdb> FDb;
    rtl::RefPtr<IUdb> FSemDb;
    TIDGenerator FIDGenerator;
    TNewIDRule FNewIDs{FIDGenerator};
    TChangeLog FLog{host_};
    bool FBackupConfirmed = false;
    TVelmoSysObjectList FSysObjects;
    std::string FReport;
    bool FCancelled = false;
    bool running_ = false;
};
