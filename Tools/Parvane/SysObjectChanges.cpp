// Mode 1: the changers of the system objects, the style step and the
// reference-book pass over the semantic-table descriptions.
//
// Beyond the columns each kind's own table names, a layer's themes refer to
// it (VELMO_THEMES.LAYERID), and styles and rasters, like every other kind,
// have preference and access rows keyed by their identifier; all of these
// are rewritten with the object. Reference-book references are rewritten
// record by record, so a description keeps every record it stores.
#include "Tools/Parvane/SysObjectChanges.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "Tools/Parvane/ChangeEngine.h"
#include "Tools/Parvane/ChangeRoutines.h"
#include "Tools/Parvane/SpatialChanges.h"
#include "gismodel/SectorData.h"
#include "gismodel/SemTableData.h"
#include "gismodel/VelmoTables.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/TextUtils.h"
#include "platform/rtl/Variant.h"

namespace {

// The rasters of a raster map; the map's identifier is a parameter.
const std::string kRastersOfMapSql = std::string("SELECT ID FROM ") + VelmoTable::Rasters + " WHERE PLANEID = ?";

rtl::Variant Str(const std::string& text) { return rtl::Variant(text); }

const rtl::Variant kFirstColumn(std::int32_t{0});

// The first column of every row as text (empty texts left out).
std::vector<std::string> FirstColumnTexts(const rtl::RefPtr<IUdbCursor>& cursor)
{
    std::vector<std::string> texts;
    if (!cursor) return texts;
    for (; !cursor->Eof(); cursor->Next()) {
        std::string text = cursor->AsString(kFirstColumn, std::string());
        if (!text.empty()) texts.push_back(std::move(text));
    }
    cursor->Close();
    return texts;
}

// What a referencing column refers to: the kinds by their bits, and the
// rasters of a raster map, which are no kind of their own.
constexpr std::uint32_t Of(TSysObjectKind kind) { return std::uint32_t{1} << kind; }
constexpr std::uint32_t kRasters = std::uint32_t{1} << 9;
// Every object has preference and access rows; a raster map has them as a
// vector map, since its changer does all a vector map's changer does.
constexpr std::uint32_t kEveryObject = Of(sokArea) | Of(sokRefBook) | Of(sokProject) | Of(sokVectorMap) | Of(sokLayer) |
                                       Of(sokStyle) | Of(sokSemTable) | Of(sokRelation) | kRasters;

struct TReference {
    std::uint32_t RefersTo;
    const char* Table;
    const char* Column;
};

// The columns that hold another object's identifier, in the order they are
// rewritten. A new referencing column is one more line.
const TReference kReferences[] = {
    {Of(sokArea), VelmoTable::Maps, "GPID"},
    {Of(sokArea), VelmoTable::Projects, "GPID"},
    {Of(sokProject), VelmoTable::ProjectContents, "PROJECTID"},
    {Of(sokProject), VelmoTable::Prefs, "PROJECTID"},
    {Of(sokVectorMap), VelmoTable::Layers, "PLANEID"},
    {Of(sokVectorMap), VelmoTable::ProjectContents, "PLANEID"},
    {Of(sokRasterMap), VelmoTable::Rasters, "PLANEID"},
    {Of(sokLayer), VelmoTable::Sectors, "LAYERID"},
    {Of(sokLayer), VelmoTable::ObjInfo, "LAYERID"},
    {Of(sokLayer), VelmoTable::Styles, "LAYERID"},
    {Of(sokLayer), VelmoTable::SemTables, "LAYERID"},
    {Of(sokLayer), VelmoTable::Relations, "LAYER1ID"},
    {Of(sokLayer), VelmoTable::Relations, "LAYER2ID"},
    {Of(sokLayer), VelmoTable::Themes, "LAYERID"},
    {kEveryObject, VelmoTable::Prefs, "OBJECTID"},
    {Of(sokProject), VelmoTable::Prefs, "DATA"},
    {Of(sokProject), VelmoTable::Modules, "OWNEROBJECTID"},
    {kEveryObject, VelmoTable::AccessRights, "OBJECTID"},
};

} // namespace

TSysObjectChanges::TSysObjectChanges(const TRunContext& run)
    : run_(run), host_(run.Host), db_(run.Db), semDb_(run.SemDb)
{
}

