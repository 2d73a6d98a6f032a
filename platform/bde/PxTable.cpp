// Reading a table's family, and changes kept in step across its files.
#include "platform/bde/PxTable.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/bde/PxCrypt.h"
#include "platform/bde/PxDatabase.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace bde {

namespace {

constexpr const char* SNoTable = "Table \"%s\" does not exist in folder \"%s\"";
constexpr const char* SNotDataFile = "File \"%s\" is not a Paradox data file";
constexpr const char* SEncrypted = "Table \"%s\" is encrypted: it needs a password, and none was given";
constexpr const char* SEncryptedPassword = "Table \"%s\" is encrypted: none of the passwords given opens it";
constexpr const char* SKeyViolation = "Key violation in table \"%s\": a record with this key exists already";
constexpr const char* SRequired = "Field \"%s\" of table \"%s\" must have a value";
constexpr const char* SUnordered =
    "Table \"%s\" cannot take this change: its records are not in the key order this engine keeps";
constexpr const char* SIndexBlocked = "Table \"%s\" cannot take this change (%s): index \"%s\" cannot be kept: %s";
constexpr const char* SNoRow = "Record %s of table \"%s\" does not exist";
constexpr const char* SNoField = "Table \"%s\" has no field number %d";
constexpr const char* SValueCount = "Table \"%s\" has %d fields; %d values were given";
constexpr const char* SClosed = "Table \"%s\" is closed";
constexpr const char* SNoBlobFile = "The blob file of table \"%s\" is missing";
constexpr const char* SNoIndex = "Table \"%s\" has no index number %d";
constexpr const char* SBlobValue = "Value of field \"%s\" of table \"%s\" is not a blob: %s";
constexpr const char* SBlobInKey = "File \"%s\" is damaged: its key takes in blob field \"%s\"";
constexpr const char* SBadInline = "File \"%s\" is damaged: field \"%s\" of a record holds %u bytes in a leader of %d";
constexpr const char* SCounterExhausted =
    "The autoincrement counter of table \"%s\" is exhausted: it has given its largest number";
constexpr const char* SBlobFileLost =
    "The blob file of table \"%s\" is missing, and records point into it: no new blob file is made";
constexpr const char* SCharsetUnknown =
    "Table \"%s\" uses the sort order \"%s\", whose character set this engine does not know: no text is written into it";
constexpr const char* SPlaceUnknown =
    "Table \"%s\" cannot take this change: where its key goes under the table's sort order \"%s\" is not known to this "
    "engine, for the character \"%s\" of field \"%s\"; keys of digits, capital Latin letters and identifiers made of "
    "them go in";
constexpr const char* SIndexPlaceUnknown =
    "Table \"%s\" cannot take this change: where its entry goes in index \"%s\" under the sort order \"%s\" is not "
    "known to this engine, for the character \"%s\" of field \"%s\"; entries of digits, capital Latin letters and "
    "identifiers made of them go in";
constexpr const char* SFieldsUnknown =
    "its fields are not known (neither its header nor its file name names them): rebuild the index with another "
    "program to change the table";

// The sort order of a file for messages: its name, or its number when the header has no name.
std::string SortOrderName(const PxHeader& h)
{
    if (!h.sortOrderId.empty()) return h.sortOrderId;
    return "0x" + rtl::IntToHex(h.sortOrder, 2);
}

// Whether one of the passwords (in the table's character set) gives the
// table's code.
bool Opens(const std::vector<std::string>& passwords, std::uint32_t code, const PxCodePage& codePage)
{
    for (const std::string& password : passwords) {
        std::string bytes;
        try {
            bytes = codePage.FromUtf8(password, "a password");
        } catch (const EPxError&) {
            continue; // a character the table's character set lacks: not this table's password
        }
        if (!bytes.empty() && bytes.size() <= 256 && PxPasswordCode(bytes) == code) return true;
    }
    return false;
}

std::string DefaultCompanion(const std::string& dbName, const char* ext)
{
    const std::size_t dot = dbName.rfind('.');
    const std::string base = dot == std::string::npos ? dbName : dbName.substr(0, dot);
    const std::string dbExt = dot == std::string::npos ? "" : dbName.substr(dot + 1);
    const bool lower = !dbExt.empty() && dbExt[0] >= 'a' && dbExt[0] <= 'z';
    std::string e = ext;
    if (lower) e = rtl::LowerCase(e);
    return base + "." + e;
}

} // namespace

PxTable::PxTable(PxDatabase* db, std::string name) : db_(db), name_(std::move(name)) {}

PxTable::~PxTable() = default;

PxDatabase& PxTable::Db()
{
    if (!db_) throw EPxError(rtl::Format(SClosed, name_.c_str()));
    return *db_;
}

void PxTable::Ensure()
{
    PxDatabase& db = Db();
    if (db.broken_) db.Recover();
    // Between operations no page is in use: the cache may drop and spill.
    db.cache_.Trim();
    if (loaded_) return;
    try {
        Load();
    } catch (...) {
        Unload();
        throw;
    }
}

void PxTable::Unload() noexcept
{
    loaded_ = false;
    secondaries_.clear();
    mb_.reset();
    px_.reset();
    data_.reset();
    fields_.clear();
    defs_.clear();
}

