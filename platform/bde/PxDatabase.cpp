// The folder of tables: table files by name, creation within the format's
// limits, drop and rename, transactions and the atomic writing of changes.
#include "platform/bde/PxDatabase.h"

#include <algorithm>
#include <limits>
#include <set>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace bde {

namespace {

constexpr const char* SNoFolder = "Folder \"%s\" does not exist";
constexpr const char* SNoTable = "Table \"%s\" does not exist in folder \"%s\"";
constexpr const char* STableExists = "Table \"%s\" exists already in folder \"%s\"";
constexpr const char* SAmbiguous = "Folder \"%s\" holds files \"%s\" and \"%s\" that differ only in case";
constexpr const char* SInTransaction = "A transaction is active already";
constexpr const char* SFileExists = "The file \"%s\" exists already in the folder \"%s\"";
constexpr const char* SNoTransaction = "No transaction is active";
constexpr const char* SDoomed = "The transaction was rolled back after a failure; end it with Rollback";
constexpr const char* SBroken =
    "Folder \"%s\" holds a change that could not be rolled back; open the folder again to recover it";
constexpr const char* SJoined =
    "The transaction of folder \"%s\" is part of the transaction of folder \"%s\" and is committed with it";
constexpr const char* SNoOuter = "Folder \"%s\" has no transaction of its own that another folder could join";
constexpr const char* SJoinSelf = "A folder cannot join its own transaction";
constexpr const char* SBadTableName = "\"%s\" is not a valid table name: %s";
constexpr const char* SBadSpec = "Table \"%s\" cannot be created: %s";
constexpr const char* SBadField = "Table \"%s\" cannot be created: field \"%s\": %s";
constexpr const char* SBadIndex = "Table \"%s\" cannot be created: index \"%s\": %s";

std::string UpperExt(const std::string& file, std::string& base)
{
    const std::size_t dot = file.rfind('.');
    if (dot == std::string::npos) {
        base = file;
        return "";
    }
    base = file.substr(0, dot);
    return rtl::UpperCaseLatin(file.substr(dot + 1));
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckTableName(const std::string& name)
{
    const auto bad = [&](const char* why) { throw EPxError(rtl::Format(SBadTableName, name.c_str(), why)); };
    if (name.empty()) bad("it is empty");
    if (!rtl::IsValidUtf8(name)) bad("it is not valid text");
    if (rtl::Utf8Length(name) > 64) bad("it is longer than 64 characters");
    for (unsigned char c : name) {
        if (c < 0x20 || std::string_view("/\\:*?\"<>|.").find(static_cast<char>(c)) != std::string_view::npos)
            bad("it holds a character that a table name cannot hold");
    }
    if (name.front() == ' ' || name.back() == ' ') bad("it begins or ends with a blank");
}

int NaturalSize(PxFieldType t)
{
    switch (t) {
    case PxFieldType::Date: case PxFieldType::Long: case PxFieldType::Time: case PxFieldType::AutoInc: return 4;
    case PxFieldType::Short: return 2;
    case PxFieldType::Money: case PxFieldType::Number: case PxFieldType::Timestamp: return 8;
    case PxFieldType::Logical: return 1;
    default: return 0;
    }
}

bool TypeInVersion(PxFieldType t, std::uint8_t version)
{
    if (version >= kPxVersion50) return true;
    switch (t) {
    case PxFieldType::Alpha: case PxFieldType::Date: case PxFieldType::Short: case PxFieldType::Money:
    case PxFieldType::Number: case PxFieldType::Memo: case PxFieldType::Blob: case PxFieldType::FmtMemo:
    case PxFieldType::Ole: case PxFieldType::Graphic:
        return true;
    default:
        return false;
    }
}

bool Keyable(PxFieldType t) { return !PxIsBlobType(t) && t != PxFieldType::Bytes; }

int BlockSizeFor(int recordSize, int keyLength, const PxCreateOptions& o)
{
    if (o.blockSize) return o.blockSize;
    const int maxBlock = o.version >= kPxVersion70 ? 32768 : 4096;
    for (int bs = 2048; bs <= maxBlock; bs *= 2) {
        if (recordSize + 6 > bs) continue;
        if (keyLength > 0 && (bs - 6) / (keyLength + 6) < 3) continue;
        return bs;
    }
    return 0;
}

std::vector<int> IndexFields(const PxTableSpec& spec, const PxIndexDef& idx, const std::string& table)
{
    std::vector<int> out;
    for (const auto& fname : idx.fields) {
        int found = -1;
        for (std::size_t i = 0; i < spec.fields.size(); ++i)
            if (rtl::SameText(spec.fields[i].name, fname)) found = static_cast<int>(i);
        if (found < 0)
            throw EPxError(rtl::Format(SBadIndex, table.c_str(), idx.name.c_str(), ("there is no field \"" + fname + "\"").c_str()));
        out.push_back(found);
    }
    return out;
}

std::string SecondaryExt(bool single, int fieldNumber, int compositeNumber, char letter)
{
    static const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    if (single) return std::string(1, letter) + rtl::IntToHex(static_cast<std::uint32_t>(fieldNumber), 2);
    return std::string(1, letter) + "G" + digits[compositeNumber];
}

// The validity checks of a new table: one check per required field, nothing
// else. Header: table change count (0, as in the new data file), version,
// number of checks, the footer's position; a check: the field's number, then
// zeros, the required flag in the byte before the values; the footer: field
// count, field numbers, types and sizes, the table's name, the field names.
std::vector<std::uint8_t> ValidityFile(std::uint8_t version, const std::vector<PxHeaderField>& hf,
                                       const std::vector<PxFieldDef>& fields, const std::string& tableName)
{
    std::vector<std::uint8_t> b(0x35, 0);
    b[1] = version;
    std::uint8_t checks = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i].required) continue;
        std::vector<std::uint8_t> e(0x1D, 0);
        e[0] = static_cast<std::uint8_t>(i + 1);
        e[0x1C] = 1;
        b.insert(b.end(), e.begin(), e.end());
        ++checks;
    }
    b[2] = checks;
    PxPutU32(b.data() + 9, static_cast<std::uint32_t>(b.size()));
    const std::size_t n = hf.size();
    std::vector<std::uint8_t> f(6 + 4 * n + 0x4F, 0);
    PxPutU16(f.data(), static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        PxPutU16(f.data() + 6 + 2 * i, static_cast<std::uint16_t>(i + 1));
        f[6 + 2 * n + 2 * i] = hf[i].type;
        f[6 + 2 * n + 2 * i + 1] = hf[i].size;
    }
    std::copy_n(tableName.begin(), std::min<std::size_t>(tableName.size(), 0x4E), f.begin() + static_cast<std::ptrdiff_t>(6 + 4 * n));
    for (const auto& h : hf) {
        f.insert(f.end(), h.name.begin(), h.name.end());
        f.push_back(0);
    }
    b.insert(b.end(), f.begin(), f.end());
    return b;
}

} // namespace

