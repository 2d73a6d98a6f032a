// The definitions of the 24 system tables, written as one table per entry so
// that they read like the schema itself.
#include "gismodel/CreateSysTables.h"

#include <algorithm>

#include "gismodel/VelmoTables.h"

namespace {

TUdbFieldDef Str(const char* name, std::int32_t size, bool required = false)
{
    return {name, udtString, size, required};
}
TUdbFieldDef Int(const char* name, bool required = false) { return {name, udtInteger, 0, required}; }
TUdbFieldDef Flt(const char* name) { return {name, udtFloat, 0, false}; }
TUdbFieldDef Bin(const char* name, std::int32_t size) { return {name, udtBinary, size, false}; }
// An identifier column: the 12-character text of a BinID.
TUdbFieldDef Id(const char* name, bool required = false) { return Str(name, 12, required); }

TUdbIndexDef Key(const char* fields) { return {"", fields, true, true}; }
TUdbIndexDef Idx(const char* fields) { return {"", fields, false, false}; }

std::vector<TSysTableDef> BuildDefs()
{
    constexpr bool R = true;
    return {
        {VelmoTable::DbInfo,
         {Str("DBID", 64, R), Str("DBCAPTION", 200), Int("IDGROUP"), Int("IDNUMBER"), Int("VERSION")},
         {Key("DBID")}},
        {VelmoTable::AccessRights,
         {Id("OBJECTID", R), Id("SUBCLASSID", R), Id("USERID", R), Int("USERKIND"), Int("SETOPERATIONS"),
          Int("CLEAROPERATIONS")},
         {Key("OBJECTID;SUBCLASSID;USERID")}},
        {VelmoTable::TopoLinks,
         {Id("OBJECT1ID", R), Id("OBJECT2ID", R)},
         {Key("OBJECT1ID;OBJECT2ID"), Idx("OBJECT2ID")}},
        {VelmoTable::Projects, {Id("ID", R), Str("PROJECTNAME", 129), Id("GPID")}, {Key("ID")}},
        {VelmoTable::ProjectContents,
         {Id("ID", R), Id("PROJECTID"), Id("PLANEID")},
         {Key("ID"), Idx("PROJECTID"), Idx("PLANEID")}},
        {VelmoTable::Areas,
         {Id("ID", R), Str("AREANAME", 65), Flt("BOUNDSL"), Flt("BOUNDSR"), Flt("BOUNDST"), Flt("BOUNDSB")},
         {Key("ID")}},
        {VelmoTable::Maps,
         {Id("ID", R), Id("GPID"), Str("MAPNAME", 65), Int("MAPTYPE"), Flt("VISIBLEMIN"), Flt("VISIBLEMAX")},
         {Key("ID"), Idx("GPID")}},
        {VelmoTable::RasterMaps,
         {Id("ID", R), Flt("OFFSETX"), Flt("OFFSETY"), Flt("TABSIZEX"), Flt("TABSIZEY"), Int("TABDIVX"), Int("TABDIVY"),
          Int("TABNUMSTEPX"), Int("TABNUMSTEPY"), Int("TABNUMSTARTX"), Int("TABNUMSTARTY"), Int("XDIR"), Int("YDIR"),
          Int("COLOR")},
         {Key("ID")}},
        {VelmoTable::Rasters,
         {Id("ID", R), Id("PLANEID"), Int("NUMX"), Int("NUMY"), Str("FILENAME", 256), Int("REPERLEFT"),
          Int("REPERRIGHT"), Int("REPERTOP"), Int("REPERBOTTOM"), Int("COLOR")},
         {Key("ID"), Idx("PLANEID")}},
        {VelmoTable::Layers,
         {Id("ID", R), Id("PLANEID"), Str("LAYERNAME", 129), Flt("VISIBLEMIN"), Flt("VISIBLEMAX"), Id("ROOTSECTORID")},
         {Key("ID"), Idx("PLANEID")}},
        {VelmoTable::Styles,
         {Id("ID", R), Id("LAYERID"), Str("STYLENAME", 65), Bin("DATA", 250)},
         {Key("ID"), Idx("LAYERID")}},
        {VelmoTable::SemTables,
         {Id("ID", R), Id("LAYERID"), Str("SEMTABLENAME", 65), Str("TABLENAME", 65), Int("LINKTYPE"),
          Bin("REFBOOKFIELD", 250)},
         {Key("ID"), Idx("LAYERID")}},
        {VelmoTable::Relations,
         {Id("ID", R), Str("RELATIONNAME", 64), Int("REACTION1"), Int("REACTION2"), Id("LAYER1ID"), Id("LAYER2ID")},
         {Key("ID"), Idx("LAYER1ID"), Idx("LAYER2ID")}},
        {VelmoTable::Sectors,
         {Id("ID", R), Id("LAYERID"), Flt("BOUNDSL"), Flt("BOUNDSR"), Flt("BOUNDST"), Flt("BOUNDSB"), Id("S0"),
          Id("S1"), Id("S2"), Id("S3"), Bin("OBJECTS", 0)},
         {Key("ID"), Idx("LAYERID")}},
        {VelmoTable::ObjInfo, {Id("SECTORID"), Id("LAYERID"), Bin("DATA", 0)}, {Key("SECTORID"), Idx("LAYERID")}},
        {VelmoTable::RefBooks,
         {Id("ID", R), Str("REFBOOKNAME", 65), Str("TABLENAME", 65), Bin("DATA", 0)},
         {Key("ID")}},
        {VelmoTable::AddonData, {Str("KEYNAME", 250, R), Bin("DATA", 0)}, {Key("KEYNAME")}},
        {VelmoTable::Prefs,
         {Id("USERID", R), Id("PROJECTID", R), Id("OBJECTID", R), Str("KEYNAME", 100, R), Str("DATA", 100)},
         {Key("USERID;PROJECTID;OBJECTID;KEYNAME")}},
        {VelmoTable::Users,
         {Id("ID", R), Str("USERNAME", 50), Str("FULLNAME", 50), Str("DESCRIPTION", 50), Str("USERPASSWORD", 50)},
         {Key("ID")}},
        {VelmoTable::Groups, {Id("ID", R), Str("GROUPNAME", 50), Str("DESCRIPTION", 50)}, {Key("ID")}},
        {VelmoTable::GroupMembers, {Id("GROUPID", R), Id("USERID", R)}, {Key("GROUPID;USERID"), Idx("USERID")}},
        {VelmoTable::Themes, {Id("ID", R), Id("LAYERID"), Bin("DATA", 200)}, {Key("ID"), Idx("LAYERID")}},
        {VelmoTable::IdMaper, {Int("LOCALID", R), Str("GLOBALID", 38, R)}, {Key("LOCALID")}},
        {VelmoTable::Modules,
         {Id("OWNEROBJECTID", R), Id("MODULEID", R), Bin("DATA", 0)},
         {Key("OWNEROBJECTID;MODULEID"), Idx("MODULEID")}},
    };
}

} // namespace

const std::vector<TSysTableDef>& SysTableDefs()
{
    static const std::vector<TSysTableDef> defs = BuildDefs();
    return defs;
}

const TSysTableDef* FindSysTableDef(std::string_view name)
{
    const std::vector<TSysTableDef>& defs = SysTableDefs();
    const auto it = std::find_if(defs.begin(), defs.end(), [&](const TSysTableDef& d) { return d.Name == name; });
    return it == defs.end() ? nullptr : &*it;
}