void PxTable::Load()
{
    Unload();
    PxDatabase& db = Db();
    const PxFamily fam = db.Family(name_);
    if (fam.db.empty()) throw EPxError(rtl::Format(SNoTable, name_.c_str(), db.Folder().c_str()));
    dbName_ = fam.db;
    auto file = db.OpenFile(dbName_);
    std::uint8_t first[4] = {};
    file->ReadExact(0, first, 4);
    std::vector<std::uint8_t> head(PxHeaderSizeOf(first));
    if (head.size() < 0x58) throw EPxError(rtl::Format(SNotDataFile, dbName_.c_str()));
    file->ReadExact(0, head.data(), head.size());
    PxHeader h = PxParseHeader(head, dbName_);
    if (h.fileType != 0 && h.fileType != 2) throw EPxError(rtl::Format(SNotDataFile, dbName_.c_str()));
    // A header that names no code page: the character set of its sort order.
    int codePage = h.codePage;
    textUnknown_ = false;
    sortOrderName_ = SortOrderName(h);
    if (codePage == 0) {
        codePage = PxSortOrderCodePage(h.sortOrderId);
        textUnknown_ = codePage < 0;
        if (codePage <= 0) codePage = db.DefaultCodePage();
    }
    codePage_ = std::make_unique<PxCodePage>(codePage);
    if (h.encryption != 0 && !Opens(db.Passwords(), h.encryption, *codePage_))
        throw EPxEncrypted(rtl::Format(db.Passwords().empty() ? SEncrypted : SEncryptedPassword, name_.c_str()));

    int offset = 0;
    for (const auto& hf : h.fields) {
        Field f;
        f.def.type = static_cast<PxFieldType>(hf.type);
        f.def.size = PxUserSize(f.def.type, hf.size);
        f.def.name = codePage_->ToUtf8(hf.name);
        f.layout.type = f.def.type;
        f.layout.headerSize = hf.size;
        f.layout.offset = offset;
        f.layout.length = PxRecordBytes(f.def.type, hf.size);
        f.layout.name = f.def.name;
        offset += f.layout.length;
        fields_.push_back(std::move(f));
    }
    keyFields_ = h.fileType == 0 ? std::min<int>(h.keyFields, static_cast<int>(fields_.size())) : 0;
    keyLength_ = 0;
    for (int i = 0; i < keyFields_; ++i) {
        // No engine keys a table on a blob: its place in the record changes with every write.
        if (PxIsBlobType(fields_[static_cast<std::size_t>(i)].def.type))
            throw EPxError(rtl::Format(SBlobInKey, dbName_.c_str(), fields_[static_cast<std::size_t>(i)].def.name.c_str()));
        keyLength_ += fields_[static_cast<std::size_t>(i)].layout.length;
    }
    const std::uint8_t version = h.version;
    const std::uint8_t sortOrder = h.sortOrder;
    data_ = std::make_unique<PxDataFile>(db.cache_, dbName_, std::move(file), std::move(h), keyLength_);
    for (const auto& f : fields_) defs_.push_back(f.def);

    pxName_ = fam.px.empty() ? DefaultCompanion(dbName_, "PX") : fam.px;
    mbName_ = fam.mb.empty() ? DefaultCompanion(dbName_, "MB") : fam.mb;
    if (keyFields_ > 0 && !fam.px.empty()) {
        auto pf = db.OpenFile(fam.px);
        std::vector<std::uint8_t> ph(0x800);
        ph.resize(pf->ReadAt(0, ph.data(), ph.size()));
        bool fits = false;
        PxHeader pxh;
        try {
            pxh = PxParseHeader(ph, fam.px);
            fits = pxh.fileType == 1 && pxh.recordSize == keyLength_ + 6;
        } catch (const EPxError&) {
        }
        if (!fits) {
            // A primary index that does not match is laid out afresh on the next change.
            std::vector<PxHeaderField> kf;
            for (int i = 0; i < keyFields_; ++i) kf.push_back(data_->Header().fields[static_cast<std::size_t>(i)]);
            for (auto& k : kf) k.name.clear();
            pxh = PxBuildIndexHeader(1, version, data_->BlockSize(), sortOrder, kf, fam.px);
        }
        px_ = std::make_unique<PxIndexFile>(db.cache_, fam.px, std::move(pf), std::move(pxh));
        px_->SetTableCode(data_->Header().encryption);
        px_->Open(*data_);
    }
    if (!fam.mb.empty()) {
        mb_ = std::make_unique<PxBlobFile>(fam.mb, db.OpenFile(fam.mb), data_->Header().encryption);
        // Every place the records name, so that no new blob goes there.
        bool blobs = false;
        for (const auto& f : fields_) blobs = blobs || PxIsBlobType(f.def.type);
        if (blobs)
            data_->ForEach([&](std::uint16_t, int, const std::uint8_t* rec) {
                for (const auto& f : fields_)
                    if (PxIsBlobType(f.def.type))
                        mb_->NoteReference(rec + f.layout.offset, f.layout.length - kPxBlobFieldExtra);
            });
    }
    if (!fam.val.empty()) ReadValidity(fam.val);
    for (const auto& [x, y] : fam.secondaries) LoadSecondary(x, y);
    hintsChecked_ = false;
    mbUnsynced_ = false;
    loaded_ = true;
}

void PxTable::ReadValidity(const std::string& valName)
{
    // The layout of validity checks is only partly known; required flags are
    // taken only when the whole file reads consistently.
    std::vector<std::uint8_t> b;
    try {
        auto file = Db().OpenFile(valName);
        if (file->Size() > (1u << 20)) return; // far more than the checks of 255 fields take
        b = file->ReadAll();
    } catch (const EPxError&) {
        return;
    }
    if (b.size() < 0x35) return;
    const std::size_t count = b[2];
    const std::size_t footer = PxGetU32(b.data() + 9);
    const std::size_t refs = PxGetU32(b.data() + 0x0D);
    if (footer < 0x35 || footer + 6 > b.size()) return;
    const std::size_t n = PxGetU16(b.data() + footer);
    if (n != fields_.size()) return;
    std::size_t pos = footer + 6;
    if (pos + 4 * n > b.size()) return;
    std::vector<std::uint16_t> orders(n);
    for (std::size_t i = 0; i < n; ++i) orders[i] = PxGetU16(b.data() + pos + 2 * i);
    pos += 2 * n;
    for (std::size_t i = 0; i < n; ++i) {
        if (b[pos + 2 * i] != static_cast<std::uint8_t>(fields_[i].def.type)) return;
    }
    const std::size_t end = refs > 0x35 && refs < footer ? refs : footer;
    std::vector<bool> required(n, false);
    pos = 0x35;
    for (std::size_t e = 0; e < count; ++e) {
        if (pos + 0x1D > end) return;
        const std::uint8_t* r = b.data() + pos;
        std::size_t field = n;
        for (std::size_t i = 0; i < n; ++i)
            if (orders[i] == r[0]) field = i;
        if (field == n) return;
        if (PxGetU32(r + 4) != 0) return; // lookups: layout unknown
        const std::size_t fs = static_cast<std::size_t>(fields_[field].layout.length);
        std::size_t size = 0x1D;
        if (PxGetU32(r + 0x0C)) size += fs;
        if (PxGetU32(r + 0x10)) size += fs;
        if (PxGetU32(r + 0x14)) size += fs;
        if (PxGetU32(r + 0x18)) size += r[1];
        if (r[0x1C] > 1) return;
        required[field] = r[0x1C] == 1;
        pos += size;
    }
    if (pos != end) return;
    for (std::size_t i = 0; i < n; ++i) {
        fields_[i].def.required = required[i];
        defs_[i].required = required[i];
    }
}

