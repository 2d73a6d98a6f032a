// A Velmo database pair for tests: the spatial database with the 24 system
// tables and the semantic database with the attribute tables, created in a
// temporary folder and filled from a short description written in C++.
//
// The fixture talks only IUdb: a driver is plugged in through an opener that
// makes (or reopens) a database of a given name in the folder, so the same
// tests can run on the SQLite test driver and on any other driver. The tables
// are created through IUdbTableDef from the system-table definitions, plus
// the two columns deployed databases carry beyond them:
// VELMO_IDMAPER.IDCLASS and VELMO_OBJINFO.ID. VELMO_OBJINFO holds one row per
// object, so its key is ID and SECTORID has a plain index.
//
// Example:
//     TVelmoDbPair db(TVelmoDesc()
//                         .Counter(3, 5000)
//                         .Space(3, "{...}")
//                         .Layer(Id(1, 2), Id(1, 1), "Roads")
//                         .Sector(TSectorDesc(Id(1, 3), Id(1, 2), {{Id(3, 10), {Id(1, 4)}}})));
//     ReadRows(db.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"})  // {{"3", "5000"}}
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "UdbProject/Udbs.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Variant.h"

namespace velmotest {

// ---- description ----------------------------------------------------------------------

// The 12-character text of the identifier (group, number).
std::string Id(std::uint16_t group, std::uint32_t number);

struct TDbInfoDesc {
    std::string DbID;
    std::string Caption;
    std::int32_t IDGroup = 0;
    std::int32_t IDNumber = 0;
    std::int32_t Version = 0;
};

struct TIDSpaceDesc {
    std::int32_t LocalID = 0;
    std::string GlobalID;
};

struct TAreaDesc {
    std::string ID;
    std::string Name;
};

struct TProjectDesc {
    std::string ID;
    std::string AreaID; // GPID
    std::string Name;
};

// A map in a project (VELMO_PROJMAPS).
struct TProjMapDesc {
    std::string ID;
    std::string ProjectID;
    std::string MapID; // PLANEID
};

struct TMapDesc {
    std::string ID;
    std::string AreaID; // GPID
    std::string Name;
    std::int32_t MapType = 3; // 2 raster, 3 vector
    // A raster map also gets its VELMO_RASTMAPS row unless this is false.
    bool RasterMapRow = true;
};

struct TRasterDesc {
    std::string ID;
    std::string MapID; // PLANEID
    std::string FileName;
};

struct TLayerDesc {
    std::string ID;
    std::string MapID; // PLANEID
    std::string Name;
    std::string RootSectorID;
};

struct TStyleDesc {
    std::string ID;
    std::string LayerID;
    std::string Name;
};

// One row of VELMO_SEMTABLS and, unless it is missing, its physical table in
// the semantic database with its columns (ID String(12) R and VALUE
// String(50) unless given) and rows.
struct TSemTableDesc {
    TSemTableDesc(std::string id, std::string layerID, std::string name, std::string tableName,
                  std::int32_t linkType = 0);
    // REFBOOKFIELD as stored (Null unless given).
    TSemTableDesc& RefBookField(rtl::ByteArray bytes);
    // The semantic database lacks the physical table.
    TSemTableDesc& Missing();
    TSemTableDesc& Columns(std::vector<TUdbFieldDef> columns, std::vector<TUdbIndexDef> indexes = {});
    // Values in column order.
    TSemTableDesc& Rows(std::vector<std::vector<rtl::Variant>> rows);

