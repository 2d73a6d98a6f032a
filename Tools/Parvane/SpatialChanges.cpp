// Mode 2: the map objects of the chosen layers get new identifiers, sector
// by sector, with their semantic rows, object index rows and links.
#include "Tools/Parvane/SpatialChanges.h"

#include <algorithm>

#include <iterator>

#include "CoreLib/HTMLReportUtils.h"
#include "Tools/Parvane/ChangeRoutines.h"
#include "gismodel/SectorData.h"
#include "gismodel/VelmoTables.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Texts shown and logged.
constexpr const char* kTitle = "Изменение идентификаторов пространственных данных";
constexpr const char* kCheckingSemTables = "Проверка существования семантических таблиц";
constexpr const char* kLoadingLinks = "Загрузка топосвязей";
constexpr const char* kLoadingSectors = "Загрузка списка секторов";
constexpr const char* kLoadingSemTables = "Загрузка списка семантических таблиц";
constexpr const char* kLayerStep = "Слой: %s";
// The first letter of "cектор" is a Latin c: the text is shown as it always was.
constexpr const char* kSectorStep = "Слой: %s (cектор %d из %d)";
constexpr const char* kReportTitle = "<h2>Замена идентификаторов пространственных объектов</h2>";
constexpr const char* kReportError = "<font color=red>Ошибка(и): Не найдены семантические таблицы:</font><br>";
constexpr const char* kReportRow = "<td>%s</td><td>%s</td><td>%s</td>";
constexpr const char* kReportHeaders[] = {"Сем. таблица", "Физ. имя таблицы", "Тип"};
constexpr const char* kOneToOne = "один-к-одному";
constexpr const char* kOneToMany = "один-ко-многим";
constexpr const char* kUnknownLinkType = "не известно";
constexpr const char* kRepeatedID =
    "Сектор %s содержит объект %s более одного раза: новые идентификаторы его объектов не назначены";
constexpr const char* kRenameBackFailed =
    "Семантические строки сектора %s не удалось вернуть к прежним идентификаторам: %s";
// Assertions.
constexpr const char* kSectorNotFound = "sector not found";
constexpr const char* kCantUpdateSector = "can't update sector";
constexpr const char* kCantChangeTopolinks = "can't change topolinks";

using rtl::Variant;

// Sectors of the current size whose numbers a reservation covers: the first
// covers ten, each later one twice as many as the one before, up to a
// thousand. The bound is then written a few times per run, not once per ten
// sectors, and a stopped run leaves a gap of at most what it already used.
constexpr std::int32_t kFirstSectorsPerReservation = 10;
constexpr std::int32_t kMostSectorsPerReservation = 1000;

} // namespace

// ---- the report --------------------------------------------------------------------------

std::string SemTableLinkTypeText(std::int32_t linkType)
{
    switch (linkType) {
    case 0: return kOneToOne;
    case 1: return kOneToMany;
    default: return kUnknownLinkType;
    }
}

std::string MissingSemTableRow(const std::string& semTableName, const std::string& tableName,
                               std::int32_t linkType)
{
    return rtl::Format(kReportRow, HTMLEscape(semTableName).c_str(), HTMLEscape(tableName).c_str(),
                       HTMLEscape(SemTableLinkTypeText(linkType)).c_str());
}

std::string MissingSemTablesReport(const std::vector<std::string>& rows)
{
    if (rows.empty()) return std::string();
    std::string table;
    MakeHTMLTable({std::begin(kReportHeaders), std::end(kReportHeaders)}, rows, table);
    return std::string(kReportTitle) + kReportError + table;
}

bool TryShowHTMLReport(IChangeHost& host, const std::string& html) noexcept
{
    if (html.empty()) return false;
    try {
        host.ShowReport(html);
        return true;
    } catch (...) {
        // A report that cannot be shown is simply not shown.
        return false;
    }
}

void CheckSemTableName(const std::string& tableName)
{
    if (tableName.empty()) throw EUdbException(rtl::Format(UdbMsg::BadSqlName, ""));
    CheckSqlName(tableName);
}

bool UsableTableName(const std::string& tableName)
{
    try {
        CheckSemTableName(tableName);
        return true;
    } catch (const EUdbException&) {
        return false;
    }
}