void PxTable::LoadSecondary(const std::string& xName, const std::string& yName)
{
    // An index file this engine cannot read is still the table's: it is kept
    // with its problem, so that no change lets it drift from the data, and
    // the table still reads.
    const std::size_t count = secondaries_.size();
    try {
        LoadSecondaryFile(xName, yName);
    } catch (const EPxError&) {
        secondaries_.erase(secondaries_.begin() + static_cast<std::ptrdiff_t>(count), secondaries_.end());
        Secondary s;
        s.def.name = xName;
        s.yName = yName;
        s.problem = "its file cannot be read by this engine";
        secondaries_.push_back(std::move(s));
    }
}

void PxTable::LoadSecondaryFile(const std::string& xName, const std::string& yName)
{
    PxDatabase& db = Db();
    Secondary s;
    auto file = db.OpenFile(xName);
    std::uint8_t first[4] = {};
    file->ReadExact(0, first, 4);
    std::vector<std::uint8_t> head(PxHeaderSizeOf(first));
    const auto unreadable = [&] {
        s.def.name = xName;
        s.yName = yName;
        s.problem = "its file cannot be read by this engine";
        secondaries_.push_back(std::move(s));
    };
    if (head.size() < 0x58) return unreadable();
    file->ReadExact(0, head.data(), head.size());
    PxHeader h = PxParseHeader(head, xName);
    if (h.fileType != 3 && h.fileType != 5 && h.fileType != 6 && h.fileType != 8) return unreadable();
    const int n = static_cast<int>(fields_.size());
    const int m = static_cast<int>(h.numFields) - 1 - keyFields_;
    const auto problem = [&](const std::string& why) {
        if (s.problem.empty()) s.problem = why;
    };
    // The table fields of the index: the header's field numbers, or the .Xnn extension.
    std::vector<int> numbers;
    if (m >= 1 && h.fieldNumbers.size() == h.numFields) {
        for (int i = 0; i < m; ++i) numbers.push_back(h.fieldNumbers[static_cast<std::size_t>(i)]);
    }
    const std::size_t dot = xName.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : rtl::UpperCaseLatin(xName.substr(dot + 1));
    const bool composite = ext.size() == 3 && ext[1] == 'G';
    if (numbers.empty() && !composite && m == 1 && ext.size() == 3) {
        std::int32_t v = 0;
        if (rtl::TryStrToInt("$" + ext.substr(1), v)) numbers.push_back(v);
    }
    for (int v : numbers)
        if (v < 1 || v > n) numbers.clear();
    for (int v : numbers) s.fields.push_back(v - 1);
    if (s.fields.empty()) {
        s.problem = SFieldsUnknown;
    } else {
        for (std::size_t i = 0; i < s.fields.size(); ++i) {
            const Field& f = fields_[static_cast<std::size_t>(s.fields[i])];
            const PxHeaderField& xf = h.fields[i];
            if (xf.type != static_cast<std::uint8_t>(f.def.type) || xf.size != f.layout.headerSize)
                problem("its fields do not match the table");
            s.secLength += f.layout.length;
        }
        for (int k = 0; k < keyFields_; ++k) {
            const PxHeaderField& xf = h.fields[s.fields.size() + static_cast<std::size_t>(k)];
            if (xf.type != data_->Header().fields[static_cast<std::size_t>(k)].type ||
                xf.size != data_->Header().fields[static_cast<std::size_t>(k)].size)
                problem("its key fields do not match the table");
        }
        if (h.fields.back().type != static_cast<std::uint8_t>(PxFieldType::Short)) problem("it has no hint field");
    }
    if (keyFields_ == 0) problem("the table has no primary key");
    if (h.version >= kPxVersion70 && h.direction == 0x11) problem("it is descending");
    if (h.keyFields != h.numFields - 1) problem("its key does not cover its fields");
    if (!h.indexName.empty()) s.def.name = codePage_->ToUtf8(h.indexName);
    else if (!s.fields.empty() && !composite) s.def.name = fields_[static_cast<std::size_t>(s.fields[0])].def.name;
    else s.def.name = xName;
    for (int f : s.fields) s.def.fields.push_back(fields_[static_cast<std::size_t>(f)].def.name);
    const int xKey = s.secLength + keyLength_;
    if (s.problem.empty() && xKey + 2 != h.recordSize) problem("its record size does not match the table");
    if (!s.problem.empty()) {
        secondaries_.push_back(std::move(s));
        return;
    }
    const std::uint8_t version = h.version;
    const std::uint8_t sortOrder = h.sortOrder;
    const bool isComposite = h.fileType >= 6;
    std::vector<PxHeaderField> keyHeaderFields(h.fields.begin(), h.fields.end() - 1);
    s.x = std::make_unique<PxDataFile>(db.cache_, xName, std::move(file), std::move(h), xKey);
    if (!s.x->Ordered()) problem("its entries are not in the order this engine keeps");
    if (s.x->RecordCount() != data_->RecordCount()) problem("it does not hold one entry per record");
    if (!data_->Ordered()) problem("the table's records are not in key order");
    if (s.problem.empty()) {
        s.x->ForEach([&](std::uint16_t, int, const std::uint8_t* xr) {
            if (!s.problem.empty()) return;
            const std::uint8_t* rec = data_->Lookup(xr + s.secLength);
            if (!rec) return problem("an entry names a record that does not exist");
            std::size_t at = 0;
            bool same = true;
            for (int f : s.fields) {
                const auto& l = fields_[static_cast<std::size_t>(f)].layout;
                same = same && std::memcmp(xr + at, rec + l.offset, static_cast<std::size_t>(l.length)) == 0;
                at += static_cast<std::size_t>(l.length);
            }
            if (!same) problem("an entry does not match its record");
        });
    }
    s.yName = yName;
    if (!yName.empty()) {
        auto yf = db.OpenFile(yName);
        std::vector<std::uint8_t> yh(0x800);
        yh.resize(yf->ReadAt(0, yh.data(), yh.size()));
        bool fits = false;
        PxHeader yhead;
        try {
            yhead = PxParseHeader(yh, yName);
            fits = (yhead.fileType == 4 || yhead.fileType == 7) && yhead.recordSize == xKey + 6;
        } catch (const EPxError&) {
        }
        if (!fits) {
            for (auto& k : keyHeaderFields) k.name.clear();
            yhead = PxBuildIndexHeader(isComposite ? 7 : 4, version, s.x->BlockSize(), sortOrder, keyHeaderFields, yName);
        }
        s.y = std::make_unique<PxIndexFile>(db.cache_, yName, std::move(yf), std::move(yhead));
        s.y->SetTableCode(s.x->Header().encryption);
        s.y->Open(*s.x);
    } else {
        std::string yn = xName;
        if (dot != std::string::npos && dot + 1 < yn.size()) yn[dot + 1] = yn[dot + 1] == 'x' ? 'y' : 'Y';
        s.yName = yn;
    }
    secondaries_.push_back(std::move(s));
}

