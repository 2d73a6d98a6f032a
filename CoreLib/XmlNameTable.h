// The name table: element and attribute names interned as integer IDs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/XmlInternals.h"
#include "platform/rtl/Cp1251.h"

namespace simplexml {

inline std::uint32_t HashBytes(std::string_view bytes)
{
    std::uint32_t h = 0;
    for (const char c : bytes) h = h * 33 + static_cast<unsigned char>(c);
    return h;
}

class TXmlNameTable final : public TXmlBase, public IXmlNameTable {
public:
    explicit TXmlNameTable(int bucketCount)
        : buckets_(static_cast<std::size_t>(std::clamp(bucketCount, 1, kMaxBuckets)))
    {
        GetID("#text");
        GetID("#cdata-section");
        GetID("#comment");
        GetID("#document");
        GetID("xml");
    }

    std::int32_t GetID(std::string_view name) override
    {
        if (name.empty()) return -1;
        auto& bucket = buckets_[Hash(name) % buckets_.size()];
        for (const std::int32_t id : bucket)
            if (names_[static_cast<std::size_t>(id)] == name) return id;
        const auto id = static_cast<std::int32_t>(names_.size());
        names_.emplace_back(name);
        bucket.push_back(id);
        return id;
    }

    std::string GetName(std::int32_t id) override
    {
        if (!IsValidID(id)) return {};
        return names_[static_cast<std::size_t>(id)];
    }

    // The name's ID, -1 when it is not in the table (nothing is interned).
    std::int32_t FindID(std::string_view name) const
    {
        if (name.empty()) return -1;
        for (const std::int32_t id : buckets_[Hash(name) % buckets_.size()])
            if (names_[static_cast<std::size_t>(id)] == name) return id;
        return -1;
    }

    bool IsValidID(std::int32_t id) const { return id >= 0 && static_cast<std::size_t>(id) < names_.size(); }
    int Count() const { return static_cast<int>(names_.size()); }
    const std::string& NameOf(std::int32_t id) const { return names_[static_cast<std::size_t>(id)]; }
    int BucketCount() const { return static_cast<int>(buckets_.size()); }
    const std::vector<std::int32_t>& Bucket(int index) const { return buckets_[static_cast<std::size_t>(index)]; }

private:
    // The hash of the name's Windows-1251 bytes, the names' stored form, so
    // that the buckets the binary form stores are those of a table that
    // holds 8-bit names; a name that Windows-1251 cannot hold hashes its
    // UTF-8 bytes.
    static std::uint32_t Hash(std::string_view name)
    {
        const bool ascii = std::all_of(name.begin(), name.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) return HashBytes(name);
        std::string bytes;
        return rtl::TryUtf8ToCp1251(name, bytes) ? HashBytes(bytes) : HashBytes(name);
    }

    std::vector<std::string> names_;
    std::vector<std::vector<std::int32_t>> buckets_;
};

// The table object behind an interface; EInvalidCast for a foreign one.
TXmlNameTable* ToTable(IXmlNameTable* table);
// The table of the process that documents use unless given another.
rtl::RefPtr<TXmlNameTable>& SharedNameTable();

} // namespace simplexml
