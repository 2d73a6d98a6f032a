// A folder of Paradox tables: the engine's entry point.
//
// The folder object lists, creates, drops and renames tables, hands out the
// table objects (one per table, shared) and owns the undo journal that makes
// every change atomic. Outside a transaction each change of a table is a unit
// of its own; StartTransaction() opens one unit that spans every change of
// every table of the folder until Commit() (the journal is removed) or
// Rollback() (the before-images are written back). A change that fails on
// disk inside a transaction rolls the whole transaction back at once; the
// transaction then stays open, refuses further changes and Commit(), and
// ends with Rollback().
//
// Table files are found whatever the case of their names (".db", ".DB",
// ".Db", ...); files whose names are not text are no table's. Opening the
// folder first rolls back a journal that a process left behind when it
// stopped in the middle of a change; a journal that cannot be trusted
// (damaged, cut, crafted) is kept and the folder does not open
// (EPxJournalDamaged), since its tables may be half changed.
//
// Blocks of the tables' files are read through one block cache of a fixed
// size (PxOpenOptions::cacheBytes); changes stay in it until their unit of
// work is committed, or are written out earlier, after their undo images are
// durable, when they outgrow it. A commit syncs the journal, then only the
// files it changed, then removes the journal.
//
// The transaction of one folder can be joined to that of another folder
// (JoinTransaction): the two then commit as one, through a super-journal
// (PxJournal.h), and roll back as one.
//
// One folder object per folder and process: the tables' structure and
// changes are kept in memory, so nothing else may change the folder's tables
// while it is open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/PxCache.h"
#include "platform/bde/PxJournal.h"
#include "platform/bde/PxTable.h"

namespace bde {

struct PxOpenOptions {
    PxFileSystem* fileSystem = nullptr; // nullptr: the real one
    int defaultCodePage = 1251;         // for tables whose header names none
    std::vector<std::string> passwords; // for encrypted tables
    std::size_t cacheBytes = 0;         // the block cache; 0: PxDefaultCacheBytes()
};

// The files of one table, by kind (names as found in the folder; "" when absent).
struct PxFamily {
    std::string db, px, mb, val;
    std::vector<std::pair<std::string, std::string>> secondaries; // .X file, matching .Y file ("" if none)
    std::vector<std::string> all; // every file of the table's name with a Paradox extension
};

class PxDatabase {
public:
    // EPxError when the folder does not exist, EPxJournalDamaged when the
    // journal it holds cannot be trusted.
    explicit PxDatabase(std::string folder, PxOpenOptions options = {});
    ~PxDatabase();
    PxDatabase(const PxDatabase&) = delete;
    PxDatabase& operator=(const PxDatabase&) = delete;

    const std::string& Folder() const noexcept { return folder_; }
    int DefaultCodePage() const noexcept { return options_.defaultCodePage; }
    const std::vector<std::string>& Passwords() const noexcept { return options_.passwords; }
    // Adds passwords tried on encrypted tables opened from now on.
    void AddPasswords(const std::vector<std::string>& passwords);

    // Names of the tables (the .DB files, without extension), sorted.
    std::vector<std::string> TableNames();
    bool TableExists(const std::string& name);
    PxFamily Family(const std::string& name);

    // The table object of an existing table (EPxError when there is none).
    rtl::RefPtr<PxTable> OpenTable(const std::string& name);
    // Creates the table's files; EPxError for a definition outside the limits
    // of the format (the message names the field and the limit) or when a
    // table of that name exists.
    rtl::RefPtr<PxTable> CreateTable(const std::string& name, const PxTableSpec& spec,
                                     const PxCreateOptions& options = {});
    void DropTable(const std::string& name);
    void RenameTable(const std::string& from, const std::string& to);

    void StartTransaction();
    void Commit();
    void Rollback();
    bool InTransaction() const noexcept { return inTransaction_; }