// ---- structure ---------------------------------------------------------------------

const std::vector<PxFieldDef>& PxTable::Fields()
{
    Ensure();
    return defs_;
}

int PxTable::FieldIndex(std::string_view name)
{
    Ensure();
    for (std::size_t i = 0; i < defs_.size(); ++i)
        if (rtl::SameText(defs_[i].name, name)) return static_cast<int>(i);
    return -1;
}

int PxTable::KeyFieldCount()
{
    Ensure();
    return keyFields_;
}

std::vector<PxIndexDef> PxTable::Indexes()
{
    Ensure();
    std::vector<PxIndexDef> out;
    if (keyFields_ > 0) {
        PxIndexDef p;
        p.primary = p.unique = true;
        for (int i = 0; i < keyFields_; ++i) p.fields.push_back(defs_[static_cast<std::size_t>(i)].name);
        out.push_back(std::move(p));
    }
    for (const auto& s : secondaries_)
        if (!s.fields.empty()) out.push_back(s.def);
    return out;
}

std::uint8_t PxTable::Version()
{
    Ensure();
    return data_->Header().version;
}

int PxTable::CodePage()
{
    Ensure();
    return codePage_->Number();
}

std::string PxTable::SortOrder()
{
    Ensure();
    return data_->Header().sortOrderId;
}

std::int64_t PxTable::RecordCount()
{
    Ensure();
    return data_->RecordCount();
}

std::vector<std::string> PxTable::IndexProblems()
{
    Ensure();
    std::vector<std::string> out;
    for (const auto& s : secondaries_)
        if (!s.problem.empty()) out.push_back(s.def.name + ": " + s.problem);
    return out;
}

// ---- reading -----------------------------------------------------------------------

std::vector<PxTable::RowId> PxTable::Rows()
{
    Ensure();
    return data_->Tags();
}

bool PxTable::Exists(RowId row)
{
    Ensure();
    return data_->Contains(row);
}

bool PxTable::EncodeKey(const std::vector<rtl::Variant>& values, const std::vector<int>& fields,
                        std::vector<std::uint8_t>& out)
{
    out.clear();
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto& l = fields_[static_cast<std::size_t>(fields[i])].layout;
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(l.length));
        try {
            PxEncodeValue(l, buf.data(), values[i], *codePage_, name_);
        } catch (const EPxError&) {
            return false; // a value no field can hold matches no record
        }
        out.insert(out.end(), buf.begin(), buf.end());
    }
    return true;
}

std::optional<PxTable::RowId> PxTable::Seek(const std::vector<rtl::Variant>& key)
{
    Ensure();
    if (keyFields_ == 0 || static_cast<int>(key.size()) != keyFields_) return std::nullopt;
    std::vector<int> fields;
    for (int i = 0; i < keyFields_; ++i) fields.push_back(i);
    std::vector<std::uint8_t> bytes;
    if (!EncodeKey(key, fields, bytes)) return std::nullopt;
    if (data_->Ordered()) return data_->Find(bytes.data());
    // Records in another order: compared one by one.
    std::optional<RowId> found;
    data_->ForEach([&](std::uint16_t b, int s, const std::uint8_t* rec) {
        if (!found && std::memcmp(rec, bytes.data(), bytes.size()) == 0) found = data_->TagAt(b, s);
    });
    return found;
}

std::vector<PxTable::RowId> PxTable::FindByIndex(int index, const std::vector<rtl::Variant>& values)
{
    Ensure();
    std::vector<int> fields;
    const Secondary* sec = nullptr;
    if (index == 0) {
        for (int i = 0; i < keyFields_; ++i) fields.push_back(i);
    } else {
        int seen = 0;
        for (const auto& s : secondaries_) {
            if (s.fields.empty()) continue;
            if (++seen == index) sec = &s;
        }
        if (!sec) throw EPxError(rtl::Format(SNoIndex, name_.c_str(), index));
        fields = sec->fields;
    }
    if (fields.empty() || values.size() > fields.size()) throw EPxError(rtl::Format(SNoIndex, name_.c_str(), index));
    fields.resize(values.size());
    std::vector<std::uint8_t> prefix;
    std::vector<RowId> out;
    if (!EncodeKey(values, fields, prefix)) return out;
    if (index == 0 && data_->Ordered()) return data_->FindPrefix(prefix.data(), prefix.size());
    if (sec && sec->x && sec->problem.empty()) {
        const auto entries = sec->x->FindPrefix(prefix.data(), prefix.size());
        std::vector<std::uint8_t> key(static_cast<std::size_t>(keyLength_));
        for (auto t : entries) {
            std::memcpy(key.data(), sec->x->Record(t) + sec->secLength, key.size());
            if (auto row = data_->Find(key.data())) out.push_back(*row);
        }
        sec->x->ForgetTags();
        return out;
    }
    // No usable order: compare every record.
    data_->ForEach([&](std::uint16_t b, int s, const std::uint8_t* rec) {
        std::size_t at = 0;
        bool same = true;
        for (int f : fields) {
            const auto& l = fields_[static_cast<std::size_t>(f)].layout;
            same = same && std::memcmp(rec + l.offset, prefix.data() + at, static_cast<std::size_t>(l.length)) == 0;
            at += static_cast<std::size_t>(l.length);
        }
        if (same) out.push_back(data_->TagAt(b, s));
    });
    return out;
}

