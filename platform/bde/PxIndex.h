// Index files of the .PX/.Y layout: a header and index blocks whose records
// are the first key of a block below them, that block's number and the number
// of data records under it. Level 1 points at the blocks of the data file (a
// .DB for a .PX, a .X for a .Y); each higher level points at the index blocks
// of the level below; the root is the single block of the top level.
//
// The engine keeps the data file in memory and writes the index as a function
// of it: Rebuild() lays the index out afresh from the data file's block chain
// (root first, then each level down, every block filled, all blocks linked in
// that order), so that the index on disk always equals a rebuild from the
// data. CollectWrites() hands out only the blocks whose bytes changed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/bde/PxDataFile.h"

namespace bde {

class PxIndexFile {
public:
    // An existing index file; its header is kept (block size, sort order,
    // unknown bytes) and only its counters change.
    PxIndexFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header);
    // A new index file (nothing on disk yet).
    PxIndexFile(std::string name, std::unique_ptr<PxFile> file, PxHeader header, bool isNew);

    const std::string& Name() const noexcept { return name_; }
    const PxHeader& Header() const noexcept { return header_; }
    PxFile& File() noexcept { return *file_; }

    // The bytes of the whole index file for the data file's current chain.
    // EPxError when the index's key does not match the data file's.
    std::vector<std::uint8_t> Build(const PxDataFile& data) const;
    // Build(data) as the file holds it: its blocks scrambled under the code
    // of the header, or, for a file whose header keeps no code, under the
    // data file's code when the blocks on disk are scrambled with it (as some
    // writers leave primary indexes of protected tables).
    std::vector<std::uint8_t> Image(const PxDataFile& data);
    // Makes Image(data) the content to be written.
    void Rebuild(const PxDataFile& data);
    void SetTableCode(std::uint32_t code) noexcept { tableCode_ = code; }
    // The file as it is on disk (after MarkClean: as it will be).
    const std::vector<std::uint8_t>& DiskBytes() const noexcept { return disk_; }

    PxFileChanges CollectWrites() const;
    // Only a rebuild can make the content differ from the disk, so neither
    // the whole-image comparison nor the copy runs after changes that did
    // not rebuild the index.
    bool Dirty() const noexcept { return rebuilt_ && wanted_ != disk_; }
    void MarkClean()
    {
        if (!rebuilt_) return;
        disk_ = wanted_;
        diskSize_ = disk_.size();
        rebuilt_ = false;
    }

private:
    std::string name_;
    std::unique_ptr<PxFile> file_;
    PxHeader header_;
    std::vector<std::uint8_t> disk_;   // what the file holds (no more than an index can hold)
    std::uint64_t diskSize_ = 0;       // the file's size
    std::vector<std::uint8_t> wanted_;
    bool rebuilt_ = false; // wanted_ set since the last MarkClean
    std::uint32_t tableCode_ = 0;
    std::uint32_t code_ = 0;
    bool codeKnown_ = false;
};

// The 2-byte numbers of index records (block numbers, counts) and of the Hint
// field of .X records: unsigned, big-endian, top bit flipped.
void PxPutIndexWord(std::uint8_t* p, std::uint32_t value) noexcept;
std::uint32_t PxGetIndexWord(const std::uint8_t* p) noexcept;

} // namespace bde
