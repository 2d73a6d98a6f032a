// Tests of the system-table schema, the name macros and the enumeration name
// tables. The expected schema is written out by hand, one line per table, in
// the notation "NAME Type(size) R" so that it reads like the schema listing.
#include "gismodel/CreateSysTables.h"
#include "gismodel/GisTypes.h"
#include "gismodel/VelmoTables.h"

#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/NumText.h"

namespace {

using ::testing::ElementsAreArray;

// "NAME Integer", "NAME String(12) R", "NAME Binary(0)", ...
std::string DescribeField(const TUdbFieldDef& f)
{
    std::string type;
    switch (f.DataType) {
    case 0x0200: type = "Integer"; break;
    case 0x0300: type = "Float"; break;
    case 0x0600: type = "String"; break;
    case 0x0800: type = "Binary"; break;
    default: type = "?" + rtl::IntToHex(static_cast<std::uint32_t>(f.DataType), 4); break;
    }
    if (f.DataType == 0x0600 || f.DataType == 0x0800) type += "(" + rtl::IntToStr(f.Size) + ")";
    else if (f.Size != 0) type += "<size " + rtl::IntToStr(f.Size) + ">";
    return f.Name + " " + type + (f.Required ? " R" : "");
}

std::string DescribeFields(const TSysTableDef& def)
{
    std::string out;
    for (const TUdbFieldDef& f : def.Fields) out += (out.empty() ? "" : "; ") + DescribeField(f);
    return out;
}

// The index field lists joined by " | ", the key first.
std::string DescribeIndexes(const TSysTableDef& def)
{
    std::string out;
    for (const TUdbIndexDef& i : def.Indexes) out += (out.empty() ? "" : " | ") + i.Fields;
    return out;
}

struct TableCase {
    const char* name;
    const char* fields;
    const char* indexes;
};

const TableCase kTables[] = {
    {"VELMO_DBINFO", "DBID String(64) R; DBCAPTION String(200); IDGROUP Integer; IDNUMBER Integer; VERSION Integer",
     "DBID"},
    {"VELMO_ACL",
     "OBJECTID String(12) R; SUBCLASSID String(12) R; USERID String(12) R; USERKIND Integer; "
     "SETOPERATIONS Integer; CLEAROPERATIONS Integer",
     "OBJECTID;SUBCLASSID;USERID"},
    {"VELMO_LINKS", "OBJECT1ID String(12) R; OBJECT2ID String(12) R", "OBJECT1ID;OBJECT2ID | OBJECT2ID"},
    {"VELMO_PROJECTS", "ID String(12) R; PROJECTNAME String(129); GPID String(12)", "ID"},
    {"VELMO_PROJMAPS", "ID String(12) R; PROJECTID String(12); PLANEID String(12)", "ID | PROJECTID | PLANEID"},
    {"VELMO_AREAS",
     "ID String(12) R; AREANAME String(65); BOUNDSL Float; BOUNDSR Float; BOUNDST Float; BOUNDSB Float", "ID"},
    {"VELMO_MAPS",
     "ID String(12) R; GPID String(12); MAPNAME String(65); MAPTYPE Integer; VISIBLEMIN Float; VISIBLEMAX Float",
     "ID | GPID"},
    {"VELMO_RASTMAPS",
     "ID String(12) R; OFFSETX Float; OFFSETY Float; TABSIZEX Float; TABSIZEY Float; TABDIVX Integer; "
     "TABDIVY Integer; TABNUMSTEPX Integer; TABNUMSTEPY Integer; TABNUMSTARTX Integer; TABNUMSTARTY Integer; "
     "XDIR Integer; YDIR Integer; COLOR Integer",
     "ID"},
    {"VELMO_RASTERS",
     "ID String(12) R; PLANEID String(12); NUMX Integer; NUMY Integer; FILENAME String(256); REPERLEFT Integer; "
     "REPERRIGHT Integer; REPERTOP Integer; REPERBOTTOM Integer; COLOR Integer",
     "ID | PLANEID"},
    {"VELMO_LAYERS",
     "ID String(12) R; PLANEID String(12); LAYERNAME String(129); VISIBLEMIN Float; VISIBLEMAX Float; "
     "ROOTSECTORID String(12)",
     "ID | PLANEID"},
    {"VELMO_STYLES", "ID String(12) R; LAYERID String(12); STYLENAME String(65); DATA Binary(250)", "ID | LAYERID"},
    {"VELMO_SEMTABLS",
     "ID String(12) R; LAYERID String(12); SEMTABLENAME String(65); TABLENAME String(65); LINKTYPE Integer; "
     "REFBOOKFIELD Binary(250)",
     "ID | LAYERID"},
    {"VELMO_RELATION",
     "ID String(12) R; RELATIONNAME String(64); REACTION1 Integer; REACTION2 Integer; LAYER1ID String(12); "
     "LAYER2ID String(12)",
     "ID | LAYER1ID | LAYER2ID"},
    {"VELMO_SECTORS",
     "ID String(12) R; LAYERID String(12); BOUNDSL Float; BOUNDSR Float; BOUNDST Float; BOUNDSB Float; "
     "S0 String(12); S1 String(12); S2 String(12); S3 String(12); OBJECTS Binary(0)",
     "ID | LAYERID"},
    {"VELMO_OBJINFO", "SECTORID String(12); LAYERID String(12); DATA Binary(0)", "SECTORID | LAYERID"},
    {"VELMO_REFBOOKS", "ID String(12) R; REFBOOKNAME String(65); TABLENAME String(65); DATA Binary(0)", "ID"},
    {"VELMO_ADDONDAT", "KEYNAME String(250) R; DATA Binary(0)", "KEYNAME"},
    {"VELMO_PREFS",
     "USERID String(12) R; PROJECTID String(12) R; OBJECTID String(12) R; KEYNAME String(100) R; DATA String(100)",
     "USERID;PROJECTID;OBJECTID;KEYNAME"},
    {"VELMO_USERS",
     "ID String(12) R; USERNAME String(50); FULLNAME String(50); DESCRIPTION String(50); USERPASSWORD String(50)",
     "ID"},
    {"VELMO_USERGRPS", "ID String(12) R; GROUPNAME String(50); DESCRIPTION String(50)", "ID"},
    {"VELMO_USR_GRP", "GROUPID String(12) R; USERID String(12) R", "GROUPID;USERID | USERID"},
    {"VELMO_THEMES", "ID String(12) R; LAYERID String(12); DATA Binary(200)", "ID | LAYERID"},
    {"VELMO_IDMAPER", "LOCALID Integer R; GLOBALID String(38) R", "LOCALID"},
    {"VELMO_MODULES", "OWNEROBJECTID String(12) R; MODULEID String(12) R; DATA Binary(0)",
     "OWNEROBJECTID;MODULEID | MODULEID"},
};

// ---- schema -----------------------------------------------------------------------

TEST(SysTableSchema, TablesStandInTheirFixedOrder)
{
    std::vector<std::string> expected;
    for (const TableCase& c : kTables) expected.push_back(c.name);
    std::vector<std::string> actual;
    for (const TSysTableDef& def : SysTableDefs()) actual.push_back(def.Name);
    EXPECT_THAT(actual, ElementsAreArray(expected));
    EXPECT_EQ(SysTableCount, static_cast<int>(SysTableDefs().size()));
}

TEST(SysTableSchema, ColumnsAndIndexesOfEveryTable)
{
    for (const TableCase& c : kTables) {
        SCOPED_TRACE(c.name);
        const TSysTableDef* def = FindSysTableDef(c.name);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(DescribeFields(*def), c.fields);
        EXPECT_EQ(DescribeIndexes(*def), c.indexes);
    }
}

TEST(SysTableSchema, FirstIndexIsTheKeyAndTheOthersAreNeitherPrimaryNorUnique)
{
    for (const TSysTableDef& def : SysTableDefs()) {
        SCOPED_TRACE(def.Name);
        ASSERT_FALSE(def.Indexes.empty());
        for (std::size_t i = 0; i < def.Indexes.size(); ++i) {
            const TUdbIndexDef& index = def.Indexes[i];
            EXPECT_EQ(index.Name, "");
            EXPECT_EQ(index.Primary, i == 0) << index.Fields;
            EXPECT_EQ(index.Unique, i == 0) << index.Fields;
        }
    }
}

TEST(SysTableSchema, ColumnsTheEngineAddsAreNotDefined)
{
    // A deployed database has these, the definitions do not.
    const struct {
        const char* table;
        const char* column;
    } kExtra[] = {{"VELMO_IDMAPER", "IDCLASS"}, {"VELMO_OBJINFO", "ID"}};
    for (const auto& c : kExtra) {
        const TSysTableDef* def = FindSysTableDef(c.table);
        ASSERT_NE(def, nullptr);
        for (const TUdbFieldDef& f : def->Fields) EXPECT_NE(f.Name, c.column) << c.table;
    }
}

TEST(SysTableSchema, LookupIsExactAndSeesOnlyTheTwentyFourTables)
{
    EXPECT_NE(FindSysTableDef("VELMO_MODULES"), nullptr);
    EXPECT_EQ(FindSysTableDef("velmo_modules"), nullptr);
    EXPECT_EQ(FindSysTableDef("VELMO_MODULES "), nullptr);
    EXPECT_EQ(FindSysTableDef(""), nullptr);
}

// ---- name macros ------------------------------------------------------------------

TEST(VelmoNameMacros, FortyPairsInTheirOrder)
{
    const char* const kExpected[40][2] = {
        {"{DbInfo}", "VELMO_DBINFO"},         {"{Projects}", "VELMO_PROJECTS"},
        {"{ProjectContents}", "VELMO_PROJMAPS"}, {"{Areas}", "VELMO_AREAS"},
        {"{Maps}", "VELMO_MAPS"},             {"{RasterMaps}", "VELMO_RASTMAPS"},
        {"{Rasters}", "VELMO_RASTERS"},       {"{Layers}", "VELMO_LAYERS"},
        {"{Styles}", "VELMO_STYLES"},         {"{SemTables}", "VELMO_SEMTABLS"},
        {"{Relations}", "VELMO_RELATION"},    {"{Sectors}", "VELMO_SECTORS"},
        {"{ObjInfo}", "VELMO_OBJINFO"},       {"{RefBooks}", "VELMO_REFBOOKS"},
        {"{TopoLinks}", "VELMO_LINKS"},       {"{AddonData}", "VELMO_ADDONDAT"},
        {"{Prefs}", "VELMO_PREFS"},           {"{Users}", "VELMO_USERS"},
        {"{Groups}", "VELMO_USERGRPS"},       {"{GroupMembers}", "VELMO_USR_GRP"},
        {"{AccessRights}", "VELMO_ACL"},      {"{Themes}", "VELMO_THEMES"},
        {"{IdMaper}", "VELMO_IDMAPER"},       {"{Modules}", "VELMO_MODULES"},
        {"{ProjectName}", "PROJECTNAME"},     {"{AreaName}", "AREANAME"},
        {"{MapName}", "MAPNAME"},             {"{MapType}", "MAPTYPE"},
        {"{LayerName}", "LAYERNAME"},         {"{StyleName}", "STYLENAME"},
        {"{StyleData}", "DATA"},              {"{SemTableName}", "SEMTABLENAME"},
        {"{RelationName}", "RELATIONNAME"},   {"{RefBookName}", "REFBOOKNAME"},
        {"{RefBookType}", "REFBOOKTYPE"},     {"{AddonData}", "DATA"},
        {"{Data}", "DATA"},                   {"{UserName}", "USERNAME"},
        {"{UserPassword}", "USERPASSWORD"},   {"{GroupName}", "GROUPNAME"},
    };
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_STREQ(VelmoNameMacros[i].Macro, kExpected[i][0]);
        EXPECT_STREQ(VelmoNameMacros[i].Name, kExpected[i][1]);
    }
}