void TSysObjectChanges::ChangeSystemObjects()
{
    CheckSelection();
    ChangeObjectsOfKind(sokArea, &TSysObjectChanges::ChangeAreaID);
    ChangeObjectsOfKind(sokProject, &TSysObjectChanges::ChangeProjectID);
    ChangeObjectsOfKind(sokRefBook, &TSysObjectChanges::ChangeRefBookID);
    ChangeObjectsOfKind(sokRasterMap, &TSysObjectChanges::ChangeRasterMapID);
    ChangeObjectsOfKind(sokVectorMap, &TSysObjectChanges::ChangeVectorMapID);
    ChangeObjectsOfKind(sokLayer, &TSysObjectChanges::ChangeLayerID);
    ChangeStyleIDs();
    ChangeObjectsOfKind(sokSemTable, &TSysObjectChanges::ChangeSemTableID);
    ChangeObjectsOfKind(sokRelation, &TSysObjectChanges::ChangeRelationID);
}

void TSysObjectChanges::CheckSelection()
{
    // A style's layer is its parent identifier: the layer's identifier now,
    // and its new one once the layer step renumbered it. Without one, its
    // sectors cannot be found.
    const TVelmoSysObjectList& objects = run_.SysObjects;
    for (int i = 0; i < objects.Count(); ++i) {
        const TVelmoSysObject* obj = objects.GetItem(i);
        if (obj && obj->Kind == sokStyle)
            RTL_ASSERT(!obj->ParentID.empty(),
                       rtl::Format(SysObjectText::NoLayerForStyle, obj->Name.c_str(), obj->ID.c_str()));
    }
}

// ---- one kind ---------------------------------------------------------------------------

void TSysObjectChanges::ChangeObjectsOfKind(TSysObjectKind kind, TChanger changer)
{
    if (run_.Cancelled) return;
    TVelmoSysObjectList objects;
    TVelmoSysObjectList::SelectByKind(objects, run_.SysObjects, kind);
    if (objects.Count() == 0) return;

    const TSysObjectKindInfo& info = SysObjectKindInfo(kind);
    run_.Log.WriteLog(info.ChangeTitle);
    WithProgress(host_, info.ChangeTitle, objects.Count(), [&] {
        for (int i = 0; i < objects.Count() && !run_.Cancelled; ++i) {
            TVelmoSysObject* obj = objects.GetItem(i);
            host_.StepProgress(std::string(info.Name) + ": " + obj->Name, 1);
            const std::string oldID = obj->ID;
            bool changed = false;
            std::string newID;
            run_.NewIDs.NewIDStrFor(oldID, changed, newID);
            if (!changed) continue;
            run_.Transactions.ChangeItem([&] { (this->*changer)(oldID, newID); });
            run_.Log.LogIDChange(oldID, newID);
            TVelmoSysObjectList& chosen = run_.SysObjects;
            chosen.SetID(chosen.IndexOf(obj), newID);
        }
    });
}

std::int32_t TSysObjectChanges::ReplaceIDInColumn(const std::string& table, const std::string& column,
                                                  const std::string& oldID, const std::string& newID)
{
    const auto command = PrepareUpdate(db_, table, {UdbStrParam(column)}, {UdbStrParam(column)}, false);
    command->Execute({Str(newID), Str(oldID)});
    const std::int32_t rows = command->RowsAffected();
    host_.TickSpinner(true);
    return rows;
}

void TSysObjectChanges::ReplaceKey(const TColumn& key, const std::string& oldID, const std::string& newID)
{
    CheckCondition(ReplaceIDInColumn(key.Table, key.Column, oldID, newID) == 1, SysObjectText::OwnRowNotFound);
}

void TSysObjectChanges::ReplaceReferences(std::uint32_t what, const std::string& oldID, const std::string& newID)
{
    for (const TReference& r : kReferences)
        if (r.RefersTo & what) ReplaceIDInColumn(r.Table, r.Column, oldID, newID);
}

// ---- the changers ---------------------------------------------------------------------------

void TSysObjectChanges::ChangeAreaID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::Areas, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokArea), oldID, newID);
}

void TSysObjectChanges::ChangeProjectID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::Projects, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokProject), oldID, newID);
}

void TSysObjectChanges::ChangeRefBookID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::RefBooks, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokRefBook), oldID, newID);
    UpdateRefBookFields(oldID, newID);
}

void TSysObjectChanges::ChangeVectorMapID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::Maps, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokVectorMap), oldID, newID);
}

void TSysObjectChanges::ChangeRasterMapID(const std::string& oldID, const std::string& newID)
{
    ChangeVectorMapID(oldID, newID);
    ReplaceKey({VelmoTable::RasterMaps, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokRasterMap), oldID, newID);
    ChangeRasterIDs(newID);
}