PxDatabase::PxDatabase(std::string folder, PxOpenOptions options)
    : options_(std::move(options)),
      cache_(options_.cacheBytes ? options_.cacheBytes : PxDefaultCacheBytes()),
      fs_(options_.fileSystem ? options_.fileSystem : &PxDefaultFileSystem()),
      folder_(std::move(folder)),
      journal_(*fs_, folder_)
{
    // Dirty pages beyond the cache go out early, their undo images first.
    cache_.SetSpill([this] {
        if (!journal_.InUnit() || doomed_) return;
        try {
            WriteOut();
        } catch (...) {
            FailChange();
            throw;
        }
    });
    if (!fs_->FolderExists(folder_)) throw EPxError(rtl::Format(SNoFolder, folder_.c_str()));
    canonicalFolder_ = fs_->CanonicalFolder(folder_);
    PxJournal::Recover(*fs_, folder_);
    // Dropped tables whose files outlived the change that dropped them.
    for (const auto& f : fs_->List(folder_))
        if (EndsWith(f, kPxTrashSuffix)) fs_->Remove(PathOf(f));
}

PxDatabase::~PxDatabase()
{
    if (inTransaction_) {
        try {
            RollbackGroup();
        } catch (...) {
            // The journal stays; the next open of the folder rolls it back.
        }
    }
    for (auto& [key, t] : tables_) t->Detach();
    if (!inTransaction_) {
        try {
            const std::string spare = PathOf(PxSuperJournal::SpareName());
            if (fs_->Exists(spare) && !fs_->IsLink(spare)) fs_->Remove(spare);
        } catch (...) {
            // Named by no journal: the folder's next open removes it.
        }
    }
}

// ---- tables by name ------------------------------------------------------------------

PxFamily PxDatabase::Family(const std::string& name)
{
    PxFamily fam;
    if (!rtl::IsValidUtf8(name)) return fam;
    std::map<std::string, std::string> byExt;
    for (const auto& f : fs_->List(folder_)) {
        // A name that is not text is no table's file (tables are named in text).
        if (!rtl::IsValidUtf8(f)) continue;
        std::string base;
        const std::string ext = UpperExt(f, base);
        if (!PxIsFamilyExtension(ext) || !rtl::SameText(base, name)) continue;
        auto [it, fresh] = byExt.emplace(ext, f);
        if (!fresh) throw EPxError(rtl::Format(SAmbiguous, folder_.c_str(), it->second.c_str(), f.c_str()));
        fam.all.push_back(f);
    }
    const auto get = [&](const char* ext) {
        auto it = byExt.find(ext);
        return it == byExt.end() ? std::string() : it->second;
    };
    fam.db = get("DB");
    fam.px = get("PX");
    fam.mb = get("MB");
    fam.val = get("VAL");
    for (const auto& [ext, file] : byExt) {
        if (!(ext.size() == 3 && ext[0] == 'X')) continue;
        std::string yExt = ext;
        yExt[0] = 'Y';
        fam.secondaries.emplace_back(file, get(yExt.c_str()));
    }
    std::sort(fam.all.begin(), fam.all.end());
    return fam;
}

