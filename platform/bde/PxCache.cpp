// Pages of table files held within a budget, dirty ones until written out.
#include "platform/bde/PxCache.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

#include "platform/rtl/Exceptions.h"

namespace bde {

// ---- the cache ---------------------------------------------------------------------

namespace {
std::size_t defaultCacheBytes = kPxDefaultCacheBytes;

// [first, last) of the first n bytes: where `now` differs from `was`
// (first == last when nowhere); eight bytes at a time, then byte by byte.
std::pair<std::size_t, std::size_t> Differing(const std::uint8_t* now, const std::uint8_t* was, std::size_t n) noexcept
{
    const auto sameWord = [&](std::size_t at) {
        std::uint64_t a, b;
        std::memcpy(&a, now + at, sizeof a);
        std::memcpy(&b, was + at, sizeof b);
        return a == b;
    };
    std::size_t first = 0, last = n;
    while (first + 8 <= last && sameWord(first)) first += 8;
    while (first < last && now[first] == was[first]) ++first;
    while (last >= first + 8 && sameWord(last - 8)) last -= 8;
    while (last > first && now[last - 1] == was[last - 1]) --last;
    return {first, last};
}
} // namespace

std::size_t PxDefaultCacheBytes() noexcept { return defaultCacheBytes; }
void PxSetDefaultCacheBytes(std::size_t bytes) noexcept { defaultCacheBytes = bytes ? bytes : kPxDefaultCacheBytes; }

PxPageCache::PxPageCache(std::size_t budgetBytes) : budget_(budgetBytes) {}

PxPageCache::~PxPageCache() = default;

void PxPageCache::Unlink(Page* p) noexcept
{
    if (p->prev) p->prev->next = p->next;
    else if (head_ == p) head_ = p->next;
    if (p->next) p->next->prev = p->prev;
    else if (tail_ == p) tail_ = p->prev;
    p->prev = p->next = nullptr;
}

void PxPageCache::PushBack(Page* p) noexcept
{
    p->prev = tail_;
    p->next = nullptr;
    if (tail_) tail_->next = p;
    else head_ = p;
    tail_ = p;
}

void PxPageCache::Evict() noexcept
{
    while (used_ > budget_ && head_) {
        Page* p = head_;
        p->file->Drop(p);
    }
}

void PxPageCache::Trim()
{
    if (used_ <= budget_) return;
    if (dirty_ > budget_ / 2 && spill_ && !spilling_) {
        spilling_ = true;
        try {
            spill_();
        } catch (...) {
            spilling_ = false;
            throw;
        }
        spilling_ = false;
    }
    Evict();
}

std::vector<PxPagedFile*> PxPageCache::DirtyFiles() const
{
    std::vector<PxPagedFile*> out;
    for (PxPagedFile* f : files_)
        if (f->Dirty()) out.push_back(f);
    return out;
}

// ---- one file ----------------------------------------------------------------------

PxPagedFile::PxPagedFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, std::size_t headerSize,
                         std::size_t pageSize, bool isNew)
    : cache_(cache), name_(std::move(name)), file_(std::move(file)), headerSize_(headerSize), pageSize_(pageSize)
{
    RTL_ASSERT(pageSize_ > 0, "A page has bytes");
    if (!isNew) {
        diskSize_ = file_->Size();
        diskHeader_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(diskSize_, headerSize_)));
        if (!diskHeader_.empty()) diskHeader_.resize(file_->ReadAt(0, diskHeader_.data(), diskHeader_.size()));
    }
    header_ = diskHeader_;
    size_ = diskSize_;
    cache_.files_.push_back(this);
}

PxPagedFile::~PxPagedFile()
{
    Discard();
    auto& files = cache_.files_;
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
}

void PxPagedFile::SetHeader(std::vector<std::uint8_t> header)
{
    header_ = std::move(header);
    headerDirty_ = header_ != diskHeader_;
}

