// Paradox file formats: field types, field definitions and their limits, the
// byte codec of field values, code pages and the headers of the block files.
//
// A Paradox table is a family of files: the data file (.DB), the primary index
// (.PX), the blob file (.MB), the validity checks (.VAL) and the secondary
// indexes (.Xnn/.Ynn, .XGn/.YGn). The data file and the .X files share one
// layout: a header followed by blocks of fixed-size records; the .PX and .Y
// files share another (a header followed by index blocks). Control data is
// little-endian; field values inside records are big-endian with the sign
// bit flipped, so that their bytes sort as their values and all-zero bytes
// mean a blank (Null) value.
//
// Everything here is pure computation over bytes; the files themselves are
// handled by PxDataFile, PxIndex, PxBlob and PxTable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Variant.h"

namespace bde {

// Failures of the table engine: a broken or unsupported file, a value that does
// not fit its field, a key violation, an I/O error. The message names the table
// (and field or file) concerned.
class EPxError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};
// A record with the same primary key exists already.
class EPxKeyViolation : public EPxError {
public:
    using EPxError::EPxError;
};
// The table is encrypted and cannot be read.
class EPxEncrypted : public EPxError {
public:
    using EPxError::EPxError;
};

// Field type codes as stored in the headers.
enum class PxFieldType : std::uint8_t {
    Alpha = 0x01,     // "A": fixed-length text
    Date = 0x02,      // "D"
    Short = 0x03,     // "S": 16-bit integer
    Long = 0x04,      // "I": 32-bit integer
    Money = 0x05,     // "$": double
    Number = 0x06,    // "N": double
    Logical = 0x09,   // "L"
    Memo = 0x0C,      // "M": text blob
    Blob = 0x0D,      // "B": binary blob
    FmtMemo = 0x0E,   // "F": formatted memo blob
    Ole = 0x0F,       // "O": OLE blob
    Graphic = 0x10,   // "G": graphic blob
    Time = 0x14,      // "T": milliseconds since midnight
    Timestamp = 0x15, // "@": milliseconds since 0001-01-01 minus one day
    AutoInc = 0x16,   // "+": 32-bit counter
    Bcd = 0x17,       // "#": 17-byte packed decimal
    Bytes = 0x18,     // "Y": fixed-length bytes
};

bool PxIsKnownFieldType(std::uint8_t code) noexcept;
// The stored value lives in the .MB file (or inline in the leader).
bool PxIsBlobType(PxFieldType type) noexcept;
// "Alpha", "Number", ... for messages.
const char* PxFieldTypeName(PxFieldType type) noexcept;

// A field as the engine's users see it.
//  - size: Alpha and Bytes: the length in bytes; blob types: the length of the
//    leader kept in the record (0 to 240; Memo and FmtMemo at least 1); Bcd:
//    the number of digits after the decimal point (0 to 32); other types: 0.
//  - required: the field must not be blank (from the .VAL file).
struct PxFieldDef {
    std::string name; // UTF-8
    PxFieldType type = PxFieldType::Alpha;
    int size = 0;
    bool required = false;
};

// The fSize byte of the header for a field definition, and back.
int PxHeaderSize(PxFieldType type, int size) noexcept;
int PxUserSize(PxFieldType type, int headerSize) noexcept;
// Bytes the field takes in a record.
int PxRecordBytes(PxFieldType type, int headerSize) noexcept;

// Limits of the format, checked when a table is created.
inline constexpr int kPxMaxFields = 255;
inline constexpr int kPxMaxFieldNameLength = 25; // characters
inline constexpr int kPxMaxAlphaSize = 255;
inline constexpr int kPxMaxBytesSize = 255;
inline constexpr int kPxMaxLeaderSize = 240;
inline constexpr int kPxMaxBcdDecimals = 32;
inline constexpr int kPxMaxKeyFields = 16;
inline constexpr int kPxBlobFieldExtra = 10; // offset, length and mod number after the leader

// File version identifiers (header byte 0x39).
inline constexpr std::uint8_t kPxVersion30 = 0x03;
inline constexpr std::uint8_t kPxVersion35 = 0x04;
inline constexpr std::uint8_t kPxVersion40 = 0x09;
inline constexpr std::uint8_t kPxVersion50 = 0x0B;
inline constexpr std::uint8_t kPxVersion70 = 0x0C;
// "3.5", "4.0", "5.0", "7.0" for messages.
std::string PxVersionName(std::uint8_t version);

