// Helpers of the table engine's tests: a temporary folder, snapshots of its
// files (PxFolderSnapshot.h), pxlib as an independent reader of what the engine writes, and a file
// system that fails a chosen write.
#pragma once

#include "tests/support/TempFolder.h"
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <paradox.h>
}

#include "platform/bde/PxDatabase.h"
#include "platform/bde/PxIo.h"
#include "platform/rtl/NumText.h"
#include "tests/platform/bde/PxFaultyFileSystem.h"
#include "tests/platform/bde/PxFolderSnapshot.h"

namespace bde::test {

// A fresh folder under the system's temporary folder, removed at the end.
using TempFolder = testing_support::TempFolder;

// While it lives, folders opened without a cache size take a cache of a few
// blocks, so that a transaction outgrows it and its changes go out early.
class SmallCache {
public:
    explicit SmallCache(std::size_t bytes = 8 * 1024) : was_(PxDefaultCacheBytes()) { PxSetDefaultCacheBytes(bytes); }
    ~SmallCache() { PxSetDefaultCacheBytes(was_); }
    SmallCache(const SmallCache&) = delete;
    SmallCache& operator=(const SmallCache&) = delete;

private:
    std::size_t was_;
};

// ---- pxlib ------------------------------------------------------------------

// A value as pxlib reads it, as text: "NULL", integers, numbers with up to 6
// decimals, text as bytes in UTF-8 (pxlib converts from the header's code
// page), blobs as "<n bytes>" with their bytes in `blobs`.
struct PxlibTable {
    bool opened = false;
    int fields = 0;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::vector<std::vector<std::uint8_t>>> blobs; // per row, per field
};

inline std::string NumberText(double d)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 6);
    return std::string(buf, r.ptr);
}

// pxlib of this system crashes on a blob file whose size is a multiple of
// 4 KiB; the engine writes whole blocks, so pxlib gets a copy with one byte
// more (outside every block).
inline PxlibTable PxlibRead(const std::string& dbPath, const std::string& mbPath = "")
{
    PxlibTable t;
    pxdoc_t* px = PX_new();
    if (PX_open_file(px, dbPath.c_str()) < 0) {
        PX_delete(px);
        return t;
    }
    std::string copy;
    if (!mbPath.empty()) {
        copy = mbPath + ".pxlib";
        auto bytes = ReadFileBytes(mbPath);
        if (bytes.size() % 4096 == 0) bytes.push_back(0);
        WriteFileBytes(copy, bytes);
        PX_set_blob_file(px, copy.c_str());
    }
    PX_set_targetencoding(px, "UTF-8");
    t.opened = true;
    t.fields = PX_get_num_fields(px);
    const int n = PX_get_num_records(px);
    for (int i = 0; i < n; ++i) {
        pxval_t** v = PX_retrieve_record(px, i);
        std::vector<std::string> row;
        std::vector<std::vector<std::uint8_t>> blobs(static_cast<std::size_t>(t.fields));
        if (!v) {
            row.push_back("<unreadable>");
        } else {
            for (int j = 0; j < t.fields; ++j) {
                pxval_t* x = v[j];
                if (x->isnull) {
                    row.push_back("NULL");
                } else {
                    switch (x->type) {
                    case pxfAlpha: case pxfMemoBLOb: case pxfFmtMemoBLOb:
                        row.emplace_back(x->value.str.val, static_cast<std::size_t>(x->value.str.len));
                        break;
                    case pxfBLOb: case pxfGraphic: case pxfOLE: case pxfBytes:
                        blobs[static_cast<std::size_t>(j)].assign(x->value.str.val, x->value.str.val + x->value.str.len);
                        row.push_back("<" + rtl::IntToStr(x->value.str.len) + " bytes>");
                        break;
                    case pxfShort: case pxfLong: case pxfAutoInc: case pxfDate: case pxfTime: case pxfLogical:
                        row.push_back(rtl::IntToStr(x->value.lval));
                        break;
                    case pxfNumber: case pxfCurrency: case pxfTimestamp:
                        row.push_back(NumberText(x->value.dval));
                        break;
                    case pxfBCD:
                        row.emplace_back(x->value.str.val);
                        break;
                    default:
                        row.push_back("?");
                    }
                }
                if (x->type == pxfAlpha || x->type == pxfMemoBLOb || x->type == pxfFmtMemoBLOb || x->type == pxfBLOb ||
                    x->type == pxfGraphic || x->type == pxfOLE || x->type == pxfBytes || x->type == pxfBCD) {
                    if (!x->isnull && x->value.str.val) px->free(px, x->value.str.val);
                }
                px->free(px, x);
            }
            px->free(px, v);
        }
        t.rows.push_back(std::move(row));
        t.blobs.push_back(std::move(blobs));
    }
    PX_close(px);
    PX_delete(px);
    if (!copy.empty()) std::remove(copy.c_str());
    return t;
}