void TSysObjectChanges::ChangeRasterIDs(const std::string& mapID)
{
    const std::vector<std::string> rasters =
        FirstColumnTexts(PrepareSQL(db_, kRastersOfMapSql, {udtString}, false)->Execute({Str(mapID)}));
    const auto update = PrepareUpdate(db_, VelmoTable::Rasters, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
    for (const std::string& oldID : rasters) {
        if (run_.Cancelled) break;
        if (StrToBinID(oldID) == 0) continue; // not an identifier: never mapped
        const std::string newID = BinIDToStr(run_.Generator.NextID());
        update->Execute({Str(newID), Str(oldID)});
        CheckCondition(update->RowsAffected() == 1, SysObjectText::WrittenRowNotFound);
        ReplaceReferences(kRasters, oldID, newID);
    }
}

void TSysObjectChanges::ChangeLayerID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::Layers, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokLayer), oldID, newID);
}

void TSysObjectChanges::ChangeSemTableID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::SemTables, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokSemTable), oldID, newID);
}

void TSysObjectChanges::ChangeRelationID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({VelmoTable::Relations, "ID"}, oldID, newID);
    ReplaceReferences(Of(sokRelation), oldID, newID);
}

// ---- styles ---------------------------------------------------------------------------------

void TSysObjectChanges::ChangeStyleIDs()
{
    TVelmoSysObjectList styles;
    TVelmoSysObjectList::SelectByKind(styles, run_.SysObjects, sokStyle);
    if (run_.Cancelled || styles.Count() == 0) return;

    const char* const title = SysObjectKindInfo(sokStyle).ChangeTitle;
    run_.Log.WriteLog(title);
    WithProgress(host_, title, styles.Count(), [&] {
        std::vector<std::string> layers;
        for (int i = 0; i < styles.Count(); ++i) {
            const std::string& layer = styles.GetItem(i)->ParentID;
            if (std::find(layers.begin(), layers.end(), layer) == layers.end()) layers.push_back(layer);
        }
        for (const std::string& layer : layers) {
            if (run_.Cancelled) break;
            TVelmoSysObjectList layerStyles;
            TVelmoSysObjectList::SelectByParent(layerStyles, run_.SysObjects, sokStyle, layer);
            ChangeLayerStyleIDs(layer, layerStyles);
        }
    });
}

