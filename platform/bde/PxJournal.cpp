// Undo journal: record format, writing, and the rollback shared by an
// in-process rollback and the recovery of a leftover journal.
#include "platform/bde/PxJournal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <random>

#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

namespace bde {

namespace {

constexpr const char* SJournalExists = "An undo journal \"%s\" exists already";
constexpr const char* SJournalDamaged =
    "The undo journal \"%s\" cannot be used: %s. It is kept and the folder is not opened; "
    "the tables of the folder may be half changed and may need a restore from a backup";

constexpr const char* SSuperDamaged =
    "The super-journal \"%s\" named by the undo journal \"%s\" cannot be used: %s. Both are kept and the folder "
    "is not opened, since whether the change was committed in every folder of the transaction cannot be told; "
    "bring back the folders it lists, or restore them all from a backup";

constexpr std::array<std::uint8_t, 8> kMagic = {'P', 'X', 'U', 'N', 'D', 'O', 0, 2};
constexpr std::array<std::uint8_t, 8> kSuperMagic = {'P', 'X', 'S', 'U', 'P', 'E', 'R', 1};
constexpr const char* kSuperPrefix = "PXSUPER-";
constexpr std::size_t kSuperHexDigits = 16;
constexpr std::uint64_t kMostSuperBytes = 1 << 20;
constexpr std::size_t kCountAt = 8;      // two copies of the count, 16 bytes each
constexpr std::size_t kCountSize = 16;
constexpr std::size_t kHeaderSize = kCountAt + 2 * kCountSize;
constexpr std::size_t kFrame = 9;        // type, length, checksum

enum : std::uint8_t { kRecFile = 1, kRecImage = 2, kRecRename = 3, kRecUndone = 4, kRecSuper = 5 };

void PutU64(std::vector<std::uint8_t>& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutName(std::vector<std::uint8_t>& out, const std::string& name)
{
    out.push_back(static_cast<std::uint8_t>(name.size()));
    out.push_back(static_cast<std::uint8_t>(name.size() >> 8));
    out.insert(out.end(), name.begin(), name.end());
}
std::uint64_t GetU64(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

// Both copies of the count: `count` records ending at `end`.
std::vector<std::uint8_t> Counts(std::uint32_t count, std::uint64_t end)
{
    std::vector<std::uint8_t> one;
    PutU32(one, count);
    PutU64(one, end);
    PutU32(one, PxCrc32(one.data(), one.size()));
    std::vector<std::uint8_t> both = one;
    both.insert(both.end(), one.begin(), one.end());
    return both;
}

// A full path that a journal or super-journal may name.
bool IsFullPath(const std::string& path)
{
    return !path.empty() && path.front() == '/' && path.find('\0') == std::string::npos;
}

struct Reader {
    const std::vector<std::uint8_t>& b;
    std::size_t pos;
    std::size_t end;
    bool ok = true;
    std::uint64_t Int(int bytes)
    {
        if (end - pos < static_cast<std::size_t>(bytes)) { ok = false; return 0; }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(b[pos + static_cast<std::size_t>(i)]) << (8 * i);
        pos += static_cast<std::size_t>(bytes);
        return v;
    }
    std::string Name()
    {
        const auto n = static_cast<std::size_t>(Int(2));
        if (!ok || end - pos < n) { ok = false; return {}; }
        std::string s(b.begin() + static_cast<std::ptrdiff_t>(pos), b.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        return s;
    }
};

struct Record {
    std::uint8_t type = 0;
    std::string name, name2;
    bool existed = false;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> data;
};

// A journal read and checked: the records to undo (progress records left
// out), the index below which they are still to be undone, and where the
// counted records end.
struct Parsed {
    std::vector<Record> records;
    std::string super;       // the super-journal named, "" for none
    std::string superFolder; // the journal's own folder as the super-journal lists it
    std::size_t resumeAt = 0;
    std::uint32_t count = 0;
    std::uint64_t end = 0;
};

[[noreturn]] void Damaged(const std::string& path, const std::string& why)
{
    throw EPxJournalDamaged(rtl::Format(SJournalDamaged, path.c_str(), why.c_str()));
}

// Reads a journal that claims to count its records; anything that does not
// read back exactly as the protocol writes it is damage.
Parsed Parse(const std::vector<std::uint8_t>& b, const std::string& path)
{
    const auto bad = [&](const std::string& why) { Damaged(path, why); };
    if (b.size() < kHeaderSize) bad("its header is cut short");
    if (!std::equal(kMagic.begin(), kMagic.end(), b.begin())) bad("its header is broken");
    Parsed p;
    bool any = false;
    for (int copy = 0; copy < 2; ++copy) {
        const std::uint8_t* c = b.data() + kCountAt + kCountSize * static_cast<std::size_t>(copy);
        if (PxCrc32(c, 12) != PxGetU32(c + 12)) continue;
        const std::uint32_t count = PxGetU32(c);
        const std::uint64_t end = GetU64(c + 4);
        if (any && count == p.count && end != p.end) bad("its two counts disagree");
        if (!any || count > p.count) {
            p.count = count;
            p.end = end;
        }
        any = true;
    }
    if (!any) bad("the count of its records is broken");
    if (p.end < kHeaderSize || p.end > b.size()) bad("its counted records are cut short");

    std::size_t pos = kHeaderSize;
    std::uint32_t seen = 0;
    std::size_t resumeAt = std::numeric_limits<std::size_t>::max();
    std::vector<std::uint32_t> undone;
    while (pos < p.end) {
        if (p.end - pos < kFrame) bad("its counted records are cut short");
        const std::uint8_t type = b[pos];
        const std::uint32_t len = PxGetU32(b.data() + pos + 1);
        if (p.end - pos - kFrame < len) bad("its counted records are cut short");
        const std::size_t payloadEnd = pos + 5 + len;
        if (PxCrc32(b.data() + pos, 5 + static_cast<std::size_t>(len)) != PxGetU32(b.data() + payloadEnd))
            bad("a counted record has a bad checksum");
        Reader r{b, pos + 5, payloadEnd};
        Record rec;
        rec.type = type;
        switch (type) {
        case kRecFile:
            rec.name = r.Name();
            rec.existed = r.Int(1) != 0;
            rec.size = r.Int(8);
            break;
        case kRecImage:
            rec.name = r.Name();
            rec.offset = r.Int(8);
            if (r.ok) {
                rec.data.assign(b.begin() + static_cast<std::ptrdiff_t>(r.pos), b.begin() + static_cast<std::ptrdiff_t>(payloadEnd));
                r.pos = payloadEnd;
            }
            break;
        case kRecRename:
            rec.name = r.Name();
            rec.name2 = r.Name();
            break;
        case kRecUndone:
            undone.push_back(static_cast<std::uint32_t>(r.Int(4)));
            break;
        case kRecSuper:
            rec.name = r.Name();
            rec.name2 = r.Name();
            break;
        default:
            bad("a record is of an unknown kind");
        }
        if (!r.ok || r.pos != payloadEnd) bad("a record does not hold what its kind holds");
        if (type == kRecUndone) {
            // Progress of a rollback comes after every record it undoes.
            if (undone.back() >= p.records.size()) bad("a rollback step names no record");
            resumeAt = std::min<std::size_t>(resumeAt, undone.back());
        } else if (type == kRecSuper) {
            if (!undone.empty()) bad("a record follows the steps of its rollback");
            if (!p.super.empty()) bad("it names two super-journals");
            const std::size_t slash = rec.name.rfind('/');
            if (!IsFullPath(rec.name) || !PxSuperJournal::IsName(std::string_view(rec.name).substr(slash + 1)))
                bad("it names a super-journal by a path that no super-journal has");
            if (!IsFullPath(rec.name2)) bad("it names its own folder by no full path");
            p.super = std::move(rec.name);
            p.superFolder = std::move(rec.name2);
        } else {
            if (!undone.empty()) bad("a record follows the steps of its rollback");
            p.records.push_back(std::move(rec));
        }
        ++seen;
        pos = payloadEnd + 4;
    }
    if (seen != p.count) bad("it holds another number of records than it counts");
    p.resumeAt = std::min(resumeAt, p.records.size());

    // Only the table files of the folder, and images only within the size
    // the journal recorded for their file before it was changed.
    std::map<std::string, Record*> known; // name -> its file record
    for (Record& r : p.records) {
        for (const std::string* n : {&r.name, &r.name2}) {
            if (n == &r.name2 && r.type != kRecRename) continue;
            if (!PxIsTableFileName(*n)) bad("it names \"" + *n + "\", which is no table file of the folder");
        }
        switch (r.type) {
        case kRecFile:
            if (!r.existed && r.size != 0) bad("a new file has a size");
            known[r.name] = &r;
            break;
        case kRecImage: {
            const auto it = known.find(r.name);
            if (it == known.end() || !it->second->existed) bad("an image belongs to no file it recorded");
            const std::uint64_t size = it->second->size;
            if (r.data.size() > size || r.offset > size - r.data.size())
                bad("an image of \"" + r.name + "\" lies beyond the size the file had");
            break;
        }
        case kRecRename:
            known.erase(r.name);
            known.erase(r.name2);
            break;
        default:
            break;
        }
    }
    // Undone steps are renames and removals of new files.
    for (std::uint32_t i : undone) {
        const Record& r = p.records[i];
        if (r.type != kRecRename && !(r.type == kRecFile && !r.existed)) bad("a rollback step names a record it does not undo so");
    }
    return p;
}

std::vector<std::uint8_t> Frame(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> rec;
    rec.reserve(payload.size() + kFrame);
    rec.push_back(type);
    PutU32(rec, static_cast<std::uint32_t>(payload.size()));
    rec.insert(rec.end(), payload.begin(), payload.end());
    PutU32(rec, PxCrc32(rec.data(), rec.size()));
    return rec;
}

// The journal at `path`, read and checked.
Parsed ReadJournal(PxFileSystem& fs, const std::string& path)
{
    if (fs.IsLink(path)) Damaged(path, "it is a link");
    std::vector<std::uint8_t> bytes;
    {
        auto j = fs.Open(path, PxOpenMode::Read);
        bytes = j->ReadAll();
    }
    return Parse(bytes, path);
}

// Undoes the journal at `path`, read as `parsed`, and removes it.
void UndoParsed(PxFileSystem& fs, const std::string& folder, const std::string& path, const Parsed& parsed)
{
    const std::vector<Record>& records = parsed.records;
    for (const Record& r : records)
        for (const std::string* n : {&r.name, &r.name2})
            if (!n->empty() && fs.IsLink(PxJoinPath(folder, *n))) Damaged(path, "\"" + *n + "\" is a link");

    std::unique_ptr<PxFile> journal;
    std::uint64_t journalEnd = parsed.end;
    std::uint32_t count = parsed.count;
    std::map<std::string, std::unique_ptr<PxFile>> open;
    const auto fileOf = [&](const std::string& name) -> PxFile* {
        auto it = open.find(name);
        if (it != open.end()) return it->second.get();
        const std::string p = PxJoinPath(folder, name);
        if (!fs.Exists(p)) return nullptr;
        return open.emplace(name, fs.Open(p, PxOpenMode::ReadWrite)).first->second.get();
    };
    const auto closeFile = [&](const std::string& name) {
        auto it = open.find(name);
        if (it == open.end()) return;
        it->second->Sync();
        open.erase(it);
    };
    // Rename and remove cannot be repeated blindly: their progress is
    // recorded, and counted, as the records themselves were.
    const auto markUndone = [&](std::size_t index) {
        if (!journal) {
            journal = fs.Open(path, PxOpenMode::ReadWrite);
            journal->Truncate(journalEnd);
        }
        std::vector<std::uint8_t> payload;
        PutU32(payload, static_cast<std::uint32_t>(index));
        const auto rec = Frame(kRecUndone, payload);
        journal->WriteAt(journalEnd, rec.data(), rec.size());
        journal->Sync();
        journalEnd += rec.size();
        ++count;
        const auto counts = Counts(count, journalEnd);
        journal->WriteAt(kCountAt, counts.data(), counts.size());
        journal->Sync();
    };
    for (std::size_t i = parsed.resumeAt; i-- > 0;) {
        const Record& r = records[i];
        switch (r.type) {
        case kRecImage:
            if (PxFile* f = fileOf(r.name)) f->WriteAt(r.offset, r.data.data(), r.data.size());
            break;
        case kRecFile:
            if (r.existed) {
                if (PxFile* f = fileOf(r.name); f && f->Size() > r.size) f->Truncate(r.size);
            } else if (fs.Exists(PxJoinPath(folder, r.name))) {
                open.erase(r.name);
                fs.Remove(PxJoinPath(folder, r.name));
                fs.SyncFolder(folder);
                markUndone(i);
            }
            break;
        case kRecRename: {
            const std::string from = PxJoinPath(folder, r.name);
            const std::string to = PxJoinPath(folder, r.name2);
            if (fs.Exists(to) && !fs.Exists(from)) {
                closeFile(r.name2);
                closeFile(r.name);
                fs.Rename(to, from);
                fs.SyncFolder(folder);
                markUndone(i);
            }
            break;
        }
        default:
            break;
        }
    }
    for (auto& [name, f] : open) f->Sync();
    open.clear();
    journal.reset();
    fs.Remove(path);
    fs.SyncFolder(folder);
}

void Undo(PxFileSystem& fs, const std::string& folder, const std::string& path)
{
    UndoParsed(fs, folder, path, ReadJournal(fs, path));
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Whether the journal of `folder` names `super`; a journal that cannot be
// read is taken to name it, so that the super-journal is kept for it.
bool JournalNames(PxFileSystem& fs, const std::string& folder, const std::string& super)
{
    const std::string path = PxJoinPath(folder, PxJournal::kFileName);
    if (!fs.Exists(path) && !fs.IsLink(path)) return false;
    try {
        return ReadJournal(fs, path).super == super;
    } catch (const EPxError&) {
        return true;
    }
}

// Removes the super-journal once no journal of its folders names it any more.
void DropSuperIfDone(PxFileSystem& fs, const std::string& super, const std::vector<std::string>& folders)
{
    for (const std::string& f : folders)
        if (JournalNames(fs, f, super)) return;
    fs.Remove(super);
    fs.SyncFolder(FolderOf(super));
}

// A journal that a stopped process left: rolled back, or, where it names a
// super-journal that is gone (its transaction committed), removed.
void Resolve(PxFileSystem& fs, const std::string& folder, const std::string& path)
{
    const Parsed parsed = ReadJournal(fs, path);
    const std::string& super = parsed.super;
    if (super.empty()) {
        UndoParsed(fs, folder, path, parsed);
        return;
    }
    const auto bad = [&](const std::string& why) {
        throw EPxJournalDamaged(rtl::Format(SSuperDamaged, super.c_str(), path.c_str(), why.c_str()));
    };
    // A journal moved or copied with its folder would take the fate of
    // another folder's transaction for its own.
    if (parsed.superFolder != fs.CanonicalFolder(folder))
        bad("the journal was written in the folder \"" + parsed.superFolder + "\", not in this one");
    const std::string superFolder = FolderOf(super);
    if (!fs.FolderExists(superFolder)) bad("its folder \"" + superFolder + "\" does not exist");
    if (fs.IsLink(super)) bad("it is a link");
    if (!fs.Exists(super)) {
        // Committed: what the journal would undo is the change itself.
        fs.Remove(path);
        fs.SyncFolder(folder);
        return;
    }
    std::vector<std::string> folders;
    try {
        folders = PxSuperJournal::Read(fs, super);
    } catch (const EPxJournalDamaged& e) {
        bad(e.what());
    }
    const auto listed = [&](const std::string& f) {
        return std::find(folders.begin(), folders.end(), fs.CanonicalFolder(f)) != folders.end();
    };
    if (!listed(folder)) bad("it does not list the folder \"" + folder + "\"");
    if (!listed(superFolder)) bad("it lies outside the folders it lists");
    for (const std::string& f : folders)
        if (!fs.FolderExists(f)) bad("it lists the folder \"" + f + "\", which does not exist");
    UndoParsed(fs, folder, path, parsed);
    DropSuperIfDone(fs, super, folders);
}

// Super-journals in the folder that no journal names any more: a .TMP (no
// journal named it yet), or one whose every folder has no journal naming it
// (a crash after all its folders were recovered, or before any named it).
// One that cannot be read, or whose folders are not all there, is left.
void DropOrphanSupers(PxFileSystem& fs, const std::string& folder)
{
    // Journals name a super-journal by its folder's one name.
    const std::string canonical = fs.CanonicalFolder(folder);
    for (const std::string& name : fs.List(folder)) {
        if (!name.starts_with(kSuperPrefix)) continue;
        const std::string path = PxJoinPath(canonical, name);
        if (name.ends_with(".TMP") && PxSuperJournal::IsName(name.substr(0, name.size() - 4) + ".JNL")) {
            fs.Remove(path);
            fs.SyncFolder(folder);
            continue;
        }
        if (!PxSuperJournal::IsName(name) || fs.IsLink(path)) continue;
        std::vector<std::string> folders;
        try {
            folders = PxSuperJournal::Read(fs, path);
        } catch (const EPxError&) {
            continue;
        }
        if (std::all_of(folders.begin(), folders.end(), [&](const std::string& f) { return fs.FolderExists(f); }))
            DropSuperIfDone(fs, path, folders);
    }
}

} // namespace

std::string PxSuperJournal::Create(PxFileSystem& fs, const std::vector<std::string>& folders, const std::string& spare)
{
    RTL_ASSERT(!folders.empty(), "A super-journal lists its folders");
    std::vector<std::uint8_t> bytes(kSuperMagic.begin(), kSuperMagic.end());
    PutU32(bytes, static_cast<std::uint32_t>(folders.size()));
    for (const std::string& f : folders) PutName(bytes, f);
    PutU32(bytes, PxCrc32(bytes.data(), bytes.size()));
    static std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    for (;;) {
        const std::uint64_t n = random();
        const std::string base = PxJoinPath(folders.front(), kSuperPrefix + rtl::IntToHex(n, static_cast<int>(kSuperHexDigits)));
        const std::string path = base + ".JNL", fresh = base + ".TMP";
        if (fs.Exists(path) || fs.Exists(fresh)) continue;
        // A spare of the same size is written over in place: a new file's
        // blocks cost far more to make durable. One that holds these very
        // bytes (the same folders) was made durable by the transaction that
        // wrote it, and is only renamed.
        std::string from = fresh;
        std::unique_ptr<PxFile> f;
        bool same = false;
        if (!spare.empty() && fs.Exists(spare) && !fs.IsLink(spare)) {
            f = fs.Open(spare, PxOpenMode::ReadWrite);
            if (f->Size() == bytes.size()) {
                from = spare;
                std::vector<std::uint8_t> held(bytes.size());
                same = f->ReadAt(0, held.data(), held.size()) == held.size() && held == bytes;
            } else {
                f.reset();
            }
        }
        if (!f) f = fs.Open(fresh, PxOpenMode::Create);
        try {
            if (!same) {
                f->WriteAt(0, bytes.data(), bytes.size());
                f->Sync();
            }
            f.reset();
            fs.Rename(from, path);
        } catch (...) {
            f.reset();
            try {
                fs.Remove(from);
            } catch (...) {
                // Named by no journal: the folder's next open removes it.
            }
            throw;
        }
        return path;
    }
}

std::vector<std::string> PxSuperJournal::Read(PxFileSystem& fs, const std::string& path)
{
    const auto bad = [&](const std::string& why) { Damaged(path, why); };
    std::vector<std::uint8_t> b;
    {
        auto f = fs.Open(path, PxOpenMode::Read);
        if (f->Size() > kMostSuperBytes) bad("it is larger than any super-journal");
        b = f->ReadAll();
    }
    if (b.size() < kSuperMagic.size() + 8) bad("it is cut short");
    if (!std::equal(kSuperMagic.begin(), kSuperMagic.end(), b.begin())) bad("its header is broken");
    if (PxCrc32(b.data(), b.size() - 4) != PxGetU32(b.data() + b.size() - 4)) bad("its checksum is bad");
    Reader r{b, kSuperMagic.size(), b.size() - 4};
    const std::uint64_t count = r.Int(4);
    std::vector<std::string> folders;
    for (std::uint64_t i = 0; r.ok && i < count; ++i) {
        std::string f = r.Name();
        if (!r.ok) break;
        if (!IsFullPath(f)) bad("it lists a folder by no full path");
        folders.push_back(std::move(f));
    }
    if (!r.ok || r.pos != r.end || folders.empty()) bad("it does not hold what a super-journal holds");
    return folders;
}

std::string PxSuperJournal::SpareName() { return std::string(kSuperPrefix) + std::string(kSuperHexDigits, '0') + ".TMP"; }

bool PxSuperJournal::IsName(std::string_view name) noexcept
{
    const std::string_view prefix = kSuperPrefix, ext = ".JNL";
    if (name.size() != prefix.size() + kSuperHexDigits + ext.size()) return false;
    if (!name.starts_with(prefix) || !name.ends_with(ext)) return false;
    for (char c : name.substr(prefix.size(), kSuperHexDigits))
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::uint32_t PxCrc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) noexcept
{
    // Eight bytes a step: t[k][b] is the CRC of byte b followed by k zero bytes.
    static const auto t = [] {
        std::array<std::array<std::uint32_t, 256>, 8> tables{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            tables[0][i] = c;
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
                tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
        return tables;
    }();
    const auto word = [](const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    };
    crc = ~crc;
    for (; size >= 8; data += 8, size -= 8) {
        const std::uint32_t one = crc ^ word(data);
        const std::uint32_t two = word(data + 4);
        crc = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^ t[4][one >> 24] ^
              t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^ t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
    }
    for (; size > 0; ++data, --size) crc = t[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

PxJournal::PxJournal(PxFileSystem& fs, std::string folder)
    : fs_(fs), folder_(std::move(folder)), path_(PxJoinPath(folder_, kFileName)),
      newPath_(PxJoinPath(folder_, kNewFileName))
{
}

PxJournal::~PxJournal()
{
    CloseFile();
    if (!keptAside_ || inUnit_) return;
    try {
        if (fs_.Exists(newPath_) && !fs_.IsLink(newPath_)) fs_.Remove(newPath_);
    } catch (...) {
        // A .TMP is dropped by the folder's next open.
    }
}

void PxJournal::CloseFile() noexcept
{
    file_.reset();
    readers_.clear();
}

bool PxJournal::Recover(PxFileSystem& fs, const std::string& folder)
{
    // A journal that never counted its records belongs to a change that
    // touched nothing.
    const std::string fresh = PxJoinPath(folder, kNewFileName);
    const bool hadFresh = fs.Exists(fresh) || fs.IsLink(fresh);
    if (hadFresh) {
        fs.Remove(fresh);
        fs.SyncFolder(folder);
    }
    const std::string path = PxJoinPath(folder, kFileName);
    const bool had = fs.Exists(path) || fs.IsLink(path);
    if (had) Resolve(fs, folder, path);
    DropOrphanSupers(fs, folder);
    return had || hadFresh;
}

void PxJournal::Begin()
{
    RTL_ASSERT(!inUnit_, "A unit of work is open already");
    inUnit_ = true;
    tracked_.clear();
    pending_.clear();
    pendingCount_ = 0;
    fileSize_ = 0;
    count_ = 0;
    sealed_ = false;
    namedSuper_ = false;
}

PxJournal::Tracked& PxJournal::Track(const std::string& name, PxFile* source)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    RTL_ASSERT(PxIsTableFileName(name), "The journal keeps table files only");
    auto it = tracked_.find(name);
    if (it != tracked_.end()) return it->second;
    Tracked t;
    t.existed = source || fs_.Exists(PxJoinPath(folder_, name));
    if (t.existed) t.originalSize = source ? source->Size() : Reader(name).Size();
    std::vector<std::uint8_t> payload;
    PutName(payload, name);
    payload.push_back(t.existed ? 1 : 0);
    PutU64(payload, t.originalSize);
    Append(kRecFile, payload);
    return tracked_.emplace(name, std::move(t)).first->second;
}

PxFile& PxJournal::Reader(const std::string& name)
{
    auto it = readers_.find(name);
    if (it == readers_.end())
        it = readers_.emplace(name, fs_.Open(PxJoinPath(folder_, name), PxOpenMode::Read)).first;
    return *it->second;
}

void PxJournal::Protect(const std::string& name, std::uint64_t offset, std::uint64_t size, PxFile* source)
{
    Protect(name, offset, size, source, nullptr, 0);
}

void PxJournal::Protect(const std::string& name, std::uint64_t offset, std::uint64_t size, PxFile* source,
                        const std::uint8_t* image, std::size_t imageSize)
{
    Tracked& t = Track(name, source);
    const std::uint64_t end = size > t.originalSize || offset > t.originalSize - size ? t.originalSize : offset + size;
    if (offset >= end) return;
    // The parts of [offset, end) not saved yet.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
    std::uint64_t cur = offset;
    auto it = t.saved.upper_bound(offset);
    if (it != t.saved.begin()) {
        auto prev = std::prev(it);
        if (prev->second > cur) cur = prev->second;
    }
    for (; cur < end && it != t.saved.end() && it->first < end; ++it) {
        if (it->first > cur) gaps.emplace_back(cur, it->first);
        cur = std::max(cur, it->second);
    }
    if (cur < end) gaps.emplace_back(cur, end);
    for (const auto& [a, b] : gaps) {
        std::vector<std::uint8_t> payload;
        PutName(payload, name);
        PutU64(payload, a);
        const std::size_t head = payload.size();
        payload.resize(head + static_cast<std::size_t>(b - a));
        if (image && b - offset <= imageSize)
            std::memcpy(payload.data() + head, image + (a - offset), static_cast<std::size_t>(b - a));
        else
            (source ? *source : Reader(name)).ReadExact(a, payload.data() + head, static_cast<std::size_t>(b - a));
        Append(kRecImage, payload);
        // Merge [a, b) into the saved set.
        std::uint64_t lo = a, hi = b;
        auto j = t.saved.lower_bound(lo);
        if (j != t.saved.begin() && std::prev(j)->second >= lo) j = std::prev(j);
        while (j != t.saved.end() && j->first <= hi) {
            lo = std::min(lo, j->first);
            hi = std::max(hi, j->second);
            j = t.saved.erase(j);
        }
        t.saved.emplace(lo, hi);
    }
}

void PxJournal::ProtectAll(const std::string& name)
{
    Protect(name, 0, std::numeric_limits<std::uint64_t>::max() / 2);
}

void PxJournal::NoteCreate(const std::string& name)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    RTL_ASSERT(PxIsTableFileName(name), "The journal keeps table files only");
    readers_.erase(name);
    Tracked t;
    std::vector<std::uint8_t> payload;
    PutName(payload, name);
    payload.push_back(0);
    PutU64(payload, 0);
    Append(kRecFile, payload);
    tracked_[name] = std::move(t);
}

void PxJournal::NoteRename(const std::string& from, const std::string& to)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    RTL_ASSERT(PxIsTableFileName(from) && PxIsTableFileName(to), "The journal keeps table files only");
    std::vector<std::uint8_t> payload;
    PutName(payload, from);
    PutName(payload, to);
    Append(kRecRename, payload);
    tracked_.erase(from);
    tracked_.erase(to);
    readers_.erase(from);
    readers_.erase(to);
}

void PxJournal::NameSuper(const std::string& superPath, const std::string& folder)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    RTL_ASSERT(!namedSuper_, "The unit names its super-journal already");
    std::vector<std::uint8_t> payload;
    PutName(payload, superPath);
    PutName(payload, folder);
    Append(kRecSuper, payload);
    namedSuper_ = true;
}

void PxJournal::Append(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    const auto rec = Frame(type, payload);
    pending_.insert(pending_.end(), rec.begin(), rec.end());
    ++pendingCount_;
}

void PxJournal::Sync()
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    if (pending_.empty()) return;
    const std::uint32_t count = count_ + pendingCount_;
    if (!sealed_) {
        // Written whole under the new name, then renamed: a .JNL always
        // counts records that are all there.
        file_.reset();
        if (fs_.Exists(path_)) throw EPxIoError(rtl::Format(SJournalExists, path_.c_str()));
        std::vector<std::uint8_t> bytes(kMagic.begin(), kMagic.end());
        const auto counts = Counts(count, kHeaderSize + pending_.size());
        bytes.insert(bytes.end(), counts.begin(), counts.end());
        bytes.insert(bytes.end(), pending_.begin(), pending_.end());
        // A .TMP that a commit put aside (Commit without durable) is written
        // over in place: a new file's blocks cost far more to make durable.
        // What lies beyond the new records is ignored, as a torn tail is.
        if (fs_.Exists(newPath_) && (!keptAside_ || fs_.IsLink(newPath_))) fs_.Remove(newPath_);
        keptAside_ = false;
        file_ = fs_.Exists(newPath_) ? fs_.Open(newPath_, PxOpenMode::ReadWrite) : fs_.Open(newPath_, PxOpenMode::Create);
        file_->WriteAt(0, bytes.data(), bytes.size());
        file_->Sync();
        file_.reset();
        fs_.Rename(newPath_, path_);
        sealed_ = true;
        file_ = fs_.Open(path_, PxOpenMode::ReadWrite);
        fs_.SyncFolder(folder_);
        fileSize_ = bytes.size();
    } else {
        // The records first, then the counts that take them in.
        file_->WriteAt(fileSize_, pending_.data(), pending_.size());
        file_->Sync();
        const auto counts = Counts(count, fileSize_ + pending_.size());
        file_->WriteAt(kCountAt, counts.data(), counts.size());
        file_->Sync();
        fileSize_ += pending_.size();
    }
    count_ = count;
    pending_.clear();
    pendingCount_ = 0;
}

void PxJournal::Discard() noexcept
{
    CloseFile();
    pending_.clear();
    pendingCount_ = 0;
    tracked_.clear();
    inUnit_ = false;
}

void PxJournal::Commit(bool durable)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    const bool sealed = sealed_;
    Discard();
    sealed_ = false;
    if (!sealed) {
        // Nothing was counted, so nothing was touched.
        if (fs_.Exists(newPath_)) fs_.Remove(newPath_);
        return;
    }
    if (!durable) {
        // Kept as the .TMP of the next unit.
        fs_.Rename(path_, newPath_);
        keptAside_ = true;
        return;
    }
    fs_.Remove(path_);
    // The removal is what commits: it should survive a power loss, or the
    // next open would roll back a change reported as done. The change is
    // committed once the journal is gone, so a failing sync is not a
    // failure of the change.
    try {
        fs_.SyncFolder(folder_);
    } catch (...) {
    }
}

void PxJournal::Rollback()
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    const bool sealed = sealed_;
    Discard();
    sealed_ = false;
    keptAside_ = false;
    if (!sealed) {
        if (fs_.Exists(newPath_)) fs_.Remove(newPath_);
        return;
    }
    if (fs_.Exists(path_)) Undo(fs_, folder_, path_);
}

} // namespace bde