std::vector<std::string> PxDatabase::TableNames()
{
    std::vector<std::string> names;
    for (const auto& f : fs_->List(folder_)) {
        std::string base;
        if (rtl::IsValidUtf8(f) && UpperExt(f, base) == "DB" && !base.empty()) names.push_back(base);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return rtl::CompareText(a, b) < 0;
    });
    return names;
}

bool PxDatabase::TableExists(const std::string& name) { return !Family(name).db.empty(); }

rtl::RefPtr<PxTable> PxDatabase::OpenTable(const std::string& name)
{
    if (broken_) Recover();
    const PxFamily fam = Family(name);
    if (fam.db.empty()) throw EPxError(rtl::Format(SNoTable, name.c_str(), folder_.c_str()));
    const std::string key = rtl::UpperCase(name);
    auto it = tables_.find(key);
    if (it != tables_.end()) {
        it->second->Ensure();
        return it->second;
    }
    std::string base;
    UpperExt(fam.db, base);
    rtl::RefPtr<PxTable> t(new PxTable(this, base));
    t->Ensure();
    tables_.emplace(key, t);
    return t;
}

void PxDatabase::Forget(const std::string& table) noexcept
{
    auto it = tables_.find(rtl::UpperCase(table));
    if (it == tables_.end()) return;
    it->second->Detach();
    tables_.erase(it);
}

void PxDatabase::MarkAllStale() noexcept
{
    for (auto& [key, t] : tables_) t->MarkStale();
}

// ---- files and changes ---------------------------------------------------------------

std::unique_ptr<PxFile> PxDatabase::OpenFile(const std::string& name)
{
    try {
        return fs_->Open(PathOf(name), PxOpenMode::ReadWrite);
    } catch (const EPxIoError&) {
        return fs_->Open(PathOf(name), PxOpenMode::Read);
    }
}

std::unique_ptr<PxFile> PxDatabase::CreateFile(const std::string& name)
{
    RTL_ASSERT(journal_.InUnit(), "No change is open");
    // The journal notes the file as one this change makes, which its undo
    // removes: a file that is there already is never noted so.
    if (fs_->Exists(PathOf(name))) throw EPxError(rtl::Format(SFileExists, name.c_str(), folder_.c_str()));
    journal_.NoteCreate(name);
    journal_.Sync();
    folderChanged_ = true;
    return fs_->Open(PathOf(name), PxOpenMode::Create);
}

void PxDatabase::Recover()
{
    // A rollback that failed earlier is tried again before anything is read.
    PxJournal::Recover(*fs_, folder_);
    broken_ = false;
    MarkAllStale();
}

void PxDatabase::BeginChange()
{
    if (broken_) throw EPxError(rtl::Format(SBroken, folder_.c_str()));
    if (doomed_) throw EPxError(SDoomed);
    if (inTransaction_) return;
    journal_.Begin();
    autoUnit_ = true;
}

void PxDatabase::Protect(const std::vector<Pending>& files)
{
    for (const auto& f : files) {
        for (const auto& w : f.changes.writes) journal_.Protect(f.name, w.offset, w.bytes.size(), f.file);
        if (f.changes.resize)
            journal_.Protect(f.name, f.changes.newSize, std::numeric_limits<std::uint64_t>::max() / 4, f.file);
    }
}

void PxDatabase::Write(const std::vector<Pending>& files)
{
    for (const auto& f : files) {
        for (const auto& w : f.changes.writes) f.file->WriteAt(w.offset, w.bytes.data(), w.bytes.size());
        if (f.changes.resize) f.file->Truncate(f.changes.newSize);
    }
}

void PxDatabase::Apply(std::vector<Pending>& files)
{
    Protect(files);
    journal_.Sync();
    Write(files);
    // Inside a transaction the files are flushed once, at its commit.
    if (!inTransaction_)
        for (auto& f : files) f.file->Sync();
}

