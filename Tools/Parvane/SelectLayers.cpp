// The system objects: reading the candidates of each kind from the spatial
// database, the lookups over the list and the re-pointing of children when a
// parent gets a new identifier.
//
// An empty identifier never names a parent: an object with an empty
// ParentID belongs to nobody, and giving an object with an empty ID a new
// identifier re-points no child.
#include "Tools/Parvane/SelectLayers.h"

#include <array>
#include <cstddef>
#include <string>

#include "gismodel/VelmoTables.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/TextUtils.h"
#include "platform/rtl/Variant.h"

namespace {

// The maps of one type (2 raster, 3 vector), read with their own statement text.
std::string MapsOfTypeSql(int mapType)
{
    const std::string maps = std::string("[") + VelmoTable::Maps + "]";
    return "select " + maps + ".[ID], " + maps + ".[MAPNAME], " + maps + ".[GPID] from " + maps + " where " + maps +
           ".[MAPTYPE] = " + std::to_string(mapType);
}

// By kind.
constexpr std::array<TSysObjectKindInfo, 9> kKinds = {{
    {"Территория", VelmoTable::Areas, "AREANAME", "", "Изменение идентификаторов территорий"},
    {"Справочник", VelmoTable::RefBooks, "REFBOOKNAME", "", "Изменение идентификаторов справочников"},
    {"Проект", VelmoTable::Projects, "PROJECTNAME", "GPID", "Изменение идентификаторов проектов"},
    {"Растровая карта", VelmoTable::Maps, "MAPNAME", "GPID", "Изменение идентификаторов растровых карт"},
    {"Векторная карта", VelmoTable::Maps, "MAPNAME", "GPID", "Изменение идентификаторов векторных карт"},
    {"Слой", VelmoTable::Layers, "LAYERNAME", "PLANEID", "Изменение идентификаторов слоев"},
    {"Стиль", VelmoTable::Styles, "STYLENAME", "LAYERID", "Изменение идентификаторов стилей"},
    {"Семантическая таблица", VelmoTable::SemTables, "SEMTABLENAME", "LAYERID",
     "Изменение идентификаторов семантических таблиц"},
    {"Топоотношение", VelmoTable::Relations, "RELATIONNAME", "LAYER1ID", "Изменение идентификаторов топоотношений"},
}};

// The relation's second layer, read after its first.
const char* const kLayer2Column = "LAYER2ID";

rtl::RefPtr<IUdbCursor> OpenKindCursor(IUdb& db, TSysObjectKind kind)
{
    rtl::RefPtr<IUdbSQLCommand> command;
    if (kind == sokRasterMap || kind == sokVectorMap) {
        command = PrepareSQL(db, MapsOfTypeSql(kind == sokRasterMap ? 2 : 3), {}, false);
    } else {
        const TSysObjectKindInfo& source = kKinds.at(kind);
        std::vector<std::string> columns = {"ID", source.NameColumn};
        if (*source.ParentColumn) columns.emplace_back(source.ParentColumn);
        if (kind == sokRelation) columns.emplace_back(kLayer2Column);
        command = PrepareSelect(db, source.Table, columns, {}, false);
    }
    return command->Execute(nullptr, 0);
}

// The kinds whose ParentID names an object of this kind.
bool IsChildKind(TSysObjectKind parent, TSysObjectKind child) noexcept
{
    switch (parent) {
    case sokArea:
        return child == sokProject || child == sokRasterMap || child == sokVectorMap;
    case sokVectorMap:
        return child == sokLayer;
    case sokLayer:
        return child == sokStyle || child == sokSemTable || child == sokRelation;
    default:
        return false;
    }
}

} // namespace

const TSysObjectKindInfo& SysObjectKindInfo(TSysObjectKind kind) { return kKinds.at(kind); }

TVelmoSysObject* TVelmoSysObjectList::AddNew(const std::string& id, const std::string& name, TSysObjectKind kind)
{
    const rtl::RefPtr<TVelmoSysObject> obj(new TVelmoSysObject(id, name, kind));
    Add(obj.get());
    return obj.get();
}