// ---- the mode ----------------------------------------------------------------------------

TSpatialChanger::TSpatialChanger(const TRunContext& run)
    : run_(run), host_(run.Host), sectorsPerReservation_(kFirstSectorsPerReservation)
{
}

void TSpatialChanger::ChangeSpatialObjectIDs()
{
    TVelmoSysObjectList layers;
    TVelmoSysObjectList::SelectByKind(layers, run_.SysObjects, sokLayer);
    if (layers.Count() == 0) return;

    CheckSemTables(layers);
    TBinIDList links1;
    TBinIDList links2;
    LoadTopoLinks(links1, links2);

    WithProgress(host_, kTitle, layers.Count(), [&] {
        run_.Log.WriteLog(kTitle);
        std::vector<std::string> sectors;
        TLayerSemTables tables;
        for (int i = 0; i < layers.Count() && !run_.Cancelled; ++i) {
            const TVelmoSysObject& layer = *layers.GetItem(i);
            host_.StepProgress(rtl::Format(kLayerStep, layer.Name.c_str()), 1);
            LoadLayerSectors(layer, sectors);
            LoadLayerSemTables(layer, tables);
            const int count = static_cast<int>(sectors.size());
            for (int j = 0; j < count && !run_.Cancelled; ++j) {
                host_.StepProgress(rtl::Format(kSectorStep, layer.Name.c_str(), j, count), 0);
                ProcessSector(layer.ID, sectors[static_cast<std::size_t>(j)], tables, links1, links2);
            }
        }
    });
}

bool TSpatialChanger::CheckSemTables(const TVelmoSysObjectList& layers)
{
    std::vector<std::string> rows;
    WithProgress(host_, kCheckingSemTables, RecordCount(Db(), VelmoTable::SemTables), [&] {
        const rtl::RefPtr<IUdbCursor> cursor = SelectAll(Db(), VelmoTable::SemTables);
        if (!cursor) return;
        for (; !cursor->Eof() && !run_.Cancelled; cursor->Next()) {
            if (!layers.LookupID(cursor->AsString(Variant("LAYERID"), std::string()))) continue;
            const std::string tableName = rtl::Trim(cursor->AsString(Variant("TABLENAME"), std::string()));
            // A name that cannot go into SQL names no table the database could hold.
            if (!UsableTableName(tableName) || !SemDb().TableExists(tableName))
                rows.push_back(MissingSemTableRow(cursor->AsString(Variant("SEMTABLENAME"), std::string()), tableName,
                                                  cursor->AsInteger(Variant("LINKTYPE"), 0)));
        }
        cursor->Close();
        if (!rows.empty()) {
            run_.Report = MissingSemTablesReport(rows);
            TryShowHTMLReport(host_, run_.Report);
        }
    });
    return rows.empty();
}

// ---- loading -------------------------------------------------------------------------------

void TSpatialChanger::LoadTopoLinks(TBinIDList& links1, TBinIDList& links2)
{
    WithProgress(host_, kLoadingLinks, 0, [&] {
        LoadLinkIDs("OBJECT1ID", links1);
        LoadLinkIDs("OBJECT2ID", links2);
    });
}

void TSpatialChanger::LoadLinkIDs(const std::string& column, TBinIDList& list)
{
    if (run_.Cancelled) return;
    list.Clear();
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSQL(Db(), "SELECT DISTINCT " + column + " FROM " + VelmoTable::TopoLinks, {}, false)
            ->Execute(nullptr, 0);
    if (cursor) {
        for (; !cursor->Eof() && !run_.Cancelled; cursor->Next()) {
            host_.StepProgress(kLoadingLinks, 1);
            list.Add(StrToBinID(cursor->AsString(Variant(0), std::string())));
        }
        cursor->Close();
    }
    list.Sort();
}

void TSpatialChanger::LoadLayerSectors(const TVelmoSysObject& layer, std::vector<std::string>& sectors)
{
    sectors.clear();
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSelect(Db(), VelmoTable::Sectors, {"ID"}, {UdbStrParam("LAYERID")}, true)->Execute({Variant(layer.ID)});
    if (!cursor) return;
    for (; !cursor->Eof() && !run_.Cancelled; cursor->Next()) {
        host_.StepProgress(kLoadingSectors, 0);
        sectors.push_back(cursor->AsString(Variant(0), std::string()));
    }
    cursor->Close();
}