PxPageCache::Page* PxPagedFile::Load(std::uint32_t page, bool read)
{
    auto it = pages_.find(page);
    if (it != pages_.end()) {
        PxPageCache::Page* p = it->second.get();
        if (!p->dirty) {
            // Most recently used.
            cache_.Unlink(p);
            cache_.PushBack(p);
        }
        return p;
    }
    auto p = std::make_unique<PxPageCache::Page>();
    p->file = this;
    p->number = page;
    p->bytes.assign(pageSize_, 0);
    const std::uint64_t at = OffsetOf(page);
    if (read && at < diskSize_) {
        file_->ReadAt(at, p->bytes.data(), p->bytes.size());
        if (codec_) codec_(p->bytes.data(), p->bytes.size(), page, false);
        p->asOnDisk = true;
    }
    PxPageCache::Page* raw = p.get();
    pages_.emplace(page, std::move(p));
    cache_.used_ += pageSize_;
    cache_.PushBack(raw);
    return raw;
}

const std::uint8_t* PxPagedFile::Read(std::uint32_t page)
{
    return Load(page, true)->bytes.data();
}

std::uint8_t* PxPagedFile::Write(std::uint32_t page)
{
    PxPageCache::Page* p = Load(page, true);
    if (!p->dirty) {
        KeepOriginal(p);
        cache_.Unlink(p);
        p->dirty = true;
        cache_.dirty_ += pageSize_;
        dirty_.push_back(page);
    }
    return p->bytes.data();
}

void PxPagedFile::KeepOriginal(PxPageCache::Page* p)
{
    // Scrambled files would need their pages scrambled again: the journal
    // reads those from the file.
    const std::uint64_t at = OffsetOf(p->number);
    if (!p->asOnDisk || codec_ || at >= diskSize_) return;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(pageSize_, diskSize_ - at));
    p->original.assign(p->bytes.begin(), p->bytes.begin() + static_cast<std::ptrdiff_t>(n));
    cache_.used_ += n;
}

void PxPagedFile::ForgetOriginal(PxPageCache::Page* p) noexcept
{
    cache_.used_ -= p->original.size();
    p->original.clear();
    p->original.shrink_to_fit();
}

std::uint8_t* PxPagedFile::Fresh(std::uint32_t page)
{
    auto it = pages_.find(page);
    std::uint8_t* bytes = it != pages_.end() ? Write(page) : nullptr;
    if (!bytes) {
        Load(page, false);
        bytes = Write(page);
    }
    std::memset(bytes, 0, pageSize_);
    return bytes;
}

void PxPagedFile::Drop(PxPageCache::Page* p) noexcept
{
    if (p->dirty) {
        // Only Discard drops dirty pages, and it forgets the whole list.
        cache_.dirty_ -= pageSize_;
        ForgetOriginal(p);
    } else {
        cache_.Unlink(p);
    }
    cache_.used_ -= pageSize_;
    pages_.erase(p->number);
}

bool PxPagedFile::Dirty() const noexcept
{
    return !dirty_.empty() || headerDirty_ || size_ != diskSize_;
}

std::vector<PxPagedFile::Region> PxPagedFile::PendingRegions() const
{
    std::vector<Region> out;
    if (headerDirty_) out.push_back({0, header_.size(), diskHeader_.data(), diskHeader_.size()});
    for (std::uint32_t number : dirty_) {
        const std::uint64_t at = OffsetOf(number);
        if (at >= size_) continue; // cut off by the new size
        const PxPageCache::Page& p = *pages_.at(number);
        const Span span = ChangedSpan(p);
        if (span.from == span.to) continue;
        const std::size_t known = std::min(span.to, p.original.size());
        out.push_back({at + span.from, span.to - span.from, known > span.from ? p.original.data() + span.from : nullptr,
                       known > span.from ? known - span.from : 0});
    }
    // Cutting the file loses the bytes past the new size.
    if (size_ < diskSize_) out.push_back({size_, diskSize_ - size_});
    std::sort(out.begin(), out.end(), [](const Region& a, const Region& b) { return a.offset < b.offset; });
    return out;
}

