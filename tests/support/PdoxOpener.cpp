// The Paradox opener of the Velmo test pair and its database class with
// column widths cut to Paradox's limits.
#include "tests/support/PdoxOpener.h"

#include <filesystem>

namespace velmotest {

namespace {

// The widest Alpha field and the most blob bytes a record keeps.
constexpr std::int32_t kMaxAlpha = 255;
constexpr std::int32_t kMaxBlobInRecord = 240;

class TCappedTableDef : public TBDETableDef {
public:
    explicit TCappedTableDef(TBDEUdb* db) : TBDETableDef(db, false) {}

protected:
    ~TCappedTableDef() override = default;

    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override
    {
        TTableDef capped;
        capped.Assign(def);
        for (int i = 0; i < capped.Fields.Count(); ++i) {
            TFieldDef& f = capped.Fields.Get(i);
            if (BaseDataType(f.DataType) == udtString && f.Size > kMaxAlpha) f.Size = kMaxAlpha;
            if (BaseDataType(f.DataType) == udtBinary && f.Size > kMaxBlobInRecord) f.Size = kMaxBlobInRecord;
        }
        TBDETableDef::DoCreateTable(name, capped, withIndexes);
    }
};

} // namespace

std::string PdoxParamsXml(const std::string& folder, const char* password)
{
    std::string xml = "<driver name=\"BDE.Paradox\" caption=\"Paradox\"><param name=\"" + std::string(PdoxFolderParam) +
                      "\">" + folder + "</param>";
    if (password) xml += "<param name=\"" + std::string(PdoxPasswordParam) + "\">" + password + "</param>";
    return xml + "</driver>";
}

rtl::RefPtr<TUdbTableDef> TCappedPdoxUdb::CreateTableDef() { return rtl::MakeRef<TCappedTableDef>(this); }

TUdbOpener PdoxOpener()
{
    return [](const std::string& folder, const std::string& name) -> rtl::RefPtr<IUdb> {
        const std::string path = (std::filesystem::path(folder) / name).string();
        std::filesystem::create_directories(path);
        rtl::RefPtr<IUdb> db = rtl::MakeRef<TCappedPdoxUdb>();
        db->Open(PdoxParamsXml(path));
        return db;
    };
}

} // namespace velmotest
