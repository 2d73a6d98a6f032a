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

#include "Tools/Parvane/SpatialChanges.h"
#include "gismodel/SectorData.h"
#include "gismodel/SemTableData.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/TextUtils.h"
#include "platform/rtl/Variant.h"

namespace {

constexpr const char* kAreas = "VELMO_AREAS";
constexpr const char* kProjects = "VELMO_PROJECTS";
constexpr const char* kProjMaps = "VELMO_PROJMAPS";
constexpr const char* kMaps = "VELMO_MAPS";
constexpr const char* kRastMaps = "VELMO_RASTMAPS";
constexpr const char* kRasters = "VELMO_RASTERS";
constexpr const char* kLayers = "VELMO_LAYERS";
constexpr const char* kStyles = "VELMO_STYLES";
constexpr const char* kSemTables = "VELMO_SEMTABLS";
constexpr const char* kRelations = "VELMO_RELATION";
constexpr const char* kSectors = "VELMO_SECTORS";
constexpr const char* kObjInfo = "VELMO_OBJINFO";
constexpr const char* kRefBooks = "VELMO_REFBOOKS";
constexpr const char* kPrefs = "VELMO_PREFS";
constexpr const char* kAcl = "VELMO_ACL";
constexpr const char* kModules = "VELMO_MODULES";
constexpr const char* kThemes = "VELMO_THEMES";

// The rasters of a raster map; the map's identifier is a parameter.
constexpr const char* kRastersOfMapSql = "SELECT ID FROM VELMO_RASTERS WHERE PLANEID = ?";

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

IUdb& Attached(IUdb* db)
{
    RTL_ASSERT(db != nullptr, rtl::SAssertionFailed);
    return *db;
}

} // namespace

void TChangeEngine::ChangeSystemObjects() { TSysObjectChanges(*this).ChangeSystemObjects(); }

TSysObjectChanges::TSysObjectChanges(TChangeEngine& engine)
    : engine_(engine), host_(engine.Host()), db_(Attached(engine.Db())), semDb_(Attached(engine.SemDb()))
{
}

void TSysObjectChanges::ChangeSystemObjects()
{
    using namespace SysObjectText;
    CheckSelection();
    ChangeObjectsOfKind(AreasTitle, sokArea, &TSysObjectChanges::ChangeAreaID);
    ChangeObjectsOfKind(ProjectsTitle, sokProject, &TSysObjectChanges::ChangeProjectID);
    ChangeObjectsOfKind(RefBooksTitle, sokRefBook, &TSysObjectChanges::ChangeRefBookID);
    ChangeObjectsOfKind(RasterMapsTitle, sokRasterMap, &TSysObjectChanges::ChangeRasterMapID);
    ChangeObjectsOfKind(VectorMapsTitle, sokVectorMap, &TSysObjectChanges::ChangeVectorMapID);
    ChangeObjectsOfKind(LayersTitle, sokLayer, &TSysObjectChanges::ChangeLayerID);
    ChangeStyleIDs();
    ChangeObjectsOfKind(SemTablesTitle, sokSemTable, &TSysObjectChanges::ChangeSemTableID);
    ChangeObjectsOfKind(RelationsTitle, sokRelation, &TSysObjectChanges::ChangeRelationID);
}

void TSysObjectChanges::CheckSelection()
{
    // A style's layer is its parent identifier: the layer's identifier now,
    // and its new one once the layer step renumbered it. Without one, its
    // sectors cannot be found.
    const TVelmoSysObjectList& objects = engine_.SysObjects();
    for (int i = 0; i < objects.Count(); ++i) {
        const TVelmoSysObject* obj = objects.GetItem(i);
        if (obj && obj->Kind == sokStyle)
            RTL_ASSERT(!obj->ParentID.empty(),
                       rtl::Format(SysObjectText::NoLayerForStyle, obj->Name.c_str(), obj->ID.c_str()));
    }
}

// ---- one kind ---------------------------------------------------------------------------