rtl::Variant PxTable::Decode(const std::uint8_t* record, int field)
{
    const Field& f = fields_[static_cast<std::size_t>(field)];
    const std::uint8_t* p = record + f.layout.offset;
    if (!PxIsBlobType(f.def.type)) return PxDecodeValue(f.layout, p, *codePage_);
    const int leader = f.layout.length - kPxBlobFieldExtra;
    if (PxBlobFile::LengthOf(p, leader) == 0) return rtl::Variant::Null();
    std::vector<std::uint8_t> bytes;
    if (PxGetU32(p + leader) == 0) {
        const std::uint32_t len = PxBlobFile::LengthOf(p, leader);
        if (len > static_cast<std::uint32_t>(leader))
            throw EPxError(rtl::Format(SBadInline, dbName_.c_str(), f.def.name.c_str(), len, leader));
        bytes.assign(p, p + len);
    } else {
        if (!mb_) throw EPxError(rtl::Format(SNoBlobFile, name_.c_str()));
        bytes = mb_->Read(p, leader);
    }
    if (f.def.type == PxFieldType::Memo)
        return rtl::Variant(codePage_->ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    return rtl::Variant(rtl::ByteArray(bytes.begin(), bytes.end()));
}

rtl::Variant PxTable::Get(RowId row, int field)
{
    Ensure();
    if (!data_->Contains(row)) throw EPxError(rtl::Format(SNoRow, rtl::IntToStr(static_cast<std::int64_t>(row)).c_str(), name_.c_str()));
    if (field < 0 || field >= static_cast<int>(fields_.size())) throw EPxError(rtl::Format(SNoField, name_.c_str(), field));
    return Decode(data_->Record(row), field);
}

std::vector<rtl::Variant> PxTable::GetRecord(RowId row)
{
    Ensure();
    if (!data_->Contains(row)) throw EPxError(rtl::Format(SNoRow, rtl::IntToStr(static_cast<std::int64_t>(row)).c_str(), name_.c_str()));
    std::vector<rtl::Variant> out;
    const std::uint8_t* rec = data_->Record(row);
    for (int i = 0; i < static_cast<int>(fields_.size()); ++i) out.push_back(Decode(rec, i));
    return out;
}

std::vector<std::uint8_t> PxTable::RawRecord(RowId row)
{
    Ensure();
    if (!data_->Contains(row)) throw EPxError(rtl::Format(SNoRow, rtl::IntToStr(static_cast<std::int64_t>(row)).c_str(), name_.c_str()));
    const std::uint8_t* rec = data_->Record(row);
    return std::vector<std::uint8_t>(rec, rec + data_->RecordSize());
}

// ---- preparing changes -------------------------------------------------------------

void PxTable::EncodeInto(std::vector<std::uint8_t>& record, int field, const rtl::Variant& value)
{
    const Field& f = fields_[static_cast<std::size_t>(field)];
    PxEncodeValue(f.layout, record.data() + f.layout.offset, value, *codePage_, name_);
    if (f.def.type == PxFieldType::Alpha && textUnknown_ && record[static_cast<std::size_t>(f.layout.offset)] != 0)
        throw EPxError(rtl::Format(SCharsetUnknown, name_.c_str(), sortOrderName_.c_str()));
}

std::vector<std::uint8_t> PxTable::BlobBytes(int field, const rtl::Variant& value)
{
    const Field& f = fields_[static_cast<std::size_t>(field)];
    if (value.IsClear()) return {};
    if (value.IsByteArray()) return std::vector<std::uint8_t>(value.AsBytes().begin(), value.AsBytes().end());
    try {
        const std::string text = value.AsString();
        if (f.def.type == PxFieldType::Memo || f.def.type == PxFieldType::FmtMemo) {
            if (textUnknown_ && !text.empty())
                throw EPxError(rtl::Format(SCharsetUnknown, name_.c_str(), sortOrderName_.c_str()));
            const std::string bytes =
                codePage_->FromUtf8(text, "field \"" + f.def.name + "\" of table \"" + name_ + "\"");
            return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
        }
        return std::vector<std::uint8_t>(text.begin(), text.end());
    } catch (const EPxError&) {
        throw;
    } catch (const rtl::Exception& e) {
        throw EPxError(rtl::Format(SBlobValue, f.def.name.c_str(), name_.c_str(), e.Message().c_str()));
    }
}

bool PxTable::FieldBlank(const std::uint8_t* record, int field) const
{
    const auto& l = fields_[static_cast<std::size_t>(field)].layout;
    if (PxIsBlobType(l.type)) return PxBlobFile::LengthOf(record + l.offset, l.length - kPxBlobFieldExtra) == 0;
    if (l.type == PxFieldType::Alpha) return record[l.offset] == 0;
    return PxIsBlank(record + l.offset, l.length);
}

void PxTable::CheckRequired(const std::vector<std::uint8_t>& record, const std::vector<bool>& blobGiven)
{
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (!fields_[i].def.required) continue;
        const bool blank = PxIsBlobType(fields_[i].def.type) && i < blobGiven.size()
                               ? !blobGiven[i]
                               : FieldBlank(record.data(), static_cast<int>(i));
        if (blank) throw EPxError(rtl::Format(SRequired, fields_[i].def.name.c_str(), name_.c_str()));
    }
}

void PxTable::CheckIndexesWritable(const char* what)
{
    for (const auto& s : secondaries_)
        if (!s.problem.empty())
            throw EPxError(rtl::Format(SIndexBlocked, name_.c_str(), what, s.def.name.c_str(), s.problem.c_str()));
}

void PxTable::CheckBlobsWritable(bool store, RowId except)
{
    if (mb_) {
        mb_->CheckWritable(store);
        return;
    }
    if (!store) return;
    // A new blob file would put its blobs where records of the lost one point.
    std::optional<std::pair<std::uint16_t, int>> skip;
    if (except != 0 && data_->Contains(except)) skip = data_->PlaceOf(except);
    bool lost = false;
    data_->ForEach([&](std::uint16_t b, int s, const std::uint8_t* rec) {
        if (lost || (skip && skip->first == b && skip->second == s)) return;
        for (const auto& f : fields_) {
            if (!PxIsBlobType(f.def.type)) continue;
            const int leader = f.layout.length - kPxBlobFieldExtra;
            lost = lost || PxBlobFile::StoredInFile(rec + f.layout.offset, leader);
        }
    });
    if (lost) throw EPxError(rtl::Format(SBlobFileLost, name_.c_str()));
}

std::string PxTable::CharacterText(std::uint8_t byte) const
{
    try {
        return codePage_->ToUtf8(std::string(1, static_cast<char>(byte)));
    } catch (const EPxError&) {
        return "#" + rtl::IntToHex(byte, 2);
    }
}

void PxTable::CheckPlace(const std::vector<std::uint8_t>& record, std::optional<RowId> moving)
{
    PxDataFile::PlaceTrouble trouble;
    if (keyFields_ == 0 || data_->PlaceKnown(record.data(), moving, &trouble)) return;
    std::string field;
    for (int i = 0; i < keyFields_; ++i) {
        const auto& l = fields_[static_cast<std::size_t>(i)].layout;
        if (trouble.offset >= static_cast<std::size_t>(l.offset)) field = fields_[static_cast<std::size_t>(i)].def.name;
    }
    throw EPxError(rtl::Format(SPlaceUnknown, name_.c_str(), sortOrderName_.c_str(), CharacterText(trouble.byte).c_str(),
                               field.c_str()));
}