// File type codes (header byte 0x04).
enum class PxFileType : std::uint8_t {
    KeyedData = 0,
    PrimaryIndex = 1,
    UnkeyedData = 2,
    SecondaryData = 3,      // .Xnn, non-incrementing
    SecondaryIndex = 4,     // .Ynn
    SecondaryDataInc = 5,   // .Xnn, incrementing
    CompositeData = 6,      // .XGn, non-incrementing
    CompositeIndex = 7,     // .YGn
    CompositeDataInc = 8,   // .XGn, incrementing
};
// The file has the data-file layout (.DB and .X files).
bool PxIsDataLayout(std::uint8_t fileType) noexcept;

// ---- little-endian control data ----------------------------------------------

std::uint16_t PxGetU16(const std::uint8_t* p) noexcept;
std::uint32_t PxGetU32(const std::uint8_t* p) noexcept;
void PxPutU16(std::uint8_t* p, std::uint16_t v) noexcept;
void PxPutU32(std::uint8_t* p, std::uint32_t v) noexcept;

// ---- code pages ---------------------------------------------------------------

// HP Roman-8, by its IBM number; the engine holds its table itself.
inline constexpr int kPxCodePageRoman8 = 1051;

// The 8-bit code page of a table's text, converted to and from UTF-8. Every byte
// maps to one character (bytes a code page leaves undefined map to the C1
// control of the same number), so every stored byte string survives a round
// trip. A character the code page cannot hold is an EPxError naming it.
class PxCodePage {
public:
    // EPxError "Code page %d is not supported" when the system has no
    // conversion for it. Windows-1251 uses rtl's codec, Roman-8 its own table.
    explicit PxCodePage(int number);
    int Number() const noexcept { return number_; }
    std::string ToUtf8(std::string_view bytes) const;
    // `what` names the value in the error ("field NAME of table T").
    std::string FromUtf8(std::string_view utf8, const std::string& what) const;

private:
    int number_;
    const char32_t* table_ = nullptr; // nullptr for 1251
};

// ---- dates ---------------------------------------------------------------------

// Paradox dates count days with 0001-01-01 as day 1 (proleptic Gregorian);
// rtl date-times count days since 1899-12-30.
inline constexpr std::int64_t kPxDateOffset = 693594; // day number of 1899-12-30
inline constexpr std::int64_t kPxMsPerDay = 86400000;

// ---- field codec ---------------------------------------------------------------

// What the codec needs to know of one field of a record.
struct PxFieldLayout {
    PxFieldType type = PxFieldType::Alpha;
    int headerSize = 0; // the fSize byte
    int offset = 0;     // position in the record
    int length = 0;     // bytes in the record
    std::string name;   // UTF-8, for messages
};

// The value of a non-blob field; Null for a blank field. Alpha text is
// converted from the code page (trailing zero bytes dropped); Bytes and
// blob leaders are not decoded here.
rtl::Variant PxDecodeValue(const PxFieldLayout& f, const std::uint8_t* p, const PxCodePage& cp);
// Stores a non-blob value (Null or Empty: blank). Raises EPxError when the
// value does not convert or does not fit ("... too long for field ...").
// `table` is used in messages.
void PxEncodeValue(const PxFieldLayout& f, std::uint8_t* p, const rtl::Variant& value,
                   const PxCodePage& cp, const std::string& table);

// The order-preserving codecs, exposed for tests and the index builders.
void PxEncodeInt(std::uint8_t* p, int bytes, std::int64_t value) noexcept;
std::int64_t PxDecodeInt(const std::uint8_t* p, int bytes) noexcept;
void PxEncodeDouble(std::uint8_t* p, double value) noexcept;
double PxDecodeDouble(const std::uint8_t* p) noexcept;
bool PxIsBlank(const std::uint8_t* p, int bytes) noexcept;
// BCD: 17 bytes, value with `decimals` digits after the point, as text
// ("-123.45") and from text. Decode gives "" for a blank field.
std::string PxDecodeBcd(const std::uint8_t* p, int decimals);
bool PxEncodeBcd(std::uint8_t* p, int decimals, std::string_view text);

// ---- headers ---------------------------------------------------------------------