void TSysObjectChanges::ChangeObjectsOfKind(const std::string& title, TSysObjectKind kind, TChanger changer)
{
    if (engine_.Cancelled()) return;
    TVelmoSysObjectList objects;
    TVelmoSysObjectList::SelectByKind(objects, engine_.SysObjects(), kind);
    if (objects.Count() == 0) return;

    engine_.WriteLog(title);
    WithProgress(host_, title, objects.Count(), [&] {
        for (int i = 0; i < objects.Count() && !engine_.Cancelled(); ++i) {
            TVelmoSysObject* obj = objects.GetItem(i);
            host_.StepProgress(std::string(KindNames[kind]) + ": " + obj->Name, 1);
            const std::string oldID = obj->ID;
            bool changed = false;
            std::string newID;
            engine_.NewIDStrFor(oldID, changed, newID);
            if (!changed) continue;
            engine_.InDbTransaction(db_, [&] { (this->*changer)(oldID, newID); });
            engine_.LogIDChange(oldID, newID);
            TVelmoSysObjectList& chosen = engine_.SysObjects();
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
    TChangeEngine::CheckCondition(ReplaceIDInColumn(key.Table, key.Column, oldID, newID) == 1, EngineText::NotFound);
}

void TSysObjectChanges::ReplaceReferences(const std::vector<TColumn>& columns, const std::string& oldID,
                                          const std::string& newID)
{
    for (const TColumn& c : columns) ReplaceIDInColumn(c.Table, c.Column, oldID, newID);
}

// ---- the changers ---------------------------------------------------------------------------

void TSysObjectChanges::ChangeAreaID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kAreas, "ID"}, oldID, newID);
    ReplaceReferences({{kMaps, "GPID"}, {kProjects, "GPID"}, {kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, oldID,
                      newID);
}

void TSysObjectChanges::ChangeProjectID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kProjects, "ID"}, oldID, newID);
    ReplaceReferences({{kProjMaps, "PROJECTID"},
                       {kPrefs, "PROJECTID"},
                       {kPrefs, "OBJECTID"},
                       {kPrefs, "DATA"},
                       {kModules, "OWNEROBJECTID"},
                       {kAcl, "OBJECTID"}},
                      oldID, newID);
}

void TSysObjectChanges::ChangeRefBookID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kRefBooks, "ID"}, oldID, newID);
    ReplaceReferences({{kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, oldID, newID);
    UpdateRefBookFields(oldID, newID);
}

void TSysObjectChanges::ChangeVectorMapID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kMaps, "ID"}, oldID, newID);
    ReplaceReferences({{kLayers, "PLANEID"}, {kProjMaps, "PLANEID"}, {kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}},
                      oldID, newID);
}

void TSysObjectChanges::ChangeRasterMapID(const std::string& oldID, const std::string& newID)
{
    ChangeVectorMapID(oldID, newID);
    ReplaceKey({kRastMaps, "ID"}, oldID, newID);
    ReplaceReferences({{kRasters, "PLANEID"}}, oldID, newID);
    ChangeRasterIDs(newID);
}

void TSysObjectChanges::ChangeRasterIDs(const std::string& mapID)
{
    const std::vector<std::string> rasters =
        FirstColumnTexts(PrepareSQL(db_, kRastersOfMapSql, {udtString}, false)->Execute({Str(mapID)}));
    const auto update = PrepareUpdate(db_, kRasters, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
    for (const std::string& oldID : rasters) {
        if (engine_.Cancelled()) break;
        if (StrToBinID(oldID) == 0) continue; // not an identifier: never mapped
        const std::string newID = BinIDToStr(engine_.IDGenerator().NextID());
        update->Execute({Str(newID), Str(oldID)});
        TChangeEngine::CheckCondition(update->RowsAffected() == 1, SysObjectText::WrittenRowNotFound);
        ReplaceReferences({{kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, oldID, newID);
    }
}

void TSysObjectChanges::ChangeLayerID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kLayers, "ID"}, oldID, newID);
    ReplaceReferences({{kSectors, "LAYERID"},
                       {kObjInfo, "LAYERID"},
                       {kStyles, "LAYERID"},
                       {kSemTables, "LAYERID"},
                       {kRelations, "LAYER1ID"},
                       {kRelations, "LAYER2ID"},
                       {kThemes, "LAYERID"},
                       {kPrefs, "OBJECTID"},
                       {kAcl, "OBJECTID"}},
                      oldID, newID);
}

