// The Velmo test database pair: folder, databases, system tables, filling
// from a description and the helpers that read tables back for assertions.
#include "tests/support/VelmoFixture.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "gismodel/BinIDs.h"
#include "gismodel/CreateSysTables.h"
#include "gismodel/SectorData.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/Streams.h"
#include "tests/support/SqliteUdb.h"

namespace velmotest {

namespace {

using rtl::Variant;
using TValues = std::vector<std::pair<std::string, Variant>>;

TUdbDataType ParamTypeOf(const Variant& value)
{
    switch (value.VarType()) {
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varInt64: return udtInteger;
    case rtl::varSingle:
    case rtl::varDouble: return udtFloat;
    case rtl::varBoolean: return udtBoolean;
    case rtl::varByteArray: return udtBinary;
    default: return udtString;
    }
}

// A text that is empty stands for Null in identifier columns the description leaves out.
Variant TextOrNull(const std::string& text) { return text.empty() ? Variant::Null() : Variant(text); }

Variant BlobOrNull(const std::optional<rtl::ByteArray>& bytes) { return bytes ? Variant(*bytes) : Variant::Null(); }

void CreateTable(IUdb& db, const std::string& name, const std::vector<TUdbFieldDef>& fields,
                 const std::vector<TUdbIndexDef>& indexes)
{
    const rtl::RefPtr<IUdbTableDef> def = db.GetTableDef("");
    def->SetTableName(name);
    for (const TUdbFieldDef& field : fields) def->AddField(field);
    for (const TUdbIndexDef& index : indexes) def->AddIndex(index);
    def->Apply();
}

// Runs fill inside one transaction of db.
void InTransaction(IUdb& db, const std::function<void()>& fill)
{
    db.StartTransaction();
    try {
        fill();
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

// Inserts rows, reusing one prepared statement per table and column list.
class TInserter {
public:
    explicit TInserter(IUdb& db) : db_(db) {}

    void operator()(const std::string& table, const TValues& values)
    {
        std::vector<TUdbParam> fields;
        std::vector<Variant> row;
        std::string key = table;
        for (const auto& [name, value] : values) {
            fields.push_back({name, ParamTypeOf(value)});
            row.push_back(value);
            key += "|" + name + ":" + rtl::IntToStr(fields.back().DataType);
        }
        rtl::RefPtr<IUdbSQLCommand>& command = commands_[key];
        if (!command) command = PrepareInsert(db_, table, fields, true);
        command->Execute(row);
    }

private:
    IUdb& db_;
    std::map<std::string, rtl::RefPtr<IUdbSQLCommand>> commands_;
};

void FillSpatial(IUdb& db, const TVelmoDesc& d)
{
    TInserter insert(db);
    if (d.DbInfo)
        insert("VELMO_DBINFO",
                  {{"DBID", Variant(d.DbInfo->DbID)},
                   {"DBCAPTION", Variant(d.DbInfo->Caption)},
                   {"IDGROUP", Variant(d.DbInfo->IDGroup)},
                   {"IDNUMBER", Variant(d.DbInfo->IDNumber)},
                   {"VERSION", Variant(d.DbInfo->Version)}});
    for (const TIDSpaceDesc& s : d.Spaces)
        insert("VELMO_IDMAPER",
                  {{"IDCLASS", Variant(std::int32_t{0})}, {"LOCALID", Variant(s.LocalID)}, {"GLOBALID", Variant(s.GlobalID)}});
    for (const TAreaDesc& a : d.Areas)
        insert("VELMO_AREAS", {{"ID", Variant(a.ID)}, {"AREANAME", Variant(a.Name)}});
    for (const TProjectDesc& p : d.Projects)
        insert("VELMO_PROJECTS",
                  {{"ID", Variant(p.ID)}, {"PROJECTNAME", Variant(p.Name)}, {"GPID", TextOrNull(p.AreaID)}});
    for (const TProjMapDesc& pm : d.ProjMaps)
        insert("VELMO_PROJMAPS",
                  {{"ID", Variant(pm.ID)}, {"PROJECTID", TextOrNull(pm.ProjectID)}, {"PLANEID", TextOrNull(pm.MapID)}});
    for (const TMapDesc& m : d.Maps) {
        insert("VELMO_MAPS",
                  {{"ID", Variant(m.ID)},
                   {"GPID", TextOrNull(m.AreaID)},
                   {"MAPNAME", Variant(m.Name)},
                   {"MAPTYPE", Variant(m.MapType)}});
        if (m.MapType == 2 && m.RasterMapRow) insert("VELMO_RASTMAPS", {{"ID", Variant(m.ID)}});
    }
    for (const TRasterDesc& r : d.Rasters)
        insert("VELMO_RASTERS",
                  {{"ID", Variant(r.ID)}, {"PLANEID", TextOrNull(r.MapID)}, {"FILENAME", Variant(r.FileName)}});
    for (const TLayerDesc& l : d.Layers)
        insert("VELMO_LAYERS",
                  {{"ID", Variant(l.ID)},
                   {"PLANEID", TextOrNull(l.MapID)},
                   {"LAYERNAME", Variant(l.Name)},
                   {"ROOTSECTORID", TextOrNull(l.RootSectorID)}});
    for (const TStyleDesc& s : d.Styles)
        insert("VELMO_STYLES",
                  {{"ID", Variant(s.ID)}, {"LAYERID", TextOrNull(s.LayerID)}, {"STYLENAME", Variant(s.Name)}});
    for (const TSemTableDesc& t : d.SemTables)
        insert("VELMO_SEMTABLS",
                  {{"ID", Variant(t.ID)},
                   {"LAYERID", TextOrNull(t.LayerID)},
                   {"SEMTABLENAME", Variant(t.Name)},
                   {"TABLENAME", Variant(t.TableName)},
                   {"LINKTYPE", Variant(t.LinkType)},
                   {"REFBOOKFIELD", BlobOrNull(t.RefBookFieldBytes)}});
    for (const TRelationDesc& r : d.Relations)
        insert("VELMO_RELATION",
                  {{"ID", Variant(r.ID)},
                   {"RELATIONNAME", Variant(r.Name)},
                   {"LAYER1ID", TextOrNull(r.Layer1ID)},
                   {"LAYER2ID", TextOrNull(r.Layer2ID)}});
    for (const TRefBookDesc& r : d.RefBooks)
        insert("VELMO_REFBOOKS",
                  {{"ID", Variant(r.ID)}, {"REFBOOKNAME", Variant(r.Name)}, {"TABLENAME", Variant(r.TableName)}});
    for (const TSectorDesc& s : d.Sectors) {
        insert("VELMO_SECTORS",
                  {{"ID", Variant(s.ID)},
                   {"LAYERID", TextOrNull(s.LayerID)},
                   {"OBJECTS", Variant(s.BlobBytes ? *s.BlobBytes : SectorBlob(s.Objects))}});
        if (s.ObjInfo)
            for (const TObjectDesc& o : s.Objects)
                insert("VELMO_OBJINFO",
                          {{"ID", Variant(o.ID)}, {"LAYERID", TextOrNull(s.LayerID)}, {"SECTORID", Variant(s.ID)}});
    }
    for (const TLinkDesc& l : d.Links)
        insert("VELMO_LINKS", {{"OBJECT1ID", Variant(l.Object1ID)}, {"OBJECT2ID", Variant(l.Object2ID)}});
    for (const TPrefDesc& p : d.Prefs)
        insert("VELMO_PREFS",
                  {{"USERID", Variant(p.UserID)},
                   {"PROJECTID", Variant(p.ProjectID)},
                   {"OBJECTID", Variant(p.ObjectID)},
                   {"KEYNAME", Variant(p.KeyName)},
                   {"DATA", Variant(p.Data)}});
    for (const TRowDesc& r : d.Rows) insert(r.Table, r.Values);
}

// What the databases cannot refuse by themselves, before anything is written.
void CheckDescription(const TVelmoDesc& d)
{
    for (const TSemTableDesc& t : d.SemTables)
        for (const std::vector<Variant>& row : t.RowValues)
            if (row.size() != t.ColumnDefs.size())
                throw rtl::Exception("row of " + t.TableName + " has " + rtl::IntToStr(row.size()) +
                                     " values for " + rtl::IntToStr(t.ColumnDefs.size()) + " columns");
}

void FillSemantic(IUdb& db, const TVelmoDesc& d)
{
    TInserter insert(db);
    for (const TSemTableDesc& t : d.SemTables) {
        if (!t.Exists) continue;
        for (const std::vector<Variant>& row : t.RowValues) {
            TValues values;
            for (std::size_t i = 0; i < row.size(); ++i) values.emplace_back(t.ColumnDefs[i].Name, row[i]);
            insert(t.TableName, values);
        }
    }
}

} // namespace

std::string Id(std::uint16_t group, std::uint32_t number) { return BinIDToStr(MakeBinID(group, number)); }

// ---- description ----------------------------------------------------------------------

TSemTableDesc::TSemTableDesc(std::string id, std::string layerID, std::string name, std::string tableName,
                             std::int32_t linkType)
    : ID(std::move(id)), LayerID(std::move(layerID)), Name(std::move(name)), TableName(std::move(tableName)),
      LinkType(linkType), ColumnDefs{{"ID", udtString, 12, true}, {"VALUE", udtString, 50, false}}
{
}

TSemTableDesc& TSemTableDesc::RefBookField(rtl::ByteArray bytes)
{
    RefBookFieldBytes = std::move(bytes);
    return *this;
}

TSemTableDesc& TSemTableDesc::Missing()
{
    Exists = false;
    return *this;
}

TSemTableDesc& TSemTableDesc::Columns(std::vector<TUdbFieldDef> columns, std::vector<TUdbIndexDef> indexes)
{
    ColumnDefs = std::move(columns);
    IndexDefs = std::move(indexes);
    return *this;
}

TSemTableDesc& TSemTableDesc::Rows(std::vector<std::vector<rtl::Variant>> rows)
{
    RowValues = std::move(rows);
    return *this;
}

TSectorDesc::TSectorDesc(std::string id, std::string layerID, std::vector<TObjectDesc> objects)
    : ID(std::move(id)), LayerID(std::move(layerID)), Objects(std::move(objects))
{
}

TSectorDesc& TSectorDesc::Blob(rtl::ByteArray bytes)
{
    BlobBytes = std::move(bytes);
    return *this;
}

TSectorDesc& TSectorDesc::WithoutObjInfo()
{
    ObjInfo = false;
    return *this;
}

TVelmoDesc& TVelmoDesc::Counter(std::int32_t group, std::int32_t number)
{
    if (!DbInfo) DbInfo = TVelmoDesc().DbInfo;
    DbInfo->IDGroup = group;
    DbInfo->IDNumber = number;
    return *this;
}

TVelmoDesc& TVelmoDesc::Database(std::string dbID, std::string caption, std::int32_t version)
{
    if (!DbInfo) DbInfo = TVelmoDesc().DbInfo;
    DbInfo->DbID = std::move(dbID);
    DbInfo->Caption = std::move(caption);
    DbInfo->Version = version;
    return *this;
}

TVelmoDesc& TVelmoDesc::NoDbInfo()
{
    DbInfo.reset();
    return *this;
}

TVelmoDesc& TVelmoDesc::Space(std::int32_t localID, std::string globalID)
{
    Spaces.push_back({localID, std::move(globalID)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Area(std::string id, std::string name)
{
    Areas.push_back({std::move(id), std::move(name)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Project(std::string id, std::string areaID, std::string name)
{
    Projects.push_back({std::move(id), std::move(areaID), std::move(name)});
    return *this;
}

TVelmoDesc& TVelmoDesc::ProjMap(std::string id, std::string projectID, std::string mapID)
{
    ProjMaps.push_back({std::move(id), std::move(projectID), std::move(mapID)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Map(std::string id, std::string areaID, std::string name, std::int32_t mapType,
                            bool rasterMapRow)
{
    Maps.push_back({std::move(id), std::move(areaID), std::move(name), mapType, rasterMapRow});
    return *this;
}

TVelmoDesc& TVelmoDesc::Raster(std::string id, std::string mapID, std::string fileName)
{
    Rasters.push_back({std::move(id), std::move(mapID), std::move(fileName)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Layer(std::string id, std::string mapID, std::string name, std::string rootSectorID)
{
    Layers.push_back({std::move(id), std::move(mapID), std::move(name), std::move(rootSectorID)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Style(std::string id, std::string layerID, std::string name)
{
    Styles.push_back({std::move(id), std::move(layerID), std::move(name)});
    return *this;
}

TVelmoDesc& TVelmoDesc::SemTable(TSemTableDesc table)
{
    SemTables.push_back(std::move(table));
    return *this;
}

TVelmoDesc& TVelmoDesc::Relation(std::string id, std::string name, std::string layer1ID, std::string layer2ID)
{
    Relations.push_back({std::move(id), std::move(name), std::move(layer1ID), std::move(layer2ID)});
    return *this;
}

TVelmoDesc& TVelmoDesc::RefBook(std::string id, std::string name, std::string tableName)
{
    RefBooks.push_back({std::move(id), std::move(name), std::move(tableName)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Sector(TSectorDesc sector)
{
    Sectors.push_back(std::move(sector));
    return *this;
}

TVelmoDesc& TVelmoDesc::Link(std::string object1ID, std::string object2ID)
{
    Links.push_back({std::move(object1ID), std::move(object2ID)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Pref(std::string userID, std::string projectID, std::string objectID, std::string keyName,
                             std::string data)
{
    Prefs.push_back({std::move(userID), std::move(projectID), std::move(objectID), std::move(keyName), std::move(data)});
    return *this;
}

TVelmoDesc& TVelmoDesc::Row(std::string table, std::vector<std::pair<std::string, rtl::Variant>> values)
{
    Rows.push_back({std::move(table), std::move(values)});
    return *this;
}

// ---- the pair ---------------------------------------------------------------------------

std::string MakeTempFolder(const std::string& prefix, const std::string& root)
{
    const std::filesystem::path parent = root.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(root);
    std::string pattern = (parent / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw rtl::EOSError("mkdtemp failed for " + pattern);
    return pattern;
}

void ClosePair(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic) noexcept
{
    for (rtl::RefPtr<IUdb>* db : {&spatial, &semantic}) {
        try {
            if (*db) (*db)->Close();
        } catch (...) {
            // The other one is closed all the same.
        }
        *db = nullptr;
    }
}

void ClosePairAndRemove(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic, const std::string& folder) noexcept
{
    ClosePair(spatial, semantic);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TUdbOpener SqliteOpener()
{
    return [](const std::string& folder, const std::string& name) -> rtl::RefPtr<IUdb> {
        return OpenSqliteUdb((std::filesystem::path(folder) / (name + ".sqlite")).string());
    };
}

TVelmoDbPair::TVelmoDbPair(TUdbOpener opener) : folder_(MakeTempFolder("velmodb-")), opener_(std::move(opener))
{
    try {
        spatial_ = OpenSpatial();
        semantic_ = OpenSemantic();
        CreateVelmoTables(*spatial_);
    } catch (...) {
        std::error_code ignored;
        if (spatial_) spatial_->Close();
        if (semantic_) semantic_->Close();
        std::filesystem::remove_all(folder_, ignored);
        throw;
    }
}

TVelmoDbPair::TVelmoDbPair(const TVelmoDesc& desc, TUdbOpener opener) : TVelmoDbPair(std::move(opener))
{
    Fill(desc);
}

TVelmoDbPair::~TVelmoDbPair()
{
    ClosePairAndRemove(spatial_, semantic_, folder_);
}

void TVelmoDbPair::Fill(const TVelmoDesc& desc)
{
    CheckDescription(desc);
    // Structure first: table definitions cannot change inside a transaction.
    for (const TSemTableDesc& t : desc.SemTables)
        if (t.Exists && !semantic_->TableExists(t.TableName))
            CreateTable(*semantic_, t.TableName, t.ColumnDefs, t.IndexDefs);
    InTransaction(*spatial_, [&] { FillSpatial(*spatial_, desc); });
    InTransaction(*semantic_, [&] { FillSemantic(*semantic_, desc); });
}

rtl::RefPtr<IUdb> TVelmoDbPair::OpenSpatial() const { return opener_(folder_, "spatial"); }

rtl::RefPtr<IUdb> TVelmoDbPair::OpenSemantic() const { return opener_(folder_, "semantic"); }

void TVelmoDbPair::Reopen()
{
    spatial_->Close();
    semantic_->Close();
    spatial_ = OpenSpatial();
    semantic_ = OpenSemantic();
}

void CreateVelmoTables(IUdb& spatial)
{
    for (const TSysTableDef& def : SysTableDefs()) {
        std::vector<TUdbFieldDef> fields = def.Fields;
        std::vector<TUdbIndexDef> indexes = def.Indexes;
        if (def.Name == "VELMO_IDMAPER") {
            fields.push_back({"IDCLASS", udtInteger, 0, false});
        } else if (def.Name == "VELMO_OBJINFO") {
            // One row per object: the object is the key, the sector only an index.
            fields.push_back({"ID", udtString, 12, true});
            indexes = {{"", "ID", true, true}, {"", "SECTORID", false, false}, {"", "LAYERID", false, false}};
        }
        CreateTable(spatial, def.Name, fields, indexes);
    }
}

void InsertRow(IUdb& db, const std::string& table, const std::vector<std::pair<std::string, Variant>>& values)
{
    std::vector<TUdbParam> fields;
    std::vector<Variant> row;
    for (const auto& [name, value] : values) {
        fields.push_back({name, ParamTypeOf(value)});
        row.push_back(value);
    }
    PrepareInsert(db, table, fields, false)->Execute(row);
}

// ---- blobs ------------------------------------------------------------------------------

rtl::ByteArray SectorBlob(const std::vector<TObjectDesc>& objects)
{
    const rtl::RefPtr<TSectorData> sector(new TSectorData);
    for (const TObjectDesc& o : objects) {
        const rtl::RefPtr<TMapObjectData> object(new TMapObjectData);
        object->ID = StrToBinID(o.ID);
        for (const std::string& style : o.StyleIDs) {
            const rtl::RefPtr<TShapeData> shape(new TShapeData);
            shape->StyleID = StrToBinID(style);
            object->Shapes.Add(shape.get());
        }
        sector->Objects.Add(object.get());
    }
    rtl::TMemoryStream stream;
    sector->SaveToStream(stream);
    return stream.Bytes();
}

std::vector<TObjectDesc> ReadSectorObjects(IUdb& spatial, const std::string& sectorID)
{
    const Variant blob = ReadValue(spatial, "VELMO_SECTORS", "OBJECTS", "ID", sectorID);
    if (blob.IsEmpty()) throw rtl::Exception("no sector " + sectorID);
    rtl::TMemoryStream stream(blob.IsNull() ? rtl::ByteArray() : blob.AsBytes());
    const rtl::RefPtr<TSectorData> sector(new TSectorData);
    sector->LoadFromStream(stream);
    std::vector<TObjectDesc> objects;
    for (int i = 0; i < sector->Objects.Count(); ++i) {
        const TMapObjectData& object = *sector->Objects.GetItem(i);
        TObjectDesc desc{BinIDToStr(object.ID), {}};
        for (int j = 0; j < object.Shapes.Count(); ++j) desc.StyleIDs.push_back(BinIDToStr(object.Shapes.GetItem(j)->StyleID));
        objects.push_back(std::move(desc));
    }
    return objects;
}

// ---- reading back -----------------------------------------------------------------------

std::string CellText(const Variant& value)
{
    if (value.IsNull()) return "<null>";
    if (value.IsByteArray()) {
        std::string out = "x'";
        for (const std::uint8_t b : value.AsBytes()) out += rtl::IntToHex(std::uint32_t{b}, 2);
        return out + "'";
    }
    return rtl::VarToStr(value);
}

TRows ReadRows(IUdb& db, const std::string& table, const std::vector<std::string>& columns, bool inCursorOrder)
{
    TRows rows;
    const rtl::RefPtr<IUdbCursor> cursor = PrepareSelect(db, table, columns, {}, false)->Execute(nullptr, 0);
    for (; cursor && !cursor->Eof(); cursor->Next()) {
        TRow row;
        for (const std::string& column : columns) row.push_back(CellText(cursor->GetValue(Variant(column))));
        rows.push_back(std::move(row));
    }
    if (cursor) cursor->Close();
    if (!inCursorOrder) std::sort(rows.begin(), rows.end());
    return rows;
}

Variant ReadValue(IUdb& db, const std::string& table, const std::string& column, const std::string& keyColumn,
                  const std::string& keyValue)
{
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSelect(db, table, {column}, {UdbStrParam(keyColumn)}, false)->Execute({Variant(keyValue)});
    Variant value;
    if (cursor && !cursor->Eof()) value = cursor->GetValue(Variant(std::int32_t{0}));
    if (cursor) cursor->Close();
    return value;
}

int CountRows(IUdb& db, const std::string& table)
{
    int n = 0;
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(db, table);
    for (; cursor && !cursor->Eof(); cursor->Next()) ++n;
    if (cursor) cursor->Close();
    return n;
}

} // namespace velmotest