void PxDatabase::WriteOut()
{
    for (auto& [key, t] : tables_) t->PrepareWriteOut();
    std::vector<Pending> lists;
    for (auto& [key, t] : tables_) t->CollectChanges(lists);
    const std::vector<PxPagedFile*> paged = cache_.DirtyFiles();
    if (paged.empty() && lists.empty()) return;
    for (PxPagedFile* f : paged)
        for (const auto& r : f->PendingRegions())
            journal_.Protect(f->Name(), r.offset, r.size, &f->File(), r.original, r.originalSize);
    Protect(lists);
    journal_.Sync();
    for (PxPagedFile* f : paged) f->WriteOut();
    Write(lists);
    for (auto& [key, t] : tables_) t->ChangesWritten();
}

void PxDatabase::SyncTables(const std::vector<PxDatabase*>& folders)
{
    // The files' syncs overlap, those of several folders too.
    for (PxDatabase* d : folders)
        for (auto& [key, t] : d->tables_) t->StartSyncWritten();
    for (PxDatabase* d : folders)
        for (auto& [key, t] : d->tables_) t->SyncWritten();
}

void PxDatabase::SyncFolderIfChanged()
{
    // New files stay once their change is committed.
    if (!folderChanged_) return;
    fs_->SyncFolder(folder_);
    folderChanged_ = false;
}

void PxDatabase::EndChange()
{
    if (!autoUnit_) return;
    try {
        WriteOut();
        SyncTables({this});
        SyncFolderIfChanged();
    } catch (...) {
        FailChange();
        throw;
    }
    autoUnit_ = false;
    CommitJournal();
}

void PxDatabase::CommitJournal()
{
    try {
        journal_.Commit();
    } catch (...) {
        // The journal could not be removed: undo the change now rather than at the next open.
        try {
            PxJournal::Recover(*fs_, folder_);
        } catch (...) {
            broken_ = true;
        }
        MarkAllStale();
        trash_.clear();
        throw;
    }
    RemoveTrash();
}

void PxDatabase::FailOne() noexcept
{
    try {
        if (journal_.InUnit()) journal_.Rollback();
    } catch (...) {
        broken_ = true;
    }
    if (inTransaction_) doomed_ = true;
    autoUnit_ = false;
    folderChanged_ = false;
    trash_.clear();
    MarkAllStale();
}

void PxDatabase::RemoveTrash() noexcept
{
    for (const auto& t : trash_) {
        try {
            fs_->Remove(PathOf(t));
        } catch (...) {
            // Left for the next open of the folder.
        }
    }
    trash_.clear();
}

// ---- transactions ----------------------------------------------------------------------

void PxDatabase::StartTransaction()
{
    if (inTransaction_) throw EPxError(SInTransaction);
    if (broken_) throw EPxError(rtl::Format(SBroken, folder_.c_str()));
    journal_.Begin();
    inTransaction_ = true;
    doomed_ = false;
}

void PxDatabase::Commit()
{
    if (!inTransaction_) throw EPxError(SNoTransaction);
    if (outer_) throw EPxError(rtl::Format(SJoined, folder_.c_str(), outer_->folder_.c_str()));
    if (doomed_) throw EPxError(SDoomed);
    if (!members_.empty()) {
        CommitGroup();
        return;
    }
    try {
        WriteOut();
        SyncTables({this});
        SyncFolderIfChanged();
    } catch (...) {
        FailChange();
        throw;
    }
    inTransaction_ = false;
    CommitJournal();
}

void PxDatabase::Rollback()
{
    if (!inTransaction_) throw EPxError(SNoTransaction);
    RollbackGroup();
}

// ---- transactions over several folders --------------------------------------------

void PxDatabase::JoinTransaction(PxDatabase& outer)
{
    if (&outer == this) throw EPxError(SJoinSelf);
    if (!outer.inTransaction_ || outer.outer_) throw EPxError(rtl::Format(SNoOuter, outer.folder_.c_str()));
    if (outer.doomed_) throw EPxError(SDoomed);
    if (canonicalFolder_ == outer.canonicalFolder_) throw EPxError(SJoinSelf);
    StartTransaction();
    outer_ = &outer;
    outer.members_.push_back(this);
}

std::vector<PxDatabase*> PxDatabase::Group() noexcept
{
    if (outer_) return outer_->Group();
    std::vector<PxDatabase*> all{this};
    all.insert(all.end(), members_.begin(), members_.end());
    return all;
}

void PxDatabase::Ungroup() noexcept
{
    for (PxDatabase* d : Group()) {
        d->outer_ = nullptr;
        d->members_.clear();
    }
}

void PxDatabase::EndedElsewhere() noexcept
{
    if (!onEndedElsewhere_) return;
    try {
        onEndedElsewhere_();
    } catch (...) {
        // A listener's failure changes nothing of the transaction's end.
    }
}