// pxlib reads the primary index file (its header and its level-1 records).
inline bool PxlibReadsIndex(const std::string& pxPath)
{
    pxdoc_t* pi = PX_new();
    const bool ok = PX_open_file(pi, pxPath.c_str()) >= 0 && PX_read_primary_index(pi) >= 0;
    PX_close(pi);
    PX_delete(pi);
    return ok;
}

// One value handed to pxlib.
struct Cell {
    bool null = true;
    long l = 0;
    double d = 0;
    std::string s;
    static Cell Null() { return {}; }
    static Cell Long(long v) { Cell c; c.null = false; c.l = v; return c; }
    static Cell Double(double v) { Cell c; c.null = false; c.d = v; return c; }
    static Cell Text(std::string v) { Cell c; c.null = false; c.s = std::move(v); return c; }
};

struct PxlibField {
    const char* name;
    int type;
    int len;
};

// Writes a table with pxlib; `pxPath` adds a primary index written by pxlib.
inline void PxlibWrite(const std::string& dbPath, const std::vector<PxlibField>& fields, int keyFields,
                const std::vector<std::vector<Cell>>& rows, const std::string& mbPath = "",
                const std::string& password = "", const std::string& pxPath = "")
{
    pxdoc_t* px = PX_new();
    const int n = static_cast<int>(fields.size());
    auto* f = static_cast<pxfield_t*>(px->malloc(px, static_cast<std::size_t>(n) * sizeof(pxfield_t), "fields"));
    for (int i = 0; i < n; ++i) {
        f[i].px_fname = PX_strdup(px, fields[static_cast<std::size_t>(i)].name);
        f[i].px_ftype = static_cast<char>(fields[static_cast<std::size_t>(i)].type);
        f[i].px_flen = fields[static_cast<std::size_t>(i)].len;
        f[i].px_fdc = 0;
    }
    ASSERT_GE(PX_create_file(px, f, n, dbPath.c_str(), keyFields ? pxfFileTypIndexDB : pxfFileTypNonIndexDB), 0);
    PX_set_tablename(px, "PXLIB.DB");
    if (keyFields) PX_set_value(px, "numprimkeys", static_cast<float>(keyFields));
    if (!password.empty()) PX_set_parameter(px, "password", password.c_str());
    if (!mbPath.empty()) PX_set_blob_file(px, mbPath.c_str());
    for (const auto& row : rows) {
        std::vector<pxval_t*> vals(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            MAKE_PXVAL(px, vals[static_cast<std::size_t>(i)]);
            pxval_t* v = vals[static_cast<std::size_t>(i)];
            const Cell& c = row[static_cast<std::size_t>(i)];
            v->isnull = c.null ? 1 : 0;
            v->type = fields[static_cast<std::size_t>(i)].type;
            v->value.lval = c.l;
            if (!c.s.empty()) {
                v->value.str.val = const_cast<char*>(c.s.data());
                v->value.str.len = static_cast<int>(c.s.size());
            } else if (c.l == 0) {
                v->value.dval = c.d;
            }
        }
        ASSERT_GE(PX_insert_record(px, vals.data()), 0);
        for (auto* v : vals) px->free(px, v);
    }
    if (!pxPath.empty()) {
        pxdoc_t* pi = PX_new();
        auto* g = static_cast<pxfield_t*>(pi->malloc(pi, static_cast<std::size_t>(keyFields) * sizeof(pxfield_t), "key"));
        for (int i = 0; i < keyFields; ++i) {
            g[i].px_fname = PX_strdup(pi, fields[static_cast<std::size_t>(i)].name);
            g[i].px_ftype = static_cast<char>(fields[static_cast<std::size_t>(i)].type);
            g[i].px_flen = fields[static_cast<std::size_t>(i)].len;
            g[i].px_fdc = 0;
        }
        ASSERT_GE(PX_create_file(pi, g, keyFields, pxPath.c_str(), pxfFileTypPrimIndex), 0);
        ASSERT_GE(PX_write_primary_index(px, pi), 0);
        PX_close(pi);
        PX_delete(pi);
    }
    PX_close(px);
    PX_delete(px);
}