void TSysObjectChanges::ChangeLayerStyleIDs(const std::string& layerID, const TVelmoSysObjectList& styles)
{
    if (styles.Count() == 0) return;
    struct TChanged {
        TVelmoSysObject* Style;
        std::string OldID;
        std::string NewID;
    };
    std::vector<TChanged> changed;
    TIDMapList map;
    run_.Transactions.ChangeItem([&] {
        const auto update = PrepareUpdate(db_, VelmoTable::Styles, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
        map.BeginUpdate(styles.Count(), 100);
        try {
            for (int i = 0; i < styles.Count() && !run_.Cancelled; ++i) {
                TVelmoSysObject* style = styles.GetItem(i);
                host_.StepProgress(SysObjectText::StyleStep + style->Name, 1);
                bool isNew = false;
                std::string newID;
                run_.NewIDs.NewIDStrFor(style->ID, isNew, newID);
                map.AddMappingStr(style->ID, newID, true);
                if (!isNew) continue;
                update->Execute({Str(newID), Str(style->ID)});
                CheckCondition(update->RowsAffected() == 1, SysObjectText::WrittenRowNotFound);
                ReplaceReferences(Of(sokStyle), style->ID, newID);
                changed.push_back({style, style->ID, newID});
            }
        } catch (...) {
            map.EndUpdate();
            throw;
        }
        map.EndUpdate();
        host_.StepProgress(SysObjectText::UpdatingSectors, 0);
        UpdateLayerSectorStyles(layerID, map);
    });
    // Only what committed is logged and followed by the chosen list.
    TVelmoSysObjectList& chosen = run_.SysObjects;
    for (const TChanged& c : changed) {
        run_.Log.LogIDChange(c.OldID, c.NewID);
        chosen.SetID(chosen.IndexOf(c.Style), c.NewID);
    }
}

void TSysObjectChanges::UpdateLayerSectorStyles(const std::string& layerID, const TIDMapList& map)
{
    if (map.Count() == 0) return;
    const std::vector<std::string> sectors = FirstColumnTexts(
        PrepareSelect(db_, VelmoTable::Sectors, {"ID"}, {UdbStrParam("LAYERID")}, false)->Execute({Str(layerID)}));
    if (sectors.empty()) return;

    sectorRead_ = PrepareSelect(db_, VelmoTable::Sectors, {"OBJECTS"}, {UdbStrParam("ID")}, true);
    sectorWrite_ = PrepareUpdate(db_, VelmoTable::Sectors, {UdbBlobParam("OBJECTS")}, {UdbStrParam("ID")}, true);
    try {
        const int count = static_cast<int>(sectors.size());
        for (int i = 0; i < count; ++i) {
            const std::string& sector = sectors[static_cast<std::size_t>(i)];
            host_.StepProgress(rtl::Format(SysObjectText::UpdatingSector, sector.c_str(), i, count), 0);
            UpdateSectorStyles(sector, map);
        }
    } catch (...) {
        sectorRead_ = nullptr;
        sectorWrite_ = nullptr;
        throw;
    }
    sectorRead_ = nullptr;
    sectorWrite_ = nullptr;
}

void TSysObjectChanges::UpdateSectorStyles(const std::string& sectorID, const TIDMapList& map)
{
    RTL_ASSERT(sectorRead_ && sectorWrite_, rtl::SAssertionFailed);
    const rtl::RefPtr<TSectorData> sector(new TSectorData);
    {
        const auto cursor = sectorRead_->Execute({Str(sectorID)});
        if (!cursor) return;
        if (cursor->Eof()) {
            cursor->Close();
            return;
        }
        LoadSectorFromBlob(*sector, cursor->AsBlob(kFirstColumn));
        cursor->Close();
    }
    bool changed = false;
    for (int i = 0; i < sector->Objects.Count(); ++i) {
        const TMapObjectData* object = sector->Objects.GetItem(i);
        for (int j = 0; j < object->Shapes.Count(); ++j) {
            TShapeData* shape = object->Shapes.GetItem(j);
            const BinID styleID = map.MapID(shape->StyleID);
            if (styleID == shape->StyleID) continue;
            shape->StyleID = styleID;
            changed = true;
        }
    }
    if (!changed) return;
    rtl::Variant blob;
    SaveSectorToBlob(*sector, blob);
    sectorWrite_->Execute({blob, Str(sectorID)});
    RTL_ASSERT(sectorWrite_->RowsAffected() == 1, SysObjectText::WrittenRowNotFound);
}

// ---- reference books ------------------------------------------------------------------------

void TSysObjectChanges::UpdateRefBookFields(const std::string& oldID, const std::string& newID)
{
    const BinID oldBook = StrToBinID(oldID);
    const BinID newBook = StrToBinID(newID);
    if (oldBook == 0 || newBook == 0 || oldBook == newBook) return;
    const std::string newText = BinIDToStr(newBook);

    const std::int32_t rows = RecordCount(db_, VelmoTable::SemTables);
    WithProgress(host_, SysObjectText::RefBookFieldsProgress, rows + 1, [&] {
        // The descriptions to write back: row identifier and records. The pass
        // is not cancelled half way: a book and its descriptions change together.
        std::vector<std::pair<std::string, std::vector<TAdditionalDataRecord>>> kept;
        {
            const auto cursor = SelectAll(db_, VelmoTable::SemTables);
            for (; cursor && !cursor->Eof(); cursor->Next()) {
                const std::string rowID = cursor->AsString(Str("ID"), std::string());
                const std::string tableName = rtl::Trim(cursor->AsString(Str("TABLENAME"), std::string()));
                const std::string semName = rtl::Trim(cursor->AsString(Str("SEMTABLENAME"), std::string()));
                try {
                    // A name that cannot go into SQL names no table the database could hold.
                    if (UsableTableName(tableName)) {
                        if (semDb_.TableExists(tableName)) {
                            rtl::TMemoryStream stream(BlobToStr(cursor->AsBlob(Str("REFBOOKFIELD"))));
                            TAdditionalData data = ReadAdditionalDataRecords(stream);
                            bool matched = false;
                            for (TAdditionalDataRecord& record : data.Records) {
                                if (record.RefBookID() != oldBook) continue;
                                record.RefBookIDText = newText;
                                matched = true;
                            }
                            if (matched) kept.emplace_back(rowID, std::move(data.Records));
                        }
                    }
                } catch (const std::exception& e) {
                    throw rtl::Exception(
                        rtl::Format(SysObjectText::SemTableLoadError, semName.c_str(), rowID.c_str(), e.what()));
                }
                host_.TickSpinner(true);
            }
            if (cursor) cursor->Close();
        }
        if (kept.empty()) return;

        host_.StepProgress(SysObjectText::SavingChanges, 1);
        const auto update =
            PrepareUpdate(db_, VelmoTable::SemTables, {UdbBlobParam("REFBOOKFIELD")}, {UdbStrParam("ID")}, false);
        for (const auto& [rowID, records] : kept) {
            rtl::TMemoryStream stream;
            WriteAdditionalDataRecords(stream, records);
            update->Execute({rtl::Variant(stream.Bytes()), Str(rowID)});
            RTL_ASSERT(update->RowsAffected() == 1, SysObjectText::CantUpdateSemTable);
        }
    });
}