// Every folder's journal names the super-journal and holds the images of
// what the folder is about to write before any table is written; the
// super-journal is durable before that too (its folder is synced by the
// first journal's creation, or on its own when that journal exists
// already). Putting it aside (renamed to the spare) is the commit; the
// journals are put aside after it without a sync, since a journal whose
// super-journal is gone is only removed.
void PxDatabase::CommitGroup()
{
    const std::vector<PxDatabase*> all = Group();
    const std::string spare = PathOf(PxSuperJournal::SpareName());
    std::string super;
    try {
        std::vector<std::string> folders;
        for (PxDatabase* d : all) folders.push_back(d->canonicalFolder_);
        const bool sealed = journal_.Sealed();
        super = PxSuperJournal::Create(Fs(), folders, spare);
        if (sealed) Fs().SyncFolder(folder_);
        for (PxDatabase* d : all) {
            d->journal_.NameSuper(super, d->canonicalFolder_);
            d->WriteOut();
            d->journal_.Sync();
        }
        SyncTables(all);
        for (PxDatabase* d : all) d->SyncFolderIfChanged();
        // The commit; the file serves the next transaction.
        if (Fs().Exists(spare)) Fs().Remove(spare);
        Fs().Rename(super, spare);
    } catch (...) {
        FailChange(super);
        throw;
    }
    try {
        Fs().SyncFolder(folder_);
    } catch (...) {
        // Committed once the super-journal is gone.
    }
    Ungroup();
    for (PxDatabase* d : all) {
        d->inTransaction_ = false;
        try {
            d->journal_.Commit(false);
        } catch (...) {
            // The journal names a super-journal that is gone: recovery only
            // removes it.
            try {
                PxJournal::Recover(d->Fs(), d->folder_);
            } catch (...) {
                d->broken_ = true;
            }
            d->MarkAllStale();
        }
        d->RemoveTrash();
    }
}

void PxDatabase::FailChange(const std::string& super) noexcept
{
    const std::vector<PxDatabase*> all = Group();
    bool undone = true;
    for (PxDatabase* d : all) {
        d->FailOne();
        undone = undone && !d->broken_;
    }
    // A folder whose rollback failed still names the super-journal: it must
    // stay, so that the folder's next open rolls it back too.
    if (!super.empty() && undone) {
        try {
            if (Fs().Exists(super)) {
                Fs().Remove(super);
                Fs().SyncFolder(folder_);
            }
        } catch (...) {
            // Named by no journal now: the folder's next open removes it.
        }
    }
    for (PxDatabase* d : all)
        if (d != this) d->EndedElsewhere();
}

void PxDatabase::RollbackGroup()
{
    const std::vector<PxDatabase*> all = Group();
    Ungroup();
    std::exception_ptr error;
    for (PxDatabase* d : all) {
        const bool doomed = d->doomed_;
        d->inTransaction_ = false;
        d->doomed_ = false;
        d->folderChanged_ = false;
        d->trash_.clear();
        d->MarkAllStale();
        if (doomed || !d->journal_.InUnit()) continue;
        try {
            d->journal_.Rollback();
        } catch (...) {
            d->broken_ = true;
            if (!error) error = std::current_exception();
        }
    }
    for (PxDatabase* d : all)
        if (d != this) d->EndedElsewhere();
    if (error) std::rethrow_exception(error);
}

// ---- drop and rename -------------------------------------------------------------------

void PxDatabase::DropTable(const std::string& name)
{
    const PxFamily fam = Family(name);
    if (fam.db.empty()) throw EPxError(rtl::Format(SNoTable, name.c_str(), folder_.c_str()));
    BeginChange();
    std::vector<std::string> moved;
    try {
        for (const auto& f : fam.all) {
            const std::string trash = f + kPxTrashSuffix;
            if (fs_->Exists(PathOf(trash))) fs_->Remove(PathOf(trash));
            journal_.NoteRename(f, trash);
            moved.push_back(trash);
        }
        journal_.Sync();
        for (const auto& f : fam.all) fs_->Rename(PathOf(f), PathOf(f + kPxTrashSuffix));
        fs_->SyncFolder(folder_);
    } catch (...) {
        FailChange();
        throw;
    }
    trash_.insert(trash_.end(), moved.begin(), moved.end());
    Forget(name);
    EndChange();
}