void TVelmoSysObjectList::SelectByKind(TVelmoSysObjectList& dest, const TVelmoSysObjectList& source,
                                       TSysObjectKind kind)
{
    dest.Clear();
    for (int i = 0; i < source.Count(); ++i) {
        TVelmoSysObject* obj = source.GetItem(i);
        if (obj && obj->Kind == kind) dest.Add(obj);
    }
}

void TVelmoSysObjectList::SelectByParent(TVelmoSysObjectList& dest, const TVelmoSysObjectList& source,
                                         TSysObjectKind kind, const std::string& parentID)
{
    dest.Clear();
    for (int i = 0; i < source.Count(); ++i) {
        TVelmoSysObject* obj = source.GetItem(i);
        if (obj && obj->Kind == kind && obj->ParentID == parentID) dest.Add(obj);
    }
}

int TVelmoSysObjectList::IndexOfID(const std::string& id) const noexcept
{
    for (int i = 0; i < Count(); ++i) {
        const TVelmoSysObject* obj = GetItem(i);
        if (obj && obj->ID == id) return i;
    }
    return -1;
}

TVelmoSysObject* TVelmoSysObjectList::LookupID(const std::string& id) const noexcept
{
    const int index = IndexOfID(id);
    return index < 0 ? nullptr : GetItem(index);
}

void TVelmoSysObjectList::SetID(int index, const std::string& newID)
{
    TVelmoSysObject* obj = GetItem(index);
    if (!obj) return;
    const std::string oldID = obj->ID;
    if (!oldID.empty()) {
        for (int i = 0; i < Count(); ++i) {
            TVelmoSysObject* child = GetItem(i);
            if (child && IsChildKind(obj->Kind, child->Kind) && child->ParentID == oldID) child->ParentID = newID;
        }
    }
    obj->ID = newID;
}

bool TVelmoSysObjectList::ReplaceID(const std::string& oldID, const std::string& newID)
{
    const int index = IndexOfID(oldID);
    if (index < 0) return false;
    SetID(index, newID);
    return true;
}

void TVelmoSysObjectList::LoadKinds(IUdb& db, const std::vector<TSysObjectKind>& kinds)
{
    Clear();
    for (const TSysObjectKind kind : kinds) LoadKind(db, kind);
}

void TVelmoSysObjectList::LoadKind(IUdb& db, TSysObjectKind kind)
{
    const rtl::RefPtr<IUdbCursor> cursor = OpenKindCursor(db, kind);
    if (!cursor) return;
    const rtl::Variant idColumn(std::int32_t{0});
    const rtl::Variant nameColumn(std::int32_t{1});
    const rtl::Variant parentColumn(std::int32_t{2});
    const rtl::Variant layer2Column(std::int32_t{3});
    for (; !cursor->Eof(); cursor->Next()) {
        const std::string id = cursor->AsString(idColumn, "");
        std::string name = cursor->AsString(nameColumn, "");
        std::string parentID;
        switch (kind) {
        case sokArea:
        case sokRefBook:
            RTL_ASSERT(cursor->FieldCount() < 3, rtl::SAssertionFailed);
            break;
        case sokRelation:
            parentID = cursor->AsString(parentColumn, "");
            if (rtl::Trim(name).empty()) {
                // A relation without a name of its own shows its second layer's.
                const std::string layer2ID = cursor->AsString(layer2Column, "");
                const int layer2 = layer2ID.empty() ? -1 : IndexOfID(layer2ID);
                if (layer2 >= 0) name = GetItem(layer2)->Name;
            }
            break;
        default:
            parentID = cursor->AsString(parentColumn, "");
            break;
        }
        if (!parentID.empty() && !LookupID(parentID)) continue;
        AddNew(id, name, kind)->ParentID = parentID;
    }
    cursor->Close();
}

const std::vector<TSysObjectKind>& SystemObjectKinds()
{
    static const std::vector<TSysObjectKind> kinds = {sokArea,  sokRefBook, sokProject,  sokRasterMap, sokVectorMap,
                                                      sokLayer, sokStyle,   sokSemTable, sokRelation};
    return kinds;
}

const std::vector<TSysObjectKind>& LayerKinds()
{
    static const std::vector<TSysObjectKind> kinds = {sokArea, sokVectorMap, sokLayer};
    return kinds;
}