TEST(VelmoNameMacros, TablePairsNameEveryDefinedTableOnce)
{
    std::set<std::string> names;
    for (int i = 0; i < VelmoTableMacroCount; ++i) {
        EXPECT_NE(FindSysTableDef(VelmoNameMacros[i].Name), nullptr) << VelmoNameMacros[i].Name;
        names.insert(VelmoNameMacros[i].Name);
    }
    EXPECT_EQ(names.size(), SysTableDefs().size());
}

TEST(VelmoNameMacros, ColumnPairsNameDefinedColumnsExceptRefBookType)
{
    std::set<std::string> columns;
    for (const TSysTableDef& def : SysTableDefs())
        for (const TUdbFieldDef& f : def.Fields) columns.insert(f.Name);
    for (std::size_t i = VelmoTableMacroCount; i < VelmoNameMacros.size(); ++i) {
        const std::string name = VelmoNameMacros[i].Name;
        EXPECT_EQ(columns.count(name) == 1, name != "REFBOOKTYPE") << name;
    }
}

TEST(VelmoNameMacros, SearchFromTheFrontFindsTheAddonTableBeforeTheColumn)
{
    const TVelmoNameMacro* first = nullptr;
    for (const TVelmoNameMacro& m : VelmoNameMacros)
        if (std::string(m.Macro) == "{AddonData}") {
            first = &m;
            break;
        }
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Name, "VELMO_ADDONDAT");
}