void PxTable::CheckEntryPlace(const Secondary& s, const std::vector<std::uint8_t>& record,
                              const std::vector<std::uint8_t>* old, std::uint16_t oldBlock)
{
    if (!s.x) return;
    std::optional<PxDataFile::Tag> moving;
    if (old) moving = s.x->Find(XRecord(s, old->data(), oldBlock).data());
    PxDataFile::PlaceTrouble trouble;
    if (s.x->PlaceKnown(XRecord(s, record.data(), 0).data(), moving, &trouble)) return;
    // The entry is the index's fields, then the primary key.
    std::string field;
    std::size_t at = 0;
    std::vector<int> order = s.fields;
    for (int i = 0; i < keyFields_; ++i) order.push_back(i);
    for (int f : order) {
        const auto& l = fields_[static_cast<std::size_t>(f)].layout;
        if (trouble.offset >= at) field = fields_[static_cast<std::size_t>(f)].def.name;
        at += static_cast<std::size_t>(l.length);
    }
    throw EPxError(rtl::Format(SIndexPlaceUnknown, name_.c_str(), s.def.name.c_str(), SortOrderName(s.x->Header()).c_str(),
                               CharacterText(trouble.byte).c_str(), field.c_str()));
}

// ---- applying changes --------------------------------------------------------------

std::vector<std::uint8_t> PxTable::XRecord(const Secondary& s, const std::uint8_t* record, std::uint16_t block) const
{
    std::vector<std::uint8_t> x;
    x.reserve(static_cast<std::size_t>(s.secLength + keyLength_ + 2));
    for (int f : s.fields) {
        const auto& l = fields_[static_cast<std::size_t>(f)].layout;
        x.insert(x.end(), record + l.offset, record + l.offset + l.length);
    }
    x.insert(x.end(), record, record + keyLength_);
    x.resize(x.size() + 2);
    PxPutIndexWord(x.data() + x.size() - 2, block);
    return x;
}

void PxTable::FixHints()
{
    const auto moved = data_->TakeMovedBlocks();
    if (secondaries_.empty()) return;
    const std::size_t rs = static_cast<std::size_t>(keyLength_);
    for (auto& s : secondaries_) {
        if (!s.x || !s.problem.empty()) continue;
        if (!hintsChecked_) {
            // Once after reading: every entry names the block of its record.
            std::vector<std::uint8_t> fixed;
            s.x->ForEach([&](std::uint16_t xb, int xs, const std::uint8_t* xr) {
                const std::uint8_t* key = xr + s.secLength;
                const std::uint16_t want = data_->BlockForKey(key);
                if (PxGetIndexWord(key + rs) == want) return;
                fixed.assign(xr, xr + s.x->RecordSize());
                PxPutIndexWord(fixed.data() + s.secLength + rs, want);
                s.x->Overwrite(s.x->TagAt(xb, xs), fixed.data());
            });
        } else {
            for (std::uint16_t b : moved) {
                for (int slot = 0; slot < data_->CountOf(b); ++slot) {
                    const auto want = XRecord(s, data_->RecordAt(b, slot), b);
                    auto t = s.x->Find(want.data());
                    if (!t) continue;
                    if (std::memcmp(s.x->Record(*t), want.data(), want.size()) != 0) s.x->Overwrite(*t, want.data());
                }
            }
        }
    }
    hintsChecked_ = true;
}

void PxTable::ReleaseRows() noexcept
{
    if (rowHolders_ > 0 && --rowHolders_ == 0 && data_) data_->ForgetTags();
}

void PxTable::EnsurePrimaryIndexFile()
{
    if (px_) return;
    std::vector<PxHeaderField> kf;
    for (int i = 0; i < keyFields_; ++i) {
        PxHeaderField f = data_->Header().fields[static_cast<std::size_t>(i)];
        f.name.clear();
        kf.push_back(f);
    }
    auto file = Db().CreateFile(pxName_);
    PxHeader h = PxBuildIndexHeader(1, data_->Header().version, data_->BlockSize(), data_->Header().sortOrder, kf,
                                    rtl::UpperCaseLatin(pxName_));
    px_ = std::make_unique<PxIndexFile>(Db().cache_, pxName_, std::move(file), std::move(h), true);
}

void PxTable::EnsureBlobFile()
{
    if (mb_) return;
    auto file = Db().CreateFile(mbName_);
    mb_ = std::make_unique<PxBlobFile>(mbName_, std::move(file), true, data_->Header().encryption);
}

void PxTable::PrepareWriteOut()
{
    if (!loaded_) return;
    data_->Finish();
    const auto entries = data_->TakeEntryChanges();
    if (keyFields_ > 0 && !entries.empty()) {
        EnsurePrimaryIndexFile();
        px_->Sync(*data_, &entries);
    }
    for (auto& s : secondaries_) {
        if (!s.x) continue;
        s.x->Finish();
        const auto changed = s.x->TakeEntryChanges();
        s.x->TakeMovedBlocks(); // no hints point into an index file
        if (changed.empty()) continue;
        if (!s.y) {
            std::vector<PxHeaderField> kf(s.x->Header().fields.begin(), s.x->Header().fields.end() - 1);
            for (auto& k : kf) k.name.clear();
            auto file = Db().CreateFile(s.yName);
            PxHeader h = PxBuildIndexHeader(s.x->Header().fileType >= 6 ? 7 : 4, s.x->Header().version,
                                            s.x->BlockSize(), s.x->Header().sortOrder, kf, rtl::UpperCaseLatin(s.yName));
            s.y = std::make_unique<PxIndexFile>(Db().cache_, s.yName, std::move(file), std::move(h), true);
        }
        s.y->Sync(*s.x, &changed);
    }
}

void PxTable::CollectChanges(std::vector<PxPendingChanges>& out)
{
    if (!loaded_ || !mb_ || !mb_->Dirty()) return;
    PxFileChanges ch = mb_->CollectWrites();
    if (ch.writes.empty() && !ch.resize) return;
    out.push_back({mb_->Name(), &mb_->File(), std::move(ch)});
}

void PxTable::ChangesWritten()
{
    if (!loaded_) return;
    if (mb_ && mb_->Dirty()) mbUnsynced_ = true;
    if (mb_) mb_->MarkClean();
}

void PxTable::SyncWritten() { SyncFiles(true); }

void PxTable::StartSyncWritten() { SyncFiles(false); }

void PxTable::SyncFiles(bool wait)
{
    if (!loaded_) return;
    const auto sync = [wait](PxPagedFile& f) { wait ? f.SyncWritten() : f.StartSync(); };
    sync(data_->Paged());
    if (px_) sync(px_->Paged());
    if (mb_ && mbUnsynced_) {
        if (!wait) {
            mb_->File().StartSync();
        } else {
            mb_->File().Sync();
            mbUnsynced_ = false;
        }
    }
    for (auto& s : secondaries_) {
        if (s.x) sync(s.x->Paged());
        if (s.y) sync(s.y->Paged());
    }
}