void TSysObjectChanges::ChangeSemTableID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kSemTables, "ID"}, oldID, newID);
    ReplaceReferences({{kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, oldID, newID);
}

void TSysObjectChanges::ChangeRelationID(const std::string& oldID, const std::string& newID)
{
    ReplaceKey({kRelations, "ID"}, oldID, newID);
    ReplaceReferences({{kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, oldID, newID);
}

// ---- styles ---------------------------------------------------------------------------------

void TSysObjectChanges::ChangeStyleIDs()
{
    TVelmoSysObjectList styles;
    TVelmoSysObjectList::SelectByKind(styles, engine_.SysObjects(), sokStyle);
    if (engine_.Cancelled() || styles.Count() == 0) return;

    engine_.WriteLog(SysObjectText::StylesTitle);
    WithProgress(host_, SysObjectText::StylesTitle, styles.Count(), [&] {
        std::vector<std::string> layers;
        for (int i = 0; i < styles.Count(); ++i) {
            const std::string& layer = styles.GetItem(i)->ParentID;
            if (std::find(layers.begin(), layers.end(), layer) == layers.end()) layers.push_back(layer);
        }
        for (const std::string& layer : layers) {
            if (engine_.Cancelled()) break;
            TVelmoSysObjectList layerStyles;
            TVelmoSysObjectList::SelectByParent(layerStyles, engine_.SysObjects(), sokStyle, layer);
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
    engine_.InDbTransaction(db_, [&] {
        const auto update = PrepareUpdate(db_, kStyles, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
        map.BeginUpdate(styles.Count(), 100);
        try {
            for (int i = 0; i < styles.Count() && !engine_.Cancelled(); ++i) {
                TVelmoSysObject* style = styles.GetItem(i);
                host_.StepProgress(SysObjectText::StyleStep + style->Name, 1);
                bool isNew = false;
                std::string newID;
                engine_.NewIDStrFor(style->ID, isNew, newID);
                map.AddMappingStr(style->ID, newID, true);
                if (!isNew) continue;
                update->Execute({Str(newID), Str(style->ID)});
                TChangeEngine::CheckCondition(update->RowsAffected() == 1, SysObjectText::WrittenRowNotFound);
                ReplaceReferences({{kPrefs, "OBJECTID"}, {kAcl, "OBJECTID"}}, style->ID, newID);
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
    TVelmoSysObjectList& chosen = engine_.SysObjects();
    for (const TChanged& c : changed) {
        engine_.LogIDChange(c.OldID, c.NewID);
        chosen.SetID(chosen.IndexOf(c.Style), c.NewID);
    }
}

void TSysObjectChanges::UpdateLayerSectorStyles(const std::string& layerID, const TIDMapList& map)
{
    if (map.Count() == 0) return;
    const std::vector<std::string> sectors = FirstColumnTexts(
        PrepareSelect(db_, kSectors, {"ID"}, {UdbStrParam("LAYERID")}, false)->Execute({Str(layerID)}));
    if (sectors.empty()) return;

    sectorRead_ = PrepareSelect(db_, kSectors, {"OBJECTS"}, {UdbStrParam("ID")}, true);
    sectorWrite_ = PrepareUpdate(db_, kSectors, {UdbBlobParam("OBJECTS")}, {UdbStrParam("ID")}, true);
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
        TChangeEngine::LoadSectorFromBlob(*sector, cursor->AsBlob(kFirstColumn));
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
    TChangeEngine::SaveSectorToBlob(*sector, blob);
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

    const std::int32_t rows = TChangeEngine::RecordCount(db_, kSemTables);
    WithProgress(host_, SysObjectText::RefBookFieldsProgress, rows + 1, [&] {
        // The descriptions to write back: row identifier and records. The pass
        // is not cancelled half way: a book and its descriptions change together.
        std::vector<std::pair<std::string, std::vector<TAdditionalDataRecord>>> kept;
        {
            const auto cursor = SelectAll(db_, kSemTables);
            for (; cursor && !cursor->Eof(); cursor->Next()) {
                const std::string rowID = cursor->AsString(Str("ID"), std::string());
                const std::string tableName = rtl::Trim(cursor->AsString(Str("TABLENAME"), std::string()));
                const std::string semName = rtl::Trim(cursor->AsString(Str("SEMTABLENAME"), std::string()));
                try {
                    // A name that cannot go into SQL names no table the database could hold.
                    if (UsableTableName(tableName)) {
                        if (semDb_.TableExists(tableName)) {
                            rtl::TMemoryStream stream(TChangeEngine::BlobToStr(cursor->AsBlob(Str("REFBOOKFIELD"))));
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
        const auto update = PrepareUpdate(db_, kSemTables, {UdbBlobParam("REFBOOKFIELD")}, {UdbStrParam("ID")}, false);
        for (const auto& [rowID, records] : kept) {
            rtl::TMemoryStream stream;
            WriteAdditionalDataRecords(stream, records);
            update->Execute({rtl::Variant(stream.Bytes()), Str(rowID)});
            RTL_ASSERT(update->RowsAffected() == 1, SysObjectText::CantUpdateSemTable);
        }
    });
}
