// Mode 2 of the change engine: the map objects stored in the sectors of the
// chosen layers get new identifiers, and every place that names an object
// follows: its rows in the layer's semantic tables, the sector blob, the
// object index VELMO_OBJINFO and both columns of VELMO_LINKS.
//
// The work goes sector by sector. A sector is one transaction on the spatial
// database with a nested one on the semantic database, committed first. When
// the semantic half committed on its own and the spatial commit then fails,
// the sector's semantic rows are renamed back before the error ends the run,
// so the two databases never disagree about a sector. The sector's map of
// old to new identifiers is logged only once both halves are committed.
//
// Before the layers the mode reports, as an HTML page shown through the host,
// the semantic tables of the chosen layers that the semantic database lacks;
// the run goes on all the same, and a layer with a missing table fails at
// its first sector that has something to write.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Tools/Parvane/ChangeHosts.h"
#include "Tools/Parvane/RunContexts.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/RefCounted.h"

class TSectorData;

// One semantic table of a layer: the physical name (trimmed) and the link type.
struct TLayerSemTable {
    std::string TableName;
    std::int32_t LinkType = 0;
};
using TLayerSemTables = std::vector<TLayerSemTable>;

// The link type as the report shows it.
std::string SemTableLinkTypeText(std::int32_t linkType);
// One row of the report of missing tables: three cells, their texts escaped.
std::string MissingSemTableRow(const std::string& semTableName, const std::string& tableName,
                               std::int32_t linkType);
// The report's body for these rows (empty when there are none).
std::string MissingSemTablesReport(const std::vector<std::string>& rows);
// Shows html through the host: false (and nothing shown) for an empty text,
// and false when showing failed; the failure goes no further.
bool TryShowHTMLReport(IChangeHost& host, const std::string& html) noexcept;
// Refuses a table name read from the database that cannot go into SQL
// (empty, or holding a character a bracketed name cannot hold).
void CheckSemTableName(const std::string& tableName);
// Whether CheckSemTableName lets the name pass.
bool UsableTableName(const std::string& tableName);

// The mode over the context of one run; lives for one run of the mode.
class TSpatialChanger {
public:
    explicit TSpatialChanger(const TRunContext& run);
    TSpatialChanger(const TSpatialChanger&) = delete;
    TSpatialChanger& operator=(const TSpatialChanger&) = delete;

    // The whole mode.
    void ChangeSpatialObjectIDs();

    // Reports the missing semantic tables of layers; true when none is missing.
    bool CheckSemTables(const TVelmoSysObjectList& layers);
    void LoadTopoLinks(TBinIDList& links1, TBinIDList& links2);
    // The distinct identifiers of one column of VELMO_LINKS, sorted.
    void LoadLinkIDs(const std::string& column, TBinIDList& list);
    void LoadLayerSectors(const TVelmoSysObject& layer, std::vector<std::string>& sectors);
    void LoadLayerSemTables(const TVelmoSysObject& layer, TLayerSemTables& tables);
    // One sector: loaded, numbered, written in its two transactions, logged.
    void ProcessSector(const std::string& layerID, const std::string& sectorID, const TLayerSemTables& tables,
                       const TBinIDList& links1, const TBinIDList& links2);

    void LoadSector(const std::string& sectorID, TSectorData& sector);
    void SaveSector(const std::string& sectorID, TSectorData& sector);
    // New identifiers in blob order; the map gets the pairs that changed,
    // sorted by old identifier.
    void RenumberSectorObjects(TIDMapList& map, TSectorData& sector);
    // On the semantic database: every table's rows follow the map (reverse
    // renames them back).
    void UpdateSemTableRows(const TIDMapList& map, const TLayerSemTables& tables, bool reverse = false);
    // The index rows of renamed objects get their new identifier in place;
    // a renamed object without a row in the sector gets one.
    void RebuildObjInfo(const TIDMapList& map, const std::string& layerID, const std::string& sectorID);
    void UpdateTopoLinks(const TIDMapList& map, const TBinIDList& links, const std::string& column);

private:
    IUdb& Db() { return run_.Db; }
    IUdb& SemDb() { return run_.SemDb; }

    const TRunContext& run_;
    IChangeHost& host_;
    // Statements made once per run and executed for every sector.
    rtl::RefPtr<IUdbSQLCommand> selectSector_;
    rtl::RefPtr<IUdbSQLCommand> updateSector_;
    rtl::RefPtr<IUdbSQLCommand> renameObjInfo_;
    rtl::RefPtr<IUdbSQLCommand> insertObjInfo_;
    std::map<std::string, rtl::RefPtr<IUdbSQLCommand>> updateLinks_;   // by column
    std::map<std::string, rtl::RefPtr<IUdbSQLCommand>> updateSemRows_; // by table
    std::int32_t sectorsPerReservation_;
};