PxPagedFile::Span PxPagedFile::ChangedSpan(const PxPageCache::Page& p) const noexcept
{
    const std::uint64_t at = OffsetOf(p.number);
    const std::size_t extent = at < size_ ? static_cast<std::size_t>(std::min<std::uint64_t>(pageSize_, size_ - at)) : 0;
    if (p.original.empty()) return {0, extent};
    const std::size_t known = std::min(p.original.size(), extent);
    auto [first, last] = Differing(p.bytes.data(), p.original.data(), known);
    if (extent > known) {
        // Past the file's end when the page was first changed.
        if (first == last) first = known;
        last = extent;
    }
    return {first, last};
}

void PxPagedFile::WriteOut()
{
    if (headerDirty_) {
        // Only the bytes that differ: most writes change a few counters.
        std::size_t first = 0, last = header_.size();
        if (diskHeader_.size() == header_.size())
            std::tie(first, last) = Differing(header_.data(), diskHeader_.data(), header_.size());
        if (first < last) file_->WriteAt(first, header_.data() + first, last - first);
        unsynced_ = true;
        diskHeader_ = header_;
        headerDirty_ = false;
        diskSize_ = std::max<std::uint64_t>(diskSize_, header_.size());
    }
    std::vector<std::uint32_t> dirty;
    dirty.swap(dirty_);
    std::sort(dirty.begin(), dirty.end());
    // Pages that follow each other go out in one write, up to a bound.
    constexpr std::size_t kMostPagesAWrite = 32;
    std::vector<std::uint8_t> run;
    std::uint64_t runAt = 0;
    const auto flush = [&] {
        if (run.empty()) return;
        file_->WriteAt(runAt, run.data(), run.size());
        unsynced_ = true;
        diskSize_ = std::max<std::uint64_t>(diskSize_, runAt + run.size());
        run.clear();
    };
    for (std::uint32_t number : dirty) {
        PxPageCache::Page* p = pages_.at(number).get();
        const std::uint64_t at = OffsetOf(number);
        const Span span = ChangedSpan(*p);
        if (span.from < span.to) {
            const std::uint64_t start = at + span.from;
            if (!run.empty() && (runAt + run.size() != start || run.size() >= kMostPagesAWrite * pageSize_)) flush();
            if (run.empty()) runAt = start;
            const std::size_t was = run.size();
            if (codec_) {
                // A scrambled page goes out whole: its old bytes are not kept.
                RTL_ASSERT(span.from == 0, "A scrambled page is written whole");
                run.resize(was + pageSize_);
                std::memcpy(run.data() + was, p->bytes.data(), pageSize_);
                codec_(run.data() + was, pageSize_, number, true);
                run.resize(was + span.to);
            } else {
                run.insert(run.end(), p->bytes.begin() + static_cast<std::ptrdiff_t>(span.from),
                           p->bytes.begin() + static_cast<std::ptrdiff_t>(span.to));
            }
        }
        p->dirty = false;
        p->asOnDisk = at < size_;
        ForgetOriginal(p);
        cache_.dirty_ -= pageSize_;
        cache_.PushBack(p);
    }
    flush();
    const bool cut = size_ < diskSize_;
    if (size_ != diskSize_) {
        file_->Truncate(size_);
        diskSize_ = size_;
        unsynced_ = true;
    }
    // Pages past the end hold nothing of the file any more.
    for (auto it = pages_.begin(); cut && it != pages_.end();) {
        PxPageCache::Page* p = it->second.get();
        ++it;
        if (OffsetOf(p->number) >= size_) Drop(p);
    }
}

void PxPagedFile::SyncWritten()
{
    if (!unsynced_) return;
    file_->Sync();
    unsynced_ = false;
}

void PxPagedFile::StartSync()
{
    if (unsynced_) file_->StartSync();
}

void PxPagedFile::Discard() noexcept
{
    while (!pages_.empty()) Drop(pages_.begin()->second.get());
    dirty_.clear();
    header_ = diskHeader_;
    headerDirty_ = false;
    size_ = diskSize_;
}

} // namespace bde