    std::string ID;
    std::string LayerID;
    std::string Name;      // SEMTABLENAME
    std::string TableName; // TABLENAME
    std::int32_t LinkType;
    std::optional<rtl::ByteArray> RefBookFieldBytes;
    bool Exists = true;
    std::vector<TUdbFieldDef> ColumnDefs;
    std::vector<TUdbIndexDef> IndexDefs;
    std::vector<std::vector<rtl::Variant>> RowValues;
};

struct TRelationDesc {
    std::string ID;
    std::string Name;
    std::string Layer1ID;
    std::string Layer2ID;
};

struct TRefBookDesc {
    std::string ID;
    std::string Name;
    std::string TableName;
};

// A map object: its identifier and one shape (with an empty outline) per style.
struct TObjectDesc {
    std::string ID;
    std::vector<std::string> StyleIDs;
    friend bool operator==(const TObjectDesc&, const TObjectDesc&) = default;
};

// A sector. Its OBJECTS blob is built from the objects unless other bytes
// are given; each object gets its VELMO_OBJINFO row unless left out.
struct TSectorDesc {
    TSectorDesc(std::string id, std::string layerID, std::vector<TObjectDesc> objects = {});
    TSectorDesc& Blob(rtl::ByteArray bytes);
    TSectorDesc& WithoutObjInfo();

    std::string ID;
    std::string LayerID;
    std::vector<TObjectDesc> Objects;
    std::optional<rtl::ByteArray> BlobBytes;
    bool ObjInfo = true;
};

struct TLinkDesc {
    std::string Object1ID;
    std::string Object2ID;
};

struct TPrefDesc {
    std::string UserID;
    std::string ProjectID;
    std::string ObjectID;
    std::string KeyName;
    std::string Data;
};

// Any other row of the spatial database (VELMO_ACL, VELMO_MODULES, ...).
struct TRowDesc {
    std::string Table;
    std::vector<std::pair<std::string, rtl::Variant>> Values;
};

// What a pair holds, built by chained calls. Identifier columns given as ""
// are stored as Null.
struct TVelmoDesc {
    // The VELMO_DBINFO row: counter (group, number) and the other columns.
    TVelmoDesc& Counter(std::int32_t group, std::int32_t number);
    TVelmoDesc& Database(std::string dbID, std::string caption, std::int32_t version = 265);
    // VELMO_DBINFO without its row.
    TVelmoDesc& NoDbInfo();
    TVelmoDesc& Space(std::int32_t localID, std::string globalID);
    TVelmoDesc& Area(std::string id, std::string name);
    TVelmoDesc& Project(std::string id, std::string areaID, std::string name);
    TVelmoDesc& ProjMap(std::string id, std::string projectID, std::string mapID);
    TVelmoDesc& Map(std::string id, std::string areaID, std::string name, std::int32_t mapType = 3,
                    bool rasterMapRow = true);
    TVelmoDesc& Raster(std::string id, std::string mapID, std::string fileName);
    TVelmoDesc& Layer(std::string id, std::string mapID, std::string name, std::string rootSectorID = "");
    TVelmoDesc& Style(std::string id, std::string layerID, std::string name);
    TVelmoDesc& SemTable(TSemTableDesc table);
    TVelmoDesc& Relation(std::string id, std::string name, std::string layer1ID, std::string layer2ID);
    TVelmoDesc& RefBook(std::string id, std::string name, std::string tableName);
    TVelmoDesc& Sector(TSectorDesc sector);
    TVelmoDesc& Link(std::string object1ID, std::string object2ID);
    TVelmoDesc& Pref(std::string userID, std::string projectID, std::string objectID, std::string keyName,
                     std::string data);
    TVelmoDesc& Row(std::string table, std::vector<std::pair<std::string, rtl::Variant>> values);

