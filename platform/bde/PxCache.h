// The block cache of a folder of tables and the files seen through it.
//
// Every table file (.DB, .PX, .Xnn/.Ynn, .MB) is read and written in pages of
// its own size (a data or index file's block size, 4 KiB for a blob file)
// that follow a header region kept whole in memory. Pages are read when they
// are first needed and stay in the cache while there is room; a changed page
// stays dirty in memory until its folder writes the changes out (at the end
// of a unit of work, or earlier when dirty pages outgrow the cache, always
// after their undo images are durable in the journal). Clean pages are
// dropped, least recently used first, when the cache is over its budget.
//
// Pages are dropped only at Trim(), which the table calls between
// operations, never while it holds a page pointer: a pointer returned by
// Read() or Write() stays valid until the next Trim() or Discard().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/bde/PxIo.h"

namespace bde {

// The default per folder, whatever the size of the tables: the unit of work
// being written and the hot blocks (the upper index levels, the blocks near
// the last changes); the system's own file cache keeps the rest at hand, so
// a larger cache saves little time and costs memory.
inline constexpr std::size_t kPxDefaultCacheBytes = 8u << 20;
// The size folders opened without one take: kPxDefaultCacheBytes unless a
// test has set another (0 goes back to the default).
std::size_t PxDefaultCacheBytes() noexcept;
void PxSetDefaultCacheBytes(std::size_t bytes) noexcept;

class PxPagedFile;

class PxPageCache {
public:
    explicit PxPageCache(std::size_t budgetBytes);
    ~PxPageCache();
    PxPageCache(const PxPageCache&) = delete;
    PxPageCache& operator=(const PxPageCache&) = delete;

    std::size_t Budget() const noexcept { return budget_; }
    // Bytes of the pages held (clean and dirty) and of the dirty ones.
    std::size_t Used() const noexcept { return used_; }
    std::size_t DirtyBytes() const noexcept { return dirty_; }

    // Called when dirty pages alone exceed the budget at Trim(): the owner
    // writes them out (journal first), which makes them clean.
    void SetSpill(std::function<void()> spill) { spill_ = std::move(spill); }

    // Drops clean pages until the cache is within its budget; spills first
    // when the dirty pages alone exceed it.
    void Trim();

    // Every file with dirty pages (for the owner's write-out).
    std::vector<PxPagedFile*> DirtyFiles() const;

private:
    friend class PxPagedFile;
    struct Page {
        PxPagedFile* file = nullptr;
        std::uint32_t number = 0;
        bool dirty = false;
        bool asOnDisk = false; // bytes (within the file) are the file's, when clean
        std::vector<std::uint8_t> bytes;
        // While dirty: the file's bytes of the page before the change (the
        // part within the file), kept for the journal; empty when unknown.
        std::vector<std::uint8_t> original;
        Page* prev = nullptr; // LRU list of clean pages, most recent last
        Page* next = nullptr;
    };
    void Unlink(Page* p) noexcept;
    void PushBack(Page* p) noexcept;
    void Evict() noexcept;

    std::size_t budget_;
    std::size_t used_ = 0;
    std::size_t dirty_ = 0;
    Page* head_ = nullptr;
    Page* tail_ = nullptr;
    std::vector<PxPagedFile*> files_;
    std::function<void()> spill_;
    bool spilling_ = false;
};

// One table file: a header region [0, headerSize) and pages after it.
class PxPagedFile {
public:
    // Scrambles (encode) or unscrambles a page; `page` counts from 0.
    using Codec = std::function<void(std::uint8_t* bytes, std::size_t size, std::uint32_t page, bool encode)>;

    // An open file; `headerSize` bytes of header are read now (fewer when
    // the file is shorter). A new file has no bytes on disk yet.
    PxPagedFile(PxPageCache& cache, std::string name, std::unique_ptr<PxFile> file, std::size_t headerSize,
                std::size_t pageSize, bool isNew = false);
    ~PxPagedFile();
    PxPagedFile(const PxPagedFile&) = delete;
    PxPagedFile& operator=(const PxPagedFile&) = delete;

    const std::string& Name() const noexcept { return name_; }
    PxFile& File() noexcept { return *file_; }
    std::size_t PageSize() const noexcept { return pageSize_; }
    std::size_t HeaderSize() const noexcept { return headerSize_; }
    void SetCodec(Codec codec) { codec_ = std::move(codec); }

    // The header as it is to be (initially as read).
    const std::vector<std::uint8_t>& Header() const noexcept { return header_; }
    void SetHeader(std::vector<std::uint8_t> header);
    // Header as it is on disk.
    const std::vector<std::uint8_t>& DiskHeader() const noexcept { return diskHeader_; }

    // A page's bytes, unscrambled; zeros past the end of the file.
    const std::uint8_t* Read(std::uint32_t page);
    // The same, to be changed: the page is dirty from now on.
    std::uint8_t* Write(std::uint32_t page);
    // A page whose old bytes do not matter (a new or reused block): zeros, dirty.
    std::uint8_t* Fresh(std::uint32_t page);

    // The size the file is to have at the next write-out (it is cut or
    // grown then); SizeOnDisk() is what it has now.
    void SetSize(std::uint64_t size) noexcept { size_ = size; }
    std::uint64_t Size() const noexcept { return size_; }
    std::uint64_t SizeOnDisk() const noexcept { return diskSize_; }

    bool Dirty() const noexcept;

    // Write-out, in the owner's order: the regions that will change (for the
    // journal), then the writes themselves, which change nothing outside
    // those regions. After WriteOut() the file is clean.
    struct Region {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        // The file's bytes from offset as they are now, when the cache holds
        // them (originalSize of them), so the journal need not read them.
        const std::uint8_t* original = nullptr;
        std::size_t originalSize = 0;
    };
    std::vector<Region> PendingRegions() const;
    void WriteOut();
    // Makes durable what WriteOut wrote since the last call; StartSync only
    // starts writing it out (see PxFile::StartSync).
    void SyncWritten();
    void StartSync();
    // Forgets every page and the header changes (after a rollback, or when
    // the file goes): the next read comes from disk.
    void Discard() noexcept;

private:
    friend class PxPageCache;
    PxPageCache::Page* Load(std::uint32_t page, bool read);
    void Drop(PxPageCache::Page* p) noexcept;
    void KeepOriginal(PxPageCache::Page* p);
    // The part of a dirty page the write-out writes, from the page's start:
    // the bytes that differ from the file's, those past its old end, or the
    // whole page (within the file's new size) when the old bytes are unknown.
    struct Span {
        std::size_t from = 0;
        std::size_t to = 0;
    };
    Span ChangedSpan(const PxPageCache::Page& p) const noexcept;
    void ForgetOriginal(PxPageCache::Page* p) noexcept;
    std::uint64_t OffsetOf(std::uint32_t page) const noexcept
    {
        return headerSize_ + static_cast<std::uint64_t>(page) * pageSize_;
    }

    PxPageCache& cache_;
    std::string name_;
    std::unique_ptr<PxFile> file_;
    std::size_t headerSize_;
    std::size_t pageSize_;
    Codec codec_;
    std::vector<std::uint8_t> header_;
    std::vector<std::uint8_t> diskHeader_;
    std::uint64_t size_ = 0;
    std::uint64_t diskSize_ = 0;
    std::unordered_map<std::uint32_t, std::unique_ptr<PxPageCache::Page>> pages_;
    std::vector<std::uint32_t> dirty_; // numbers of the dirty pages
    bool headerDirty_ = false;
    bool unsynced_ = false;
};

} // namespace bde