void PxDatabase::RenameTable(const std::string& from, const std::string& to)
{
    CheckTableName(to);
    const PxFamily fam = Family(from);
    if (fam.db.empty()) throw EPxError(rtl::Format(SNoTable, from.c_str(), folder_.c_str()));
    if (!rtl::SameText(from, to) && !Family(to).all.empty())
        throw EPxError(rtl::Format(STableExists, to.c_str(), folder_.c_str()));
    // Inside a transaction the table's index rebuild and syncs wait for the
    // commit, which reaches only the tables it still knows: a renamed table
    // finishes that work now, under its old name.
    if (inTransaction_) {
        const auto it = tables_.find(rtl::UpperCase(from));
        if (it != tables_.end()) {
            try {
                WriteOut();
                it->second->SyncWritten();
            } catch (...) {
                FailChange();
                throw;
            }
        }
    }
    BeginChange();
    try {
        std::vector<std::pair<std::string, std::string>> names;
        for (const auto& f : fam.all) {
            const std::size_t dot = f.rfind('.');
            names.emplace_back(f, to + f.substr(dot));
        }
        for (const auto& [a, b] : names) journal_.NoteRename(a, b);
        journal_.Sync();
        for (const auto& [a, b] : names) fs_->Rename(PathOf(a), PathOf(b));
        fs_->SyncFolder(folder_);
    } catch (...) {
        FailChange();
        throw;
    }
    Forget(from);
    Forget(to);
    EndChange();
}

// ---- creation --------------------------------------------------------------------------

void PxDatabase::CheckSpec(const std::string& name, const PxTableSpec& spec, const PxCreateOptions& options,
                           int defaultCodePage)
{
    CheckTableName(name);
    const char* table = name.c_str();
    const auto badSpec = [&](const std::string& why) { throw EPxError(rtl::Format(SBadSpec, table, why.c_str())); };
    if (options.version != kPxVersion40 && options.version != kPxVersion50 && options.version != kPxVersion70)
        badSpec("the format version must be 4.0, 5.0 or 7.0");
    const PxCodePage cp(options.codePage ? options.codePage : defaultCodePage);
    const int n = static_cast<int>(spec.fields.size());
    if (n < 1 || n > kPxMaxFields) badSpec("a table has 1 to 255 fields");
    int recordSize = 0;
    for (int i = 0; i < n; ++i) {
        const PxFieldDef& f = spec.fields[static_cast<std::size_t>(i)];
        const auto bad = [&](const std::string& why) {
            throw EPxError(rtl::Format(SBadField, table, f.name.c_str(), why.c_str()));
        };
        if (f.name.empty() || !rtl::IsValidUtf8(f.name)) bad("the name is empty or not valid text");
        if (rtl::Utf8Length(f.name) > static_cast<std::size_t>(kPxMaxFieldNameLength)) bad("the name is longer than 25 characters");
        if (f.name.front() == ' ') bad("the name begins with a blank");
        for (unsigned char c : f.name)
            if (c < 0x20) bad("the name holds a control character");
        cp.FromUtf8(f.name, "the name of field \"" + f.name + "\" of table \"" + name + "\"");
        for (int j = 0; j < i; ++j)
            if (rtl::SameText(spec.fields[static_cast<std::size_t>(j)].name, f.name)) bad("the name is used twice");
        if (!PxIsKnownFieldType(static_cast<std::uint8_t>(f.type))) bad("unknown field type");
        if (!TypeInVersion(f.type, options.version))
            bad(std::string(PxFieldTypeName(f.type)) + " fields need format 5.0 or later");
        const int size = f.size;
        switch (f.type) {
        case PxFieldType::Alpha:
            if (size < 1 || size > kPxMaxAlphaSize) bad("an Alpha field has a size of 1 to 255, not " + rtl::IntToStr(size));
            break;
        case PxFieldType::Bytes:
            if (size < 1 || size > kPxMaxBytesSize) bad("a Bytes field has a size of 1 to 255, not " + rtl::IntToStr(size));
            break;
        case PxFieldType::Memo: case PxFieldType::FmtMemo:
            if (size < 1 || size > kPxMaxLeaderSize)
                bad("a memo field keeps 1 to 240 bytes in the record, not " + rtl::IntToStr(size));
            break;
        case PxFieldType::Blob: case PxFieldType::Ole: case PxFieldType::Graphic:
            if (size < 0 || size > kPxMaxLeaderSize)
                bad("a blob field keeps 0 to 240 bytes in the record, not " + rtl::IntToStr(size));
            break;
        case PxFieldType::Bcd:
            if (size < 0 || size > kPxMaxBcdDecimals) bad("a BCD field has 0 to 32 decimals, not " + rtl::IntToStr(size));
            break;
        default:
            if (size != 0 && size != NaturalSize(f.type))
                bad(std::string("a ") + PxFieldTypeName(f.type) + " field has no size to choose");
        }
        recordSize += PxRecordBytes(f.type, PxHeaderSize(f.type, size));
    }
    if (spec.keyFieldCount < 0 || spec.keyFieldCount > std::min(n, kPxMaxKeyFields))
        badSpec("a primary key has at most 16 fields, the first fields of the table");
    int keyLength = 0;
    for (int i = 0; i < spec.keyFieldCount; ++i) {
        const PxFieldDef& f = spec.fields[static_cast<std::size_t>(i)];
        if (!Keyable(f.type))
            throw EPxError(rtl::Format(SBadField, table, f.name.c_str(), "a field of this type cannot be part of a key"));
        keyLength += PxRecordBytes(f.type, PxHeaderSize(f.type, f.size));
    }
    const int bs = BlockSizeFor(recordSize, keyLength, options);
    const int maxBlock = options.version >= kPxVersion70 ? 32768 : 4096;
    if (options.blockSize && (options.blockSize < 1024 || options.blockSize > maxBlock || options.blockSize % 1024))
        badSpec("the block size must be a multiple of 1024 up to " + rtl::IntToStr(maxBlock));
    if (bs == 0 || recordSize + 6 > bs)
        badSpec("a record of " + rtl::IntToStr(recordSize) + " bytes does not fit in a block of at most " +
                rtl::IntToStr(maxBlock) + " bytes");
    if (keyLength > 0 && (bs - 6) / (keyLength + 6) < 3) badSpec("the primary key is too long for the blocks");
    std::set<std::string> files;
    int composite = 0;
    for (const auto& idx : spec.secondaryIndexes) {
        const auto bad = [&](const std::string& why) {
            throw EPxError(rtl::Format(SBadIndex, table, idx.name.c_str(), why.c_str()));
        };
        if (spec.keyFieldCount == 0) bad("secondary indexes need a primary key");
        if (idx.primary) bad("the primary key is given by the key fields");
        if (idx.unique) bad("unique secondary indexes are not supported");
        if (idx.fields.empty() || idx.fields.size() > static_cast<std::size_t>(kPxMaxKeyFields)) bad("an index has 1 to 16 fields");
        const auto fields = IndexFields(spec, idx, name);
        int length = keyLength + 2;
        for (std::size_t k = 0; k < fields.size(); ++k) {
            const PxFieldDef& f = spec.fields[static_cast<std::size_t>(fields[k])];
            if (!Keyable(f.type)) bad("field \"" + f.name + "\" cannot be indexed");
            for (std::size_t j = 0; j < k; ++j)
                if (fields[j] == fields[k]) bad("field \"" + f.name + "\" is named twice");
            length += PxRecordBytes(f.type, PxHeaderSize(f.type, f.size));
        }
        if (length + 6 > bs || (bs - 6) / (length - 2 + 6) < 3) bad("the index entries are too long for the blocks");
        const bool single = fields.size() == 1;
        if (!single && idx.name.empty()) bad("an index of several fields needs a name");
        if (!single && ++composite > 36) bad("a table has at most 36 indexes of several fields");
        if (!single) cp.FromUtf8(idx.name, "the name of index \"" + idx.name + "\"");
        const std::string ext = SecondaryExt(single, fields[0] + 1, composite - 1, 'X');
        if (!files.insert(ext).second) bad("the field has an index already");
    }
}