// ---- enumeration names ------------------------------------------------------------

template <std::size_t N>
std::vector<std::string> Names(const std::array<const char*, N>& table)
{
    return std::vector<std::string>(table.begin(), table.end());
}

TEST(GisTypeNames, ValuesInOrdinalOrder)
{
    const struct {
        const char* table;
        std::vector<std::string> actual;
        std::vector<std::string> expected;
    } kCases[] = {
        {"LinkTypeNames", Names(LinkTypeNames), {"OneToOne", "OneToMany"}},
        {"HorzAlignNames", Names(HorzAlignNames), {"Left", "Center", "Right"}},
        {"VertAlignNames", Names(VertAlignNames), {"Bottom", "Center", "Top"}},
        {"StyleElementNames", Names(StyleElementNames),
         {"Symbol", "Outline", "Fill", "SymbolToPrev", "SymbolToNext", "SymbolFirstToNext", "SymbolLastToPrev",
          "FitToRect", "Arrow"}},
        {"DrawOrderNames", Names(DrawOrderNames), {"Normal", "AfterLayer", "AfterMap", "AfterAll"}},
        {"SegmentKindNames", Names(SegmentKindNames), {"Line", "Arc"}},
        {"ConnectKindNames", Names(ConnectKindNames), {"None", "Line", "Arc"}},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.actual, c.expected) << c.table;
}

} // namespace