    // Starts a transaction on this folder as part of the one open on `outer`
    // (another folder): outer's Commit() then commits both at once, and a
    // Rollback() of either, a change of either failing on disk or either
    // going away rolls back both. This folder's own Commit() is refused while
    // it is part of outer's. EPxError when outer is not in a transaction of
    // its own, is this folder, or this folder is in a transaction.
    void JoinTransaction(PxDatabase& outer);
    // This folder's transaction is part of another folder's.
    bool Joined() const noexcept { return outer_ != nullptr; }
    // Called when this folder's transaction was rolled back, or doomed by a
    // failure, through another folder of its group.
    void SetOnEndedElsewhere(std::function<void()> handler) { onEndedElsewhere_ = std::move(handler); }

    // Checks a definition against the limits of the format without creating
    // anything (the same errors CreateTable raises).
    static void CheckSpec(const std::string& name, const PxTableSpec& spec, const PxCreateOptions& options,
                          int defaultCodePage);

private:
    friend class PxTable;

    // One file's part of a change.
    using Pending = PxPendingChanges;

    PxFileSystem& Fs() noexcept { return *fs_; }
    std::string PathOf(const std::string& name) const { return PxJoinPath(folder_, name); }
    std::unique_ptr<PxFile> OpenFile(const std::string& name);
    // Creates a file as part of the open change (journaled first).
    std::unique_ptr<PxFile> CreateFile(const std::string& name);
    void BeginChange();
    void Apply(std::vector<Pending>& files);
    // The two halves of writing changes: their undo images, then the bytes.
    void Protect(const std::vector<Pending>& files);
    static void Write(const std::vector<Pending>& files);
    // Writes every change held in memory out to the files, journal first
    // (they are not synced yet).
    void WriteOut();
    // Syncs the files the folders' tables wrote.
    static void SyncTables(const std::vector<PxDatabase*>& folders);
    void EndChange();
    // A change failed on disk: every folder of the transaction (its group,
    // or this one alone) is rolled back and its transaction doomed; the
    // super-journal of a group commit, when given, goes once all are.
    void FailChange(const std::string& super = std::string()) noexcept;
    void MarkAllStale() noexcept;
    void RemoveTrash() noexcept;
    // Commits the journal, then removes what the change put in the trash; when
    // the journal cannot be committed, the change is undone at once.
    void CommitJournal();
    void SyncFolderIfChanged();
    void Recover();
    void Forget(const std::string& table) noexcept;

    // ---- transactions over several folders
    bool Grouped() const noexcept { return outer_ || !members_.empty(); }
    // The folders of this one's transaction: its group, the outer one
    // first, or this one alone.
    std::vector<PxDatabase*> Group() noexcept;
    void Ungroup() noexcept;
    void CommitGroup();
    // Ends the transaction of every folder of Group(), rolling back what a
    // failure has not rolled back already.
    void RollbackGroup();
    // This folder's part of a failure: its journal rolled back, its
    // transaction doomed.
    void FailOne() noexcept;
    void EndedElsewhere() noexcept;

    PxOpenOptions options_;
    PxPageCache cache_;
    PxFileSystem* fs_;
    std::string folder_;
    std::string canonicalFolder_; // the folder's one name (PxFileSystem::CanonicalFolder)
    PxJournal journal_;
    bool inTransaction_ = false;
    bool doomed_ = false;
    bool broken_ = false; // a rollback failed: nothing is read until it succeeds
    bool autoUnit_ = false;
    bool folderChanged_ = false; // files were created in the open unit
    std::vector<std::string> trash_;
    std::map<std::string, rtl::RefPtr<PxTable>> tables_; // by upper-case name
    PxDatabase* outer_ = nullptr;     // the group's first folder, when this one joined it
    std::vector<PxDatabase*> members_; // the folders that joined this one's transaction
    std::function<void()> onEndedElsewhere_;
};

} // namespace bde