void PxDatabase::AddPasswords(const std::vector<std::string>& passwords)
{
    for (const std::string& p : passwords)
        if (std::find(options_.passwords.begin(), options_.passwords.end(), p) == options_.passwords.end())
            options_.passwords.push_back(p);
}

rtl::RefPtr<PxTable> PxDatabase::CreateTable(const std::string& name, const PxTableSpec& spec,
                                             const PxCreateOptions& options)
{
    if (broken_) Recover();
    CheckSpec(name, spec, options, options_.defaultCodePage);
    if (!Family(name).all.empty()) throw EPxError(rtl::Format(STableExists, name.c_str(), folder_.c_str()));
    const int codePage = options.codePage ? options.codePage : options_.defaultCodePage;
    const PxCodePage cp(codePage);
    const auto bytes = [&](const std::string& text) { return cp.FromUtf8(text, "table \"" + name + "\""); };
    const int n = static_cast<int>(spec.fields.size());
    std::vector<PxHeaderField> hf;
    int recordSize = 0, keyLength = 0;
    for (int i = 0; i < n; ++i) {
        const PxFieldDef& f = spec.fields[static_cast<std::size_t>(i)];
        PxHeaderField h;
        h.type = static_cast<std::uint8_t>(f.type);
        h.size = static_cast<std::uint8_t>(PxHeaderSize(f.type, f.size));
        h.name = bytes(f.name);
        const int len = PxRecordBytes(f.type, h.size);
        recordSize += len;
        if (i < spec.keyFieldCount) keyLength += len;
        hf.push_back(std::move(h));
    }
    const int blockSize = BlockSizeFor(recordSize, keyLength, options);
    std::uint8_t sortOrder = 0;
    std::string sortOrderId;
    PxDefaultSortOrder(codePage, sortOrder, sortOrderId);

    struct NewFile {
        std::string name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<NewFile> files;
    const std::string dbName = name + ".DB";
    PxNewDataHeader dh;
    dh.fileType = spec.keyFieldCount > 0 ? 0 : 2;
    dh.version = options.version;
    dh.blockSize = blockSize;
    dh.codePage = codePage;
    dh.sortOrder = sortOrder;
    dh.sortOrderId = sortOrderId;
    dh.tableName = bytes(rtl::UpperCase(dbName));
    dh.fields = hf;
    dh.keyFields = spec.keyFieldCount;
    files.push_back({dbName, PxBuildDataHeader(dh).raw});
    std::vector<PxHeaderField> keyHeader(hf.begin(), hf.begin() + spec.keyFieldCount);
    for (auto& k : keyHeader) k.name.clear();
    if (spec.keyFieldCount > 0) {
        const std::string pxName = name + ".PX";
        files.push_back({pxName, PxBuildIndexHeader(1, options.version, blockSize, sortOrder, keyHeader,
                                                    bytes(rtl::UpperCase(pxName))).raw});
    }
    int composite = 0;
    for (const auto& idx : spec.secondaryIndexes) {
        const auto fields = IndexFields(spec, idx, name);
        const bool single = fields.size() == 1;
        const int number = single ? fields[0] + 1 : composite++;
        const std::string xName = name + "." + SecondaryExt(single, fields[0] + 1, number, 'X');
        const std::string yName = name + "." + SecondaryExt(single, fields[0] + 1, number, 'Y');
        PxNewDataHeader xh;
        xh.fileType = single ? 5 : 8;
        xh.version = options.version;
        xh.blockSize = blockSize;
        xh.codePage = codePage;
        xh.sortOrder = sortOrder;
        xh.sortOrderId = sortOrderId;
        xh.tableName = bytes(rtl::UpperCase(xName));
        for (std::size_t k = 0; k < fields.size(); ++k) {
            PxHeaderField f = hf[static_cast<std::size_t>(fields[k])];
            if (single) f.name = "Sec Key";
            xh.fields.push_back(f);
            xh.fieldNumbers.push_back(static_cast<std::uint16_t>(fields[k] + 1));
        }
        for (int k = 0; k < spec.keyFieldCount; ++k) {
            xh.fields.push_back(hf[static_cast<std::size_t>(k)]);
            xh.fieldNumbers.push_back(static_cast<std::uint16_t>(k + 1));
        }
        PxHeaderField hint;
        hint.type = static_cast<std::uint8_t>(PxFieldType::Short);
        hint.size = 2;
        hint.name = "Hint";
        xh.fields.push_back(hint);
        xh.fieldNumbers.push_back(0);
        xh.keyFields = static_cast<int>(xh.fields.size()) - 1;
        xh.indexFieldNumber = single ? static_cast<std::uint8_t>(fields[0] + 1) : 0;
        xh.indexName = bytes(single ? spec.fields[static_cast<std::size_t>(fields[0])].name : idx.name);
        const PxHeader x = PxBuildDataHeader(xh);
        files.push_back({xName, x.raw});
        std::vector<PxHeaderField> yKey(x.fields.begin(), x.fields.end() - 1);
        for (auto& k : yKey) k.name.clear();
        files.push_back({yName, PxBuildIndexHeader(single ? 4 : 7, options.version, blockSize, sortOrder, yKey,
                                                   bytes(rtl::UpperCase(yName))).raw});
    }
    bool required = false;
    for (const auto& f : spec.fields) required = required || f.required;
    if (required) files.push_back({name + ".VAL", ValidityFile(options.version, hf, spec.fields, bytes(rtl::UpperCase(dbName)))});
    bool blobs = false;
    for (const auto& f : spec.fields) blobs = blobs || PxIsBlobType(f.type);

    BeginChange();
    try {
        std::vector<std::unique_ptr<PxFile>> handles;
        std::vector<Pending> pending;
        for (auto& f : files) {
            handles.push_back(CreateFile(f.name));
            Pending p;
            p.name = f.name;
            p.file = handles.back().get();
            p.changes.writes.push_back({0, std::move(f.bytes)});
            pending.push_back(std::move(p));
        }
        std::unique_ptr<PxBlobFile> mb;
        if (blobs) {
            const std::string mbName = name + ".MB";
            mb = std::make_unique<PxBlobFile>(mbName, CreateFile(mbName), true);
            pending.push_back({mbName, &mb->File(), mb->CollectWrites()});
        }
        Apply(pending);
    } catch (...) {
        FailChange();
        throw;
    }
    Forget(name);
    EndChange();
    return OpenTable(name);
}

} // namespace bde