// ---- building files by hand from the format description ---------------------

// A data file header written field by field at the offsets the format
// description gives (independent of the engine's own header builder).
struct HandField {
    std::uint8_t type;
    std::uint8_t size;
    std::string name; // code-page bytes
};

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A whole .DB file: header, then the given blocks (each a list of records).
// Versions below 5 have no 4.0+ part and keep the field descriptors at 0x58.
inline std::vector<std::uint8_t> HandDataFile(std::uint8_t version, std::uint8_t fileType, int keyFields,
                                              int blockKiB, int codePage, const std::vector<HandField>& fields,
                                              const std::vector<std::vector<std::vector<std::uint8_t>>>& blocks,
                                              const std::string& sortOrder = "ascii",
                                              const std::vector<std::uint16_t>& fieldNumbers = {},
                                              const std::string& indexName = "")
{
    const bool ext = version >= 5;
    const std::size_t info = ext ? 0x78 : 0x58;
    const std::size_t n = fields.size();
    const std::size_t nameLen = version >= 0x0C ? 261 : 79;
    std::vector<std::uint8_t> h(0x800, 0);
    int recordSize = 0;
    for (const auto& f : fields) recordSize += f.type == 0x17 ? 17 : f.size;
    std::size_t records = 0;
    for (const auto& b : blocks) records += b.size();
    Put16(h, 0x00, static_cast<std::uint16_t>(recordSize));
    Put16(h, 0x02, 0x800);
    h[0x04] = fileType;
    h[0x05] = static_cast<std::uint8_t>(blockKiB);
    Put32(h, 0x06, static_cast<std::uint32_t>(records));
    Put16(h, 0x0A, static_cast<std::uint16_t>(blocks.size()));
    Put16(h, 0x0C, static_cast<std::uint16_t>(blocks.size()));
    Put16(h, 0x0E, blocks.empty() ? 0 : 1);
    Put16(h, 0x10, static_cast<std::uint16_t>(blocks.size()));
    Put16(h, 0x21, static_cast<std::uint16_t>(n));
    Put16(h, 0x23, static_cast<std::uint16_t>(keyFields));
    Put32(h, 0x25, ext ? 0xFF00FF00u : 0u);
    h[0x39] = version;
    if (ext) {
        Put16(h, 0x58, static_cast<std::uint16_t>(0x0100 | version));
        Put16(h, 0x5A, static_cast<std::uint16_t>(0x0100 | version));
        Put16(h, 0x64, static_cast<std::uint16_t>(n + 1));
        Put16(h, 0x6A, static_cast<std::uint16_t>(codePage));
    }
    std::size_t pos = info;
    for (const auto& f : fields) {
        h[pos++] = f.type;
        h[pos++] = f.size;
    }
    pos += 4 + 4 * n;           // table name pointer, field name pointers
    const std::string tn = "HAND.DB";
    std::copy(tn.begin(), tn.end(), h.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += nameLen;
    for (const auto& f : fields) {
        std::copy(f.name.begin(), f.name.end(), h.begin() + static_cast<std::ptrdiff_t>(pos));
        pos += f.name.size() + 1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        Put16(h, pos, fieldNumbers.empty() ? static_cast<std::uint16_t>(i + 1) : fieldNumbers[i]);
        pos += 2;
    }
    std::copy(sortOrder.begin(), sortOrder.end(), h.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += sortOrder.size() + 1;
    std::copy(indexName.begin(), indexName.end(), h.begin() + static_cast<std::ptrdiff_t>(pos));
    const std::size_t bs = static_cast<std::size_t>(blockKiB) * 1024;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        std::vector<std::uint8_t> blk(bs, 0);
        Put16(blk, 0, static_cast<std::uint16_t>(b + 1 < blocks.size() ? b + 2 : 0));
        Put16(blk, 2, static_cast<std::uint16_t>(b > 0 ? b : 0));
        const auto count = static_cast<int>(blocks[b].size());
        Put16(blk, 4, static_cast<std::uint16_t>(count == 0 ? -recordSize : (count - 1) * recordSize));
        std::size_t at = 6;
        for (const auto& r : blocks[b]) {
            std::copy(r.begin(), r.end(), blk.begin() + static_cast<std::ptrdiff_t>(at));
            at += r.size();
        }
        h.insert(h.end(), blk.begin(), blk.end());
    }
    return h;
}

} // namespace bde::test