void TSpatialChanger::LoadLayerSemTables(const TVelmoSysObject& layer, TLayerSemTables& tables)
{
    tables.clear();
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSelect(Db(), VelmoTable::SemTables, {"TABLENAME", "LINKTYPE"}, {UdbStrParam("LAYERID")}, true)
            ->Execute({Variant(layer.ID)});
    if (!cursor) return;
    for (; !cursor->Eof() && !run_.Cancelled; cursor->Next()) {
        host_.StepProgress(kLoadingSemTables, 0);
        tables.push_back({rtl::Trim(cursor->AsString(Variant(0), std::string())), cursor->AsInteger(Variant(1), 0)});
    }
    cursor->Close();
}

// ---- one sector -------------------------------------------------------------------------------

void TSpatialChanger::ProcessSector(const std::string& layerID, const std::string& sectorID,
                                    const TLayerSemTables& tables, const TBinIDList& links1,
                                    const TBinIDList& links2)
{
    const rtl::RefPtr<TSectorData> sector(new TSectorData);
    LoadSector(sectorID, *sector);
    if (sector->Objects.Count() == 0) return;

    // When the reservation runs short, numbers for several sectors of this
    // size are reserved at once: the generator writes its bound outside the
    // sector's transaction, a durable write of its own that would otherwise
    // cost about as much as the sector's commit.
    const std::int32_t need = static_cast<std::int32_t>(tables.size()) + sector->Objects.Count();
    const std::int64_t reservedBefore = run_.Generator.Reserved();
    run_.Generator.ReserveAhead(need, sectorsPerReservation_);
    if (run_.Generator.Reserved() != reservedBefore)
        sectorsPerReservation_ = std::min(2 * sectorsPerReservation_, kMostSectorsPerReservation);
    TIDMapList map;
    RenumberSectorObjects(map, *sector);
    if (map.Count() == 0) return;

    // What would make the sector fail for sure is refused before its transaction.
    TIDMapItem item;
    TIDMapItem previous;
    for (int i = 0; i < map.Count(); ++i) {
        map.GetItem(i, item);
        if (i > 0 && item.OldID == previous.OldID)
            throw rtl::Exception(rtl::Format(kRepeatedID, sectorID.c_str(), BinIDToStr(item.OldID).c_str()));
        previous = item;
    }
    for (const TLayerSemTable& table : tables) CheckSemTableName(table.TableName);

    // Both halves in one unit: the semantic one commits first, its rows are
    // renamed back when the spatial commit then fails, and the map is logged
    // only once both are committed.
    TItemChange change;
    change.BothDatabases = true;
    change.Change = [&] {
        UpdateSemTableRows(map, tables);
        SaveSector(sectorID, *sector);
        RebuildObjInfo(map, layerID, sectorID);
        UpdateTopoLinks(map, links1, "OBJECT1ID");
        UpdateTopoLinks(map, links2, "OBJECT2ID");
    };
    change.RenameBack = [&] { UpdateSemTableRows(map, tables, true); };
    change.RenameBackFailed = [&](const std::string& error) {
        return rtl::Format(kRenameBackFailed, sectorID.c_str(), error.c_str());
    };
    change.Committed = [&] { run_.Log.LogIDMap(map); };
    run_.Transactions.ChangeItem(change);
}

void TSpatialChanger::LoadSector(const std::string& sectorID, TSectorData& sector)
{
    if (!selectSector_)
        selectSector_ = PrepareSelect(Db(), VelmoTable::Sectors, {"OBJECTS"}, {UdbStrParam("ID")}, true);
    const rtl::RefPtr<IUdbCursor> cursor = selectSector_->Execute({Variant(sectorID)});
    const bool found = cursor && !cursor->Eof();
    if (found) {
        const Variant blob = cursor->AsBlob(Variant(0));
        cursor->Close();
        LoadSectorFromBlob(sector, blob);
    } else if (cursor) {
        cursor->Close();
    }
    RTL_ASSERT(found, kSectorNotFound);
    host_.TickSpinner(true);
}