    std::optional<TDbInfoDesc> DbInfo = TDbInfoDesc{"{6B1E33C0-5A3F-4C1D-9E0B-000000000001}", "Test", 1, 1000, 265};
    std::vector<TIDSpaceDesc> Spaces;
    std::vector<TAreaDesc> Areas;
    std::vector<TProjectDesc> Projects;
    std::vector<TProjMapDesc> ProjMaps;
    std::vector<TMapDesc> Maps;
    std::vector<TRasterDesc> Rasters;
    std::vector<TLayerDesc> Layers;
    std::vector<TStyleDesc> Styles;
    std::vector<TSemTableDesc> SemTables;
    std::vector<TRelationDesc> Relations;
    std::vector<TRefBookDesc> RefBooks;
    std::vector<TSectorDesc> Sectors;
    std::vector<TLinkDesc> Links;
    std::vector<TPrefDesc> Prefs;
    std::vector<TRowDesc> Rows;
};

// ---- the pair ---------------------------------------------------------------------------

// Opens the database called name ("spatial" or "semantic") kept in folder,
// creating it when missing.
using TUdbOpener = std::function<rtl::RefPtr<IUdb>(const std::string& folder, const std::string& name)>;

// The SQLite test driver: the file <folder>/<name>.sqlite.
TUdbOpener SqliteOpener();

// A new empty folder <root>/<prefix>XXXXXX; root "" is the system's
// temporary folder. rtl::EOSError when it cannot be made.
std::string MakeTempFolder(const std::string& prefix, const std::string& root = "");
// Closes both databases of a pair (a failure to close is passed over),
// drops them and removes the folder that held them.
void ClosePairAndRemove(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic, const std::string& folder) noexcept;
// Closes both databases, each even when the other one's close fails, and lets go of them.
void ClosePair(rtl::RefPtr<IUdb>& spatial, rtl::RefPtr<IUdb>& semantic) noexcept;

class TVelmoDbPair {
public:
    // Both databases, the system tables created, nothing filled.
    explicit TVelmoDbPair(TUdbOpener opener = SqliteOpener());
    // The same, then Fill(desc).
    explicit TVelmoDbPair(const TVelmoDesc& desc, TUdbOpener opener = SqliteOpener());
    TVelmoDbPair(const TVelmoDbPair&) = delete;
    TVelmoDbPair& operator=(const TVelmoDbPair&) = delete;
    // Closes both databases and removes the folder.
    ~TVelmoDbPair();

    // Creates the semantic tables of desc, then adds its rows in one
    // transaction per database. A description the databases cannot refuse by
    // themselves (a row whose width differs from its columns) fails first.
    void Fill(const TVelmoDesc& desc);

    IUdb& Spatial() const { return *spatial_; }
    IUdb& Semantic() const { return *semantic_; }
    const rtl::RefPtr<IUdb>& SpatialDb() const noexcept { return spatial_; }
    const rtl::RefPtr<IUdb>& SemanticDb() const noexcept { return semantic_; }

    // A further connection on the same storage.
    rtl::RefPtr<IUdb> OpenSpatial() const;
    rtl::RefPtr<IUdb> OpenSemantic() const;
    // Closes both connections (an open transaction goes back) and opens new
    // ones, as a restarted program would find the pair.
    void Reopen();

    const std::string& Folder() const noexcept { return folder_; }

private:
    std::string folder_;
    TUdbOpener opener_;
    rtl::RefPtr<IUdb> spatial_;
    rtl::RefPtr<IUdb> semantic_;
};

// The 24 system tables with the two deployed extra columns, through IUdbTableDef.
void CreateVelmoTables(IUdb& spatial);
// One row: the columns named with their values (parameter types follow the values).
void InsertRow(IUdb& db, const std::string& table, const std::vector<std::pair<std::string, rtl::Variant>>& values);

// ---- blobs ------------------------------------------------------------------------------

// The OBJECTS blob of a sector holding these objects, in the current format.
rtl::ByteArray SectorBlob(const std::vector<TObjectDesc>& objects);
// The objects of a sector's OBJECTS blob; rtl::Exception when there is no such sector.
std::vector<TObjectDesc> ReadSectorObjects(IUdb& spatial, const std::string& sectorID);

// ---- reading back -----------------------------------------------------------------------

using TRow = std::vector<std::string>;
using TRows = std::vector<TRow>;

// The text of a value as the readers give it: "<null>" for Null, a byte array
// as x'0A1B...' (upper-case hexadecimal), anything else as its text.
std::string CellText(const rtl::Variant& value);
// The given columns of every row of table as texts, sorted unless inCursorOrder.
TRows ReadRows(IUdb& db, const std::string& table, const std::vector<std::string>& columns,
               bool inCursorOrder = false);
// The value of column in the row whose keyColumn holds keyValue (a text);
// Empty when there is no such row.
rtl::Variant ReadValue(IUdb& db, const std::string& table, const std::string& column, const std::string& keyColumn,
                       const std::string& keyValue);
int CountRows(IUdb& db, const std::string& table);

} // namespace velmotest