// One field descriptor of a header.
struct PxHeaderField {
    std::uint8_t type = 0;
    std::uint8_t size = 0;    // fSize byte
    std::string name;         // raw code-page bytes ("" in .PX/.Y files)
};

// The parsed header of any file of the family. Only what the engine reads or
// updates is parsed; `raw` keeps every byte of the header block so that a
// rewrite changes only the fields named below.
struct PxHeader {
    std::vector<std::uint8_t> raw;
    std::uint16_t recordSize = 0;
    std::uint16_t headerSize = 0;
    std::uint8_t fileType = 0;
    std::uint8_t maxTableSize = 0; // block size in KiB
    std::int32_t numRecords = 0;
    std::uint16_t usedBlocks = 0;  // 0x0A
    std::uint16_t fileBlocks = 0;  // 0x0C
    std::uint16_t firstBlock = 0;  // 0x0E
    std::uint16_t lastBlock = 0;   // 0x10
    std::uint8_t indexFieldNumber = 0; // 0x15 (.X files)
    std::uint16_t indexRoot = 0;       // 0x1E (.PX/.Y files)
    std::uint8_t indexLevels = 0;      // 0x20 (.PX/.Y files)
    std::uint16_t numFields = 0;
    std::uint16_t keyFields = 0;
    std::uint32_t encryption = 0;  // the code of the file's layout (0x25 or 0x5C)
    std::uint8_t sortOrder = 0;
    std::uint8_t version = 0;
    std::int32_t autoInc = 0;
    std::uint16_t firstFreeBlock = 0;
    std::uint8_t direction = 0;    // 0x55 in .X files of version 7 (0x11 descending)
    bool extended = false;         // has the 4.0+ part at 0x58..0x77
    int codePage = 0;              // 0 when the header has none
    std::vector<PxHeaderField> fields;
    std::vector<std::uint16_t> fieldNumbers; // .DB/.X files, when present
    std::string sortOrderId;       // "ascii", "ancyrr", ... ("" when absent)
    std::string indexName;         // .X files: the name after the sort order
    std::string tableName;         // raw bytes, zeros dropped

    int BlockSize() const noexcept { return maxTableSize * 1024; }
    bool IsDataLayout() const noexcept { return PxIsDataLayout(fileType); }
};

// Parses a header; EPxError naming `file` when it is not a Paradox header this
// engine can read (unknown field type, bad sizes, truncated).
PxHeader PxParseHeader(const std::vector<std::uint8_t>& bytes, const std::string& file);
// Reads the header size from the first bytes (at least 4) of a file.
std::uint16_t PxHeaderSizeOf(const std::uint8_t* first4) noexcept;
// Writes the counters of `h` (records, blocks, free list, auto-increment,
// index root and levels) back into h.raw; nothing else changes.
void PxStoreCounters(PxHeader& h);

// What a new data or .X file header holds.
struct PxNewDataHeader {
    std::uint8_t fileType = 2;
    std::uint8_t version = kPxVersion70;
    int blockSize = 2048;
    int codePage = 1251;
    std::uint8_t sortOrder = 0;
    std::string sortOrderId = "ascii";
    std::string tableName;           // raw code-page bytes
    std::vector<PxHeaderField> fields;
    std::vector<std::uint16_t> fieldNumbers; // empty: 1..n
    int keyFields = 0;
    std::uint8_t indexFieldNumber = 0;
    std::string indexName;           // .X files only (raw bytes)
};
PxHeader PxBuildDataHeader(const PxNewDataHeader& spec);

// A new .PX/.Y header for key fields `fields` (names unused).
PxHeader PxBuildIndexHeader(std::uint8_t fileType, std::uint8_t version, int blockSize,
                            std::uint8_t sortOrder, const std::vector<PxHeaderField>& fields,
                            const std::string& fileName);

// Sort orders of new tables by code page: "ancyrr" for 1251, "ANSIINTL" for 1252,
// "cyrr" for 866, "ascii" otherwise.
void PxDefaultSortOrder(int codePage, std::uint8_t& sortOrder, std::string& sortOrderId);
// The sort order compares text keys as bytes, as this engine does.
bool PxIsBinarySortOrder(std::string_view sortOrderId) noexcept;
// The code page a sort order's character set is: 0 when the sort order
// names no character set ("ascii", or none given), -1 when it is one this
// engine does not know.
int PxSortOrderCodePage(std::string_view sortOrderId) noexcept;

} // namespace bde