template <class F>
void PxTable::Change(F&& apply)
{
    PxDatabase& db = Db();
    db.BeginChange();
    try {
        apply();
        FixHints();
        // Entries of the secondary indexes are never named outside a change.
        for (auto& s : secondaries_)
            if (s.x) s.x->ForgetTags();
        // Changes that outgrow the cache go out now, as part of this change.
        db.cache_.Trim();
    } catch (...) {
        db.FailChange();
        throw;
    }
    db.EndChange();
}

PxTable::RowId PxTable::Insert(const std::vector<rtl::Variant>& values)
{
    Ensure();
    const int n = static_cast<int>(fields_.size());
    if (static_cast<int>(values.size()) != n)
        throw EPxError(rtl::Format(SValueCount, name_.c_str(), n, static_cast<int>(values.size())));
    std::vector<std::uint8_t> record(static_cast<std::size_t>(data_->RecordSize()), 0);
    std::vector<std::vector<std::uint8_t>> blobs(static_cast<std::size_t>(n));
    std::vector<bool> blobGiven(static_cast<std::size_t>(n), false);
    std::int32_t autoInc = data_->Header().autoInc;
    bool needsBlobFile = false;
    for (int i = 0; i < n; ++i) {
        const Field& f = fields_[static_cast<std::size_t>(i)];
        const rtl::Variant& v = values[static_cast<std::size_t>(i)];
        if (PxIsBlobType(f.def.type)) {
            blobs[static_cast<std::size_t>(i)] = BlobBytes(i, v);
            blobGiven[static_cast<std::size_t>(i)] = !blobs[static_cast<std::size_t>(i)].empty();
            needsBlobFile = needsBlobFile || blobs[static_cast<std::size_t>(i)].size() >
                                                 static_cast<std::size_t>(f.layout.length - kPxBlobFieldExtra);
        } else if (f.def.type == PxFieldType::AutoInc && v.IsClear()) {
            if (autoInc == std::numeric_limits<std::int32_t>::max())
                throw EPxError(rtl::Format(SCounterExhausted, name_.c_str()));
            ++autoInc;
            EncodeInto(record, i, rtl::Variant(autoInc));
        } else {
            EncodeInto(record, i, v);
            if (f.def.type == PxFieldType::AutoInc) autoInc = std::max(autoInc, v.AsInteger());
        }
    }
    CheckRequired(record, blobGiven);
    if (keyFields_ > 0) {
        if (!data_->Ordered()) throw EPxError(rtl::Format(SUnordered, name_.c_str()));
        if (data_->Holds(record.data())) throw EPxKeyViolation(rtl::Format(SKeyViolation, name_.c_str()));
    }
    CheckIndexesWritable("insert");
    CheckPlace(record, std::nullopt);
    for (const auto& s : secondaries_) CheckEntryPlace(s, record, nullptr, 0);
    if (needsBlobFile) CheckBlobsWritable(true, 0);
    RowId row = 0;
    Change([&] {
        for (int i = 0; i < n; ++i) {
            const auto& data = blobs[static_cast<std::size_t>(i)];
            if (data.empty()) continue;
            const auto& l = fields_[static_cast<std::size_t>(i)].layout;
            const int leader = l.length - kPxBlobFieldExtra;
            if (!PxBlobFile::StoreInline(record.data() + l.offset, leader, data)) {
                EnsureBlobFile();
                mb_->Store(record.data() + l.offset, leader, data);
            }
        }
        data_->Header().autoInc = autoInc;
        auto tag = data_->Insert(record.data());
        RTL_ASSERT(tag.has_value(), "Key violation found late");
        row = *tag;
        for (auto& s : secondaries_) {
            if (!s.x) continue;
            const auto x = XRecord(s, record.data(), data_->BlockOf(row));
            s.x->Insert(x.data());
        }
    });
    return row;
}

