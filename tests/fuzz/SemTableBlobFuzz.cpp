// libFuzzer target of the semantic-table additional-data reader.
//
// Each input is read three times: as the blob itself, behind the 31-byte
// signature (its first two bytes the version), and behind the signature and
// the current version, so that every layout is reached without a seed
// corpus. The reader may refuse a blob only with an rtl::Exception, and then
// must leave the description empty and DataVersion restored. A blob it
// accepts must write back, read back to the same additional data, and write
// back again to the same bytes.
#include "tests/fuzz/FuzzCheck.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "CoreLib/Transformer.h"
#include "gismodel/SemTableData.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace {

// A fixed table whose column names a fuzzed record can hit.
class FuzzTableDef : public IUdbTableDef {
public:
    TUdbFieldDef GetFieldDef(std::int32_t index) override
    {
        static const char* const names[] = {"A", "B", "KOD", "NAME", "Я", "ПОКРЫТИЕ", ""};
        return {names[index], udtString, 10, false};
    }
    std::int32_t FieldCount() override { return 7; }
    TUdbIndexDef GetIndexDef(std::int32_t) override { return {"PK", "KOD", true, true}; }
    std::int32_t IndexCount() override { return 1; }

    void SetFieldDef(std::int32_t, const TUdbFieldDef&, bool) override { std::abort(); }
    void AddField(const TUdbFieldDef&) override { std::abort(); }
    void DeleteField(std::int32_t, bool) override { std::abort(); }
    std::int32_t FieldIndex(const std::string&) override { std::abort(); }
    void MoveField(std::int32_t, std::int32_t) override { std::abort(); }
    void SetIndexDef(std::int32_t, const TUdbIndexDef&) override { std::abort(); }
    void AddIndex(const TUdbIndexDef&) override { std::abort(); }
    void DeleteIndex(std::int32_t) override { std::abort(); }
    std::int32_t FindIndex(const std::string&) override { std::abort(); }
    std::string GetTableName() override { return "SEM"; }
    void SetTableName(const std::string&) override { std::abort(); }
    bool IsModified() override { return false; }
    void Apply() override { std::abort(); }
    void Refresh() override { std::abort(); }
};

std::string Written(const TSemTableData& t)
{
    rtl::TMemoryStream out;
    t.SaveAdditionalData(out);
    return out.ToString();
}

// The additional data a rewrite keeps: the key and display fields only
// matter with a reference book.
bool SameAdditionalData(const TSemFieldData& a, const TSemFieldData& b)
{
    if (a.Name != b.Name || a.Caption != b.Caption || a.RefBookID != b.RefBookID) return false;
    if (a.RefBookID == 0) return true;
    if (a.RefBookKeyField != b.RefBookKeyField) return false;
    if (a.RefBookDisplayFields.Count() != b.RefBookDisplayFields.Count()) return false;
    for (int i = 0; i < a.RefBookDisplayFields.Count(); ++i)
        if (a.RefBookDisplayFields.Get(i) != b.RefBookDisplayFields.Get(i)) return false;
    return true;
}

void ReadBlob(std::string_view blob)
{
    static const rtl::RefPtr<FuzzTableDef> def = rtl::MakeRef<FuzzTableDef>();

    const auto t = rtl::MakeRef<TSemTableData>();
    rtl::TMemoryStream in(blob);
    try {
        t->LoadStructure(*def, &in);
    } catch (const rtl::Exception&) {
        FUZZ_CHECK(DataVersion == CurrentDataVersion);
        FUZZ_CHECK(t->Fields.Count() == 0 && t->Indexes.Count() == 0);
        return;
    }
    FUZZ_CHECK(DataVersion == CurrentDataVersion);
    FUZZ_CHECK(t->Fields.Count() == 7 && t->Indexes.Count() == 1);

    const std::string first = Written(*t);
    const auto again = rtl::MakeRef<TSemTableData>();
    rtl::TMemoryStream back(first);
    again->LoadStructure(*def, &back);
    for (int i = 0; i < t->Fields.Count(); ++i)
        FUZZ_CHECK(SameAdditionalData(*t->Fields.GetItem(i), *again->Fields.GetItem(i)));
    FUZZ_CHECK(Written(*again) == first);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReadBlob(bytes);
    const std::string signature(reinterpret_cast<const char*>(AdditionalDataSignature), AdditionalDataSignatureSize);
    ReadBlob(signature + std::string(bytes));
    ReadBlob(signature + "\x1F\x01" + std::string(bytes));
    return 0;
}
