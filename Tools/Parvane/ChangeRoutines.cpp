// The routines the modes of a change run share.
#include "Tools/Parvane/ChangeRoutines.h"

#include "gismodel/SectorData.h"
#include "gismodel/SemTableData.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

void CheckCondition(bool condition, const std::string& message)
{
    if (!condition) throw rtl::Exception(message);
}

std::int32_t RecordCount(IUdb& db, const std::string& table)
{
    CheckSqlName(table);
    const auto cursor = PrepareSQL(db, "select count(*) from [" + table + "]", {}, true)->Execute(nullptr, 0);
    if (!cursor) return 0;
    const std::int32_t count = cursor->Eof() ? 0 : cursor->AsInteger(rtl::Variant(0), 0);
    cursor->Close();
    return count;
}

// ---- blobs ---------------------------------------------------------------------------

std::string BlobToStr(const rtl::Variant& blob)
{
    if (blob.IsNull() || blob.IsEmpty()) return std::string();
    const rtl::ByteArray& bytes = blob.AsBytes();
    return std::string(bytes.begin(), bytes.end());
}

rtl::Variant StrToBlob(const std::string& bytes) { return rtl::Variant(rtl::ByteArray(bytes.begin(), bytes.end())); }

void LoadSectorFromBlob(TSectorData& sector, const rtl::Variant& blob)
{
    rtl::TMemoryStream stream(BlobToStr(blob));
    sector.LoadFromStream(stream);
}

void SaveSectorToBlob(TSectorData& sector, rtl::Variant& blob)
{
    rtl::TMemoryStream stream;
    sector.SaveToStream(stream);
    blob = rtl::Variant(stream.Bytes());
}

void LoadSemTableFromBlob(TSemTableData& table, IUdbTableDef* tableDef, const rtl::Variant& blob)
{
    RTL_ASSERT(tableDef != nullptr, rtl::SAssertionFailed);
    rtl::TMemoryStream stream(BlobToStr(blob));
    table.LoadStructure(*tableDef, &stream);
}

void SaveSemTableToBlob(TSemTableData& table, rtl::Variant& blob)
{
    rtl::TMemoryStream stream;
    table.SaveAdditionalData(stream);
    blob = rtl::Variant(stream.Bytes());
}
