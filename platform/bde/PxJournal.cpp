// Undo journal: record format, writing, and the rollback shared by an
// in-process rollback and the recovery of a leftover journal.
#include "platform/bde/PxJournal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/rtl/Format.h"

namespace bde {

namespace {

constexpr const char* SJournalExists = "An undo journal \"%s\" exists already";
constexpr std::array<std::uint8_t, 8> kMagic = {'P', 'X', 'U', 'N', 'D', 'O', 0, 1};

enum : std::uint8_t { kRecFile = 1, kRecImage = 2, kRecRename = 3, kRecUndone = 4 };

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

struct Reader {
    const std::vector<std::uint8_t>& b;
    std::size_t pos;
    std::size_t end;
    bool ok = true;
    std::uint64_t Int(int bytes)
    {
        if (pos + static_cast<std::size_t>(bytes) > end) { ok = false; return 0; }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(b[pos + static_cast<std::size_t>(i)]) << (8 * i);
        pos += static_cast<std::size_t>(bytes);
        return v;
    }
    std::string Name()
    {
        const auto n = static_cast<std::size_t>(Int(2));
        if (!ok || pos + n > end) { ok = false; return {}; }
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

// Parses the valid records; `validEnd` is where the last valid record ends and
// `resumeAt` the index below which records are still to be undone.
std::vector<Record> Parse(const std::vector<std::uint8_t>& b, std::size_t& validEnd, std::size_t& resumeAt)
{
    std::vector<Record> records;
    validEnd = 0;
    resumeAt = 0;
    // A journal without its header was never synced: nothing it names was touched.
    if (b.size() < kMagic.size() || !std::equal(kMagic.begin(), kMagic.end(), b.begin())) return records;
    resumeAt = std::numeric_limits<std::size_t>::max();
    std::size_t pos = kMagic.size();
    validEnd = pos;
    while (pos + 9 <= b.size()) {
        const std::uint8_t type = b[pos];
        const std::uint32_t len = PxGetU32(b.data() + pos + 1);
        if (pos + 5 + static_cast<std::size_t>(len) + 4 > b.size()) break;
        const std::uint32_t crc = PxGetU32(b.data() + pos + 5 + len);
        if (PxCrc32(b.data() + pos, 5 + static_cast<std::size_t>(len)) != crc) break;
        Reader r{b, pos + 5, pos + 5 + len};
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
            if (r.ok) rec.data.assign(b.begin() + static_cast<std::ptrdiff_t>(r.pos), b.begin() + static_cast<std::ptrdiff_t>(r.end));
            break;
        case kRecRename:
            rec.name = r.Name();
            rec.name2 = r.Name();
            break;
        case kRecUndone:
            resumeAt = std::min(resumeAt, static_cast<std::size_t>(r.Int(4)));
            break;
        default:
            r.ok = false;
        }
        if (!r.ok) break;
        if (type != kRecUndone) records.push_back(std::move(rec));
        pos += 5 + len + 4;
        validEnd = pos;
    }
    resumeAt = std::min(resumeAt, records.size());
    return records;
}

std::vector<std::uint8_t> Frame(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> rec;
    rec.reserve(payload.size() + 9);
    rec.push_back(type);
    PutU32(rec, static_cast<std::uint32_t>(payload.size()));
    rec.insert(rec.end(), payload.begin(), payload.end());
    PutU32(rec, PxCrc32(rec.data(), rec.size()));
    return rec;
}

// Undoes the journal at `path` and removes it.
void Undo(PxFileSystem& fs, const std::string& folder, const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    {
        auto j = fs.Open(path, PxOpenMode::Read);
        bytes = j->ReadAll();
    }
    std::size_t validEnd = 0, resumeAt = 0;
    const std::vector<Record> records = Parse(bytes, validEnd, resumeAt);
    std::unique_ptr<PxFile> journal;
    std::uint64_t journalEnd = validEnd;
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
    // Rename and remove cannot be repeated blindly: their progress is recorded.
    const auto markUndone = [&](std::size_t index) {
        if (!journal) {
            journal = fs.Open(path, PxOpenMode::ReadWrite);
            journal->Truncate(journalEnd);
        }
        std::vector<std::uint8_t> payload;
        PutU32(payload, static_cast<std::uint32_t>(index));
        const auto rec = Frame(kRecUndone, payload);
        journal->WriteAt(journalEnd, rec.data(), rec.size());
        journalEnd += rec.size();
        journal->Sync();
    };
    for (std::size_t i = resumeAt; i-- > 0;) {
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

} // namespace

std::uint32_t PxCrc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) noexcept
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

PxJournal::PxJournal(PxFileSystem& fs, std::string folder)
    : fs_(fs), folder_(std::move(folder)), path_(PxJoinPath(folder_, kFileName))
{
}

PxJournal::~PxJournal() { CloseFile(); }

void PxJournal::CloseFile() noexcept
{
    file_.reset();
    readers_.clear();
}

bool PxJournal::Recover(PxFileSystem& fs, const std::string& folder)
{
    const std::string path = PxJoinPath(folder, kFileName);
    if (!fs.Exists(path)) return false;
    Undo(fs, folder, path);
    return true;
}

void PxJournal::Begin()
{
    RTL_ASSERT(!inUnit_, "A unit of work is open already");
    inUnit_ = true;
    tracked_.clear();
    pending_.clear();
    fileSize_ = 0;
}

PxJournal::Tracked& PxJournal::Track(const std::string& name)
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    auto it = tracked_.find(name);
    if (it != tracked_.end()) return it->second;
    Tracked t;
    const std::string p = PxJoinPath(folder_, name);
    t.existed = fs_.Exists(p);
    if (t.existed) t.originalSize = Reader(name).Size();
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

void PxJournal::Protect(const std::string& name, std::uint64_t offset, std::uint64_t size)
{
    Tracked& t = Track(name);
    const std::uint64_t end = std::min<std::uint64_t>(offset + size, t.originalSize);
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
        Reader(name).ReadExact(a, payload.data() + head, static_cast<std::size_t>(b - a));
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
    std::vector<std::uint8_t> payload;
    PutName(payload, from);
    PutName(payload, to);
    Append(kRecRename, payload);
    tracked_.erase(from);
    tracked_.erase(to);
    readers_.erase(from);
    readers_.erase(to);
}

void PxJournal::Append(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    const auto rec = Frame(type, payload);
    pending_.insert(pending_.end(), rec.begin(), rec.end());
}

void PxJournal::Sync()
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    if (pending_.empty()) return;
    bool created = false;
    if (!file_) {
        if (fs_.Exists(path_)) throw EPxIoError(rtl::Format(SJournalExists, path_.c_str()));
        file_ = fs_.Open(path_, PxOpenMode::Create);
        created = true;
        file_->WriteAt(0, kMagic.data(), kMagic.size());
        fileSize_ = kMagic.size();
    }
    file_->WriteAt(fileSize_, pending_.data(), pending_.size());
    fileSize_ += pending_.size();
    pending_.clear();
    file_->Sync();
    if (created) fs_.SyncFolder(folder_);
}

void PxJournal::Commit()
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    const bool had = file_ != nullptr;
    CloseFile();
    pending_.clear();
    tracked_.clear();
    inUnit_ = false;
    if (had) {
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
}

void PxJournal::Rollback()
{
    RTL_ASSERT(inUnit_, "No unit of work is open");
    const bool had = file_ != nullptr;
    CloseFile();
    pending_.clear();
    tracked_.clear();
    inUnit_ = false;
    if (had && fs_.Exists(path_)) Undo(fs_, folder_, path_);
}

} // namespace bde