void TSpatialChanger::SaveSector(const std::string& sectorID, TSectorData& sector)
{
    Variant blob;
    SaveSectorToBlob(sector, blob);
    if (!updateSector_)
        updateSector_ = PrepareUpdate(Db(), VelmoTable::Sectors, {UdbBlobParam("OBJECTS")}, {UdbStrParam("ID")}, true);
    updateSector_->Execute({blob, Variant(sectorID)});
    RTL_ASSERT(updateSector_->RowsAffected() == 1, kCantUpdateSector);
    host_.TickSpinner(true);
}

void TSpatialChanger::RenumberSectorObjects(TIDMapList& map, TSectorData& sector)
{
    const int count = sector.Objects.Count();
    map.BeginUpdate(count, 100);
    try {
        for (int i = 0; i < count; ++i) {
            TMapObjectData& object = *sector.Objects.GetItem(i);
            bool changed = false;
            const BinID newID = run_.NewIDs.NewIDFor(object.ID, changed);
            object.ID = map.AddMapping(object.ID, newID, true);
        }
    } catch (...) {
        map.EndUpdate();
        throw;
    }
    map.EndUpdate();
}

void TSpatialChanger::UpdateSemTableRows(const TIDMapList& map, const TLayerSemTables& tables, bool reverse)
{
    if (map.Count() == 0) return;
    TIDMapItem item;
    for (const TLayerSemTable& table : tables) {
        rtl::RefPtr<IUdbSQLCommand>& update = updateSemRows_[table.TableName];
        if (!update)
            update = PrepareUpdate(SemDb(), table.TableName, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
        // An object may have no row in a table: the rows affected are not counted.
        for (int i = 0; i < map.Count(); ++i) {
            map.GetItem(i, item);
            const std::string oldText = BinIDToStr(item.OldID);
            const std::string newText = BinIDToStr(item.NewID);
            if (reverse)
                update->Execute({Variant(oldText), Variant(newText)});
            else
                update->Execute({Variant(newText), Variant(oldText)});
        }
        host_.TickSpinner(true);
    }
}

void TSpatialChanger::RebuildObjInfo(const TIDMapList& map, const std::string& layerID, const std::string& sectorID)
{
    if (map.Count() == 0) return;
    if (!renameObjInfo_)
        renameObjInfo_ = PrepareUpdate(Db(), VelmoTable::ObjInfo, {UdbStrParam("ID")},
                                       {UdbStrParam("ID"), UdbStrParam("SECTORID")}, true);
    if (!insertObjInfo_)
        insertObjInfo_ = PrepareInsert(Db(), VelmoTable::ObjInfo,
                                       {UdbStrParam("ID"), UdbStrParam("LAYERID"), UdbStrParam("SECTORID")}, true);
    const Variant sector(sectorID);
    TIDMapItem item;
    for (int i = 0; i < map.Count(); ++i) {
        map.GetItem(i, item);
        const Variant newID(BinIDToStr(item.NewID));
        renameObjInfo_->Execute({newID, Variant(BinIDToStr(item.OldID)), sector});
        if (renameObjInfo_->RowsAffected() == 0) insertObjInfo_->Execute({newID, Variant(layerID), sector});
    }
}

void TSpatialChanger::UpdateTopoLinks(const TIDMapList& map, const TBinIDList& links, const std::string& column)
{
    if (links.Count() == 0) return;
    rtl::RefPtr<IUdbSQLCommand>& update = updateLinks_[column];
    TIDMapItem item;
    for (int i = 0; i < map.Count(); ++i) {
        map.GetItem(i, item);
        if (item.NewID == item.OldID || links.IndexOf(item.OldID) < 0) continue;
        if (!update)
            update = PrepareUpdate(Db(), VelmoTable::TopoLinks, {UdbStrParam(column)}, {UdbStrParam(column)}, true);
        update->Execute({Variant(BinIDToStr(item.NewID)), Variant(BinIDToStr(item.OldID))});
        RTL_ASSERT(update->RowsAffected() >= 1, kCantChangeTopolinks);
    }
}