void PxTable::Update(RowId row, const std::vector<std::pair<int, rtl::Variant>>& changes)
{
    Ensure();
    if (!data_->Contains(row)) throw EPxError(rtl::Format(SNoRow, rtl::IntToStr(static_cast<std::int64_t>(row)).c_str(), name_.c_str()));
    const int n = static_cast<int>(fields_.size());
    const std::vector<std::uint8_t> old(data_->Record(row), data_->Record(row) + data_->RecordSize());
    std::vector<std::uint8_t> rec = old;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> newBlobs;
    std::vector<bool> blobGiven(static_cast<std::size_t>(n), false);
    for (int i = 0; i < n; ++i)
        blobGiven[static_cast<std::size_t>(i)] = PxIsBlobType(fields_[static_cast<std::size_t>(i)].def.type) && !FieldBlank(old.data(), i);
    bool storesBlob = false, freesBlob = false;
    std::int32_t autoInc = data_->Header().autoInc;
    for (const auto& [field, value] : changes) {
        if (field < 0 || field >= n) throw EPxError(rtl::Format(SNoField, name_.c_str(), field));
        const Field& f = fields_[static_cast<std::size_t>(field)];
        if (PxIsBlobType(f.def.type)) {
            auto bytes = BlobBytes(field, value);
            const int leader = f.layout.length - kPxBlobFieldExtra;
            const std::uint8_t* cur = old.data() + f.layout.offset;
            const std::uint32_t curLen = PxBlobFile::LengthOf(cur, leader);
            bool same = curLen == bytes.size();
            if (same && curLen > 0) {
                // A field that does not read (damaged, its blob file lost) is replaced.
                std::vector<std::uint8_t> now;
                if (PxGetU32(cur + leader) == 0) {
                    if (curLen <= static_cast<std::uint32_t>(leader)) now.assign(cur, cur + curLen);
                } else if (mb_) {
                    try {
                        now = mb_->Read(cur, leader);
                    } catch (const EPxError&) {
                        now.clear();
                    }
                }
                same = now == bytes;
            }
            if (same) continue;
            if (bytes.size() > static_cast<std::size_t>(leader)) storesBlob = true;
            if (PxBlobFile::StoredInFile(cur, leader)) freesBlob = true;
            blobGiven[static_cast<std::size_t>(field)] = !bytes.empty();
            newBlobs.emplace_back(field, std::move(bytes));
            continue;
        }
        std::vector<std::uint8_t> tmp = rec;
        EncodeInto(tmp, field, value);
        const std::uint8_t* a = old.data() + f.layout.offset;
        const std::uint8_t* b = tmp.data() + f.layout.offset;
        const bool sameBytes = std::memcmp(a, b, static_cast<std::size_t>(f.layout.length)) == 0;
        if (!sameBytes && PxDecodeValue(f.layout, a, *codePage_).Equals(PxDecodeValue(f.layout, b, *codePage_))) {
            std::memcpy(rec.data() + f.layout.offset, a, static_cast<std::size_t>(f.layout.length));
            continue;
        }
        std::memcpy(rec.data() + f.layout.offset, b, static_cast<std::size_t>(f.layout.length));
        if (f.def.type == PxFieldType::AutoInc && !value.IsClear()) autoInc = std::max(autoInc, value.AsInteger());
    }
    if (rec == old && newBlobs.empty()) return;
    CheckRequired(rec, blobGiven);
    const bool keyChanged = keyFields_ > 0 && std::memcmp(rec.data(), old.data(), static_cast<std::size_t>(keyLength_)) != 0;
    if (keyChanged) {
        if (!data_->Ordered()) throw EPxError(rtl::Format(SUnordered, name_.c_str()));
        if (data_->Holds(rec.data())) throw EPxKeyViolation(rtl::Format(SKeyViolation, name_.c_str()));
        CheckIndexesWritable("update of the key");
        CheckPlace(rec, row);
    }
    // Whether a field an index may cover changed (blobs are in no index).
    bool fieldChanged = false;
    for (const auto& f : fields_) {
        if (PxIsBlobType(f.def.type)) continue;
        const auto& l = f.layout;
        fieldChanged = fieldChanged || std::memcmp(rec.data() + l.offset, old.data() + l.offset, static_cast<std::size_t>(l.length)) != 0;
    }
    std::vector<Secondary*> changed;
    for (auto& s : secondaries_) {
        // An index whose fields are not known may cover any field.
        bool touches = keyChanged || (s.fields.empty() && fieldChanged);
        for (int f : s.fields) {
            const auto& l = fields_[static_cast<std::size_t>(f)].layout;
            touches = touches || std::memcmp(rec.data() + l.offset, old.data() + l.offset, static_cast<std::size_t>(l.length)) != 0;
        }
        if (!touches) continue;
        if (!s.problem.empty())
            throw EPxError(rtl::Format(SIndexBlocked, name_.c_str(), "update", s.def.name.c_str(), s.problem.c_str()));
        CheckEntryPlace(s, rec, &old, data_->BlockOf(row));
        changed.push_back(&s);
    }
    if (storesBlob || freesBlob) CheckBlobsWritable(storesBlob, row);
    Change([&] {
        for (auto& [field, bytes] : newBlobs) {
            const auto& l = fields_[static_cast<std::size_t>(field)].layout;
            const int leader = l.length - kPxBlobFieldExtra;
            if (mb_) mb_->Free(old.data() + l.offset, leader);
            if (!PxBlobFile::StoreInline(rec.data() + l.offset, leader, bytes)) {
                EnsureBlobFile();
                mb_->Store(rec.data() + l.offset, leader, bytes);
            }
        }
        const std::uint16_t oldBlock = data_->BlockOf(row);
        for (Secondary* s : changed) {
            const auto x = XRecord(*s, old.data(), oldBlock);
            if (auto t = s->x->Find(x.data())) s->x->Erase(*t);
        }
        data_->Header().autoInc = autoInc;
        if (keyChanged) {
            const bool moved = data_->Rekey(row, rec.data());
            RTL_ASSERT(moved, "Key violation found late");
        } else {
            data_->Overwrite(row, rec.data());
        }
        for (Secondary* s : changed) {
            const auto x = XRecord(*s, rec.data(), data_->BlockOf(row));
            s->x->Insert(x.data());
        }
    });
}

void PxTable::Delete(RowId row)
{
    Ensure();
    if (!data_->Contains(row)) throw EPxError(rtl::Format(SNoRow, rtl::IntToStr(static_cast<std::int64_t>(row)).c_str(), name_.c_str()));
    CheckIndexesWritable("delete");
    const std::vector<std::uint8_t> old(data_->Record(row), data_->Record(row) + data_->RecordSize());
    bool outOfLine = false;
    for (const auto& f : fields_) {
        if (!PxIsBlobType(f.def.type)) continue;
        const int leader = f.layout.length - kPxBlobFieldExtra;
        outOfLine = outOfLine || PxBlobFile::StoredInFile(old.data() + f.layout.offset, leader);
    }
    if (outOfLine) CheckBlobsWritable(false, row);
    Change([&] {
        for (const auto& f : fields_) {
            if (!PxIsBlobType(f.def.type) || !mb_) continue;
            mb_->Free(old.data() + f.layout.offset, f.layout.length - kPxBlobFieldExtra);
        }
        const std::uint16_t block = data_->BlockOf(row);
        for (auto& s : secondaries_) {
            if (!s.x) continue;
            const auto x = XRecord(s, old.data(), block);
            if (auto t = s.x->Find(x.data())) s.x->Erase(*t);
        }
        data_->Erase(row);
    });
}

// ---- checks ------------------------------------------------------------------------

std::string PxTable::VerifyIndexes()
{
    Ensure();
    std::string out;
    const auto note = [&](const std::string& s) {
        if (!out.empty()) out += "; ";
        out += s;
    };
    if (keyFields_ > 0) {
        if (!px_) {
            if (data_->RecordCount() > 0) note("the primary index file is missing");
        } else if (const std::string v = px_->Verify(*data_); !v.empty()) {
            note(px_->Name() + ": " + v);
        }
    }
    for (auto& s : secondaries_) {
        if (!s.x) continue;
        std::vector<std::vector<std::uint8_t>> want;
        data_->ForEach([&](std::uint16_t b, int, const std::uint8_t* rec) { want.push_back(XRecord(s, rec, b)); });
        const std::size_t keyLen = static_cast<std::size_t>(s.x->KeyLength());
        std::sort(want.begin(), want.end(), [&](const auto& a, const auto& b) {
            return std::memcmp(a.data(), b.data(), keyLen) < 0;
        });
        std::vector<std::vector<std::uint8_t>> have;
        s.x->ForEach([&](std::uint16_t, int, const std::uint8_t* r) { have.emplace_back(r, r + s.x->RecordSize()); });
        if (want != have) note(s.x->Name() + " differs from a rebuild");
        if (!s.y) {
            if (s.x->RecordCount() > 0) note("the index file of " + s.x->Name() + " is missing");
        } else if (const std::string v = s.y->Verify(*s.x); !v.empty()) {
            note(s.y->Name() + ": " + v);
        }
    }
    return out;
}

} // namespace bde
