// Tests of the system-object list: reading the kinds from a Velmo database on
// the SQLite test driver (parents before children, rows whose parent is not
// loaded dropped, the maps split by type, the name of a nameless relation),
// the lookups, and the re-pointing of children when an identifier changes.
#include "Tools/Parvane/SelectLayers.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "UdbProject/UdbMessages.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/VelmoFixture.h"

namespace {

using velmotest::Id;

// Short identifiers: group 1, the given number.
std::string I(std::uint32_t n) { return Id(1, n); }

const std::string kLostArea = Id(9, 1);
const std::string kLostMap = Id(9, 2);

// A database with every kind, objects whose parent is missing, a map of an
// unknown type and relations with and without names.
velmotest::TVelmoDesc EveryKind()
{
    velmotest::TVelmoDesc d;
    d.Area(I(1), "Север")
        .Area(I(2), "Юг")
        .RefBook(I(3), "Справочник дорог", "RB_ROADS")
        .Project(I(4), I(1), "Проект Север")
        .Project(I(5), kLostArea, "Потерянный проект")
        .Project(I(6), "", "Проект без территории")
        .Map(I(7), I(1), "Растр Север", 2)
        .Map(I(8), I(1), "Карта Север", 3)
        .Map(I(9), kLostArea, "Потерянная карта", 3)
        .Map(I(10), "", "Карта без территории", 3)
        .Map(I(11), I(2), "Карта иного типа", 1)
        .Layer(I(12), I(8), "Дороги")
        .Layer(I(13), I(8), "Реки")
        .Layer(I(14), I(9), "Потерянный слой")
        .Layer(I(15), I(10), "Слой без территории")
        .Style(I(17), I(12), "Линия")
        .Style(I(18), I(14), "Потерянный стиль")
        .SemTable(velmotest::TSemTableDesc(I(19), I(12), "Атрибуты дорог", "SEM_ROADS"))
        .Relation(I(20), "Пересечение", I(12), I(13))
        .Relation(I(21), " \t ", I(12), I(13))
        .Relation(I(22), "", I(13), I(12))
        .Relation(I(23), "  ", I(12), I(14))
        .Relation(I(24), "Связь с потерянным", I(14), I(12));
    return d;
}

// "kind:ID<ParentID=Name" per object, in list order.
std::vector<std::string> Describe(const TVelmoSysObjectList& list)
{
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i) {
        const TVelmoSysObject* obj = list.GetItem(i);
        lines.push_back(std::to_string(obj->Kind) + ":" + obj->ID + "<" + obj->ParentID + "=" + obj->Name);
    }
    return lines;
}

std::string Line(int kind, const std::string& id, const std::string& parentID, const std::string& name)
{
    return std::to_string(kind) + ":" + id + "<" + parentID + "=" + name;
}

class LoadKinds : public ::testing::Test {
protected:
    static void SetUpTestSuite() { db = std::make_unique<velmotest::TVelmoDbPair>(EveryKind()); }
    static void TearDownTestSuite() { db.reset(); }
    static std::unique_ptr<velmotest::TVelmoDbPair> db;
};
std::unique_ptr<velmotest::TVelmoDbPair> LoadKinds::db;

TEST_F(LoadKinds, ReadsEachKindWithItsParentsAndDropsOrphans)
{
    struct Case {
        const char* name;
        std::vector<TSysObjectKind> kinds;
        std::vector<std::string> objects;
    };
    const Case cases[] = {
        {"every kind: children of objects not loaded go, objects without a parent stay, nameless relations "
         "take the second layer's name when it is loaded",
         SystemObjectKinds(),
         {Line(0, I(1), "", "Север"), Line(0, I(2), "", "Юг"), Line(1, I(3), "", "Справочник дорог"),
          Line(2, I(4), I(1), "Проект Север"), Line(2, I(6), "", "Проект без территории"),
          Line(3, I(7), I(1), "Растр Север"), Line(4, I(8), I(1), "Карта Север"),
          Line(4, I(10), "", "Карта без территории"), Line(5, I(12), I(8), "Дороги"), Line(5, I(13), I(8), "Реки"),
          Line(5, I(15), I(10), "Слой без территории"), Line(6, I(17), I(12), "Линия"),
          Line(7, I(19), I(12), "Атрибуты дорог"), Line(8, I(20), I(12), "Пересечение"),
          Line(8, I(21), I(12), "Реки"), Line(8, I(22), I(13), "Дороги"), Line(8, I(23), I(12), "  ")}},
        {"the layer dialog: a vector map naming no loaded area goes with its layers, one without an area stays",
         LayerKinds(),
         {Line(0, I(1), "", "Север"), Line(0, I(2), "", "Юг"), Line(4, I(8), I(1), "Карта Север"),
          Line(4, I(10), "", "Карта без территории"), Line(5, I(12), I(8), "Дороги"), Line(5, I(13), I(8), "Реки"),
          Line(5, I(15), I(10), "Слой без территории")}},
        {"children read before their parents are dropped",
         {sokLayer, sokVectorMap, sokArea},
         {Line(4, I(10), "", "Карта без территории"), Line(0, I(1), "", "Север"), Line(0, I(2), "", "Юг")}},
        {"raster maps only of type 2", {sokArea, sokRasterMap},
         {Line(0, I(1), "", "Север"), Line(0, I(2), "", "Юг"), Line(3, I(7), I(1), "Растр Север")}},
        {"reference books have no parent", {sokRefBook}, {Line(1, I(3), "", "Справочник дорог")}},
        {"relations without their layers", {sokRelation}, {}},
        {"no kinds", {}, {}},
    };
    for (const Case& c : cases) {
        TVelmoSysObjectList list;
        list.AddNew(I(99), "left from before", sokArea);
        list.LoadKinds(db->Spatial(), c.kinds);
        EXPECT_EQ(Describe(list), c.objects) << c.name;
    }
}

TEST_F(LoadKinds, LoadKindAppendsAndFindsParentsAlreadyInTheList)
{
    TVelmoSysObjectList list;
    // A parent put there by hand counts as loaded.
    list.AddNew(I(10), "Моя карта", sokVectorMap);
    list.LoadKind(db->Spatial(), sokLayer);
    EXPECT_EQ(Describe(list), (std::vector<std::string>{Line(4, I(10), "", "Моя карта"),
                                                         Line(5, I(15), I(10), "Слой без территории")}));
}

TEST(LoadKind, NullNamesAreEmptyAndABlankRelationNameIsLookedUpOnlyWhenBlank)
{
    velmotest::TVelmoDesc d;
    d.Area(I(1), "")
        .Map(I(2), I(1), "Карта", 3)
        .Layer(I(3), I(2), "Первый")
        .Layer(I(4), I(2), " Второй ")
        .Relation(I(5), "\r\n", I(3), I(4))
        .Relation(I(6), " Своё имя ", I(3), I(4))
        .Relation(I(7), " ", I(3), "");
    velmotest::TVelmoDbPair db(d);
    TVelmoSysObjectList list;
    list.LoadKinds(db.Spatial(), {sokArea, sokVectorMap, sokLayer, sokRelation});
    EXPECT_EQ(Describe(list),
              (std::vector<std::string>{Line(0, I(1), "", ""), Line(4, I(2), I(1), "Карта"),
                                        Line(5, I(3), I(2), "Первый"), Line(5, I(4), I(2), " Второй "),
                                        Line(8, I(5), I(3), " Второй "), Line(8, I(6), I(3), " Своё имя "),
                                        Line(8, I(7), I(3), " ")}));
}

TEST(LoadKind, AFailingStatementRaisesAndKeepsWhatWasRead)
{
    velmotest::TVelmoDbPair db(EveryKind());
    dynamic_cast<TSqliteUdb&>(db.Spatial()).FailStatementsContaining("VELMO_LAYERS");
    TVelmoSysObjectList list;
    EXPECT_THROW(list.LoadKinds(db.Spatial(), LayerKinds()), EUdbException);
    EXPECT_EQ(Describe(list), (std::vector<std::string>{Line(0, I(1), "", "Север"), Line(0, I(2), "", "Юг"),
                                                         Line(4, I(8), I(1), "Карта Север"),
                                                         Line(4, I(10), "", "Карта без территории")}));
}

TEST(LoadKind, TheMapsOfEachTypeAreReadByTheirOwnStatement)
{
    velmotest::TVelmoDbPair db(EveryKind());
    auto& sqlite = dynamic_cast<TSqliteUdb&>(db.Spatial());
    sqlite.FailStatementsContaining("[VELMO_MAPS].[MAPTYPE] = 3");
    TVelmoSysObjectList list;
    list.LoadKinds(db.Spatial(), {sokArea, sokRasterMap});
    EXPECT_EQ(list.Count(), 3);
    EXPECT_THROW(list.LoadKind(db.Spatial(), sokVectorMap), EUdbException);
    sqlite.FailStatementsContaining("[VELMO_MAPS].[MAPTYPE] = 2");
    EXPECT_THROW(list.LoadKind(db.Spatial(), sokRasterMap), EUdbException);
    list.LoadKind(db.Spatial(), sokVectorMap);
    EXPECT_EQ(list.Count(), 5);
}

// ---- the list without a database ------------------------------------------------------

// An area with a project, both maps and a layer under the vector map with a
// style, a semantic table and a relation; a second area; a layer whose
// parent is an area (not a child kind of areas) and one under the raster map.
class ObjectList : public ::testing::Test {
protected:
    void SetUp() override
    {
        Add("area", "", sokArea);
        Add("proj", "area", sokProject);
        Add("rast", "area", sokRasterMap);
        Add("vect", "area", sokVectorMap);
        Add("lay", "vect", sokLayer);
        Add("sty", "lay", sokStyle);
        Add("sem", "lay", sokSemTable);
        Add("rel", "lay", sokRelation);
        Add("odd", "area", sokLayer);
        Add("onrast", "rast", sokLayer);
        Add("area2", "", sokArea);
        Add("proj2", "area2", sokProject);
        Add("book", "", sokRefBook);
    }
    void Add(const std::string& id, const std::string& parentID, TSysObjectKind kind)
    {
        list.AddNew(id, id, kind)->ParentID = parentID;
    }
    // "ID<ParentID" per object.
    std::string Tree() const
    {
        std::string out;
        for (int i = 0; i < list.Count(); ++i) {
            if (i) out += ' ';
            out += list.GetItem(i)->ID + "<" + list.GetItem(i)->ParentID;
        }
        return out;
    }

    TVelmoSysObjectList list;
};

TEST_F(ObjectList, SetIDRepointsTheDirectChildrenOfTheKindOnly)
{
    struct Case {
        const char* changed;
        const char* tree;
    };
    const Case cases[] = {
        {"area",
         "NEW< proj<NEW rast<NEW vect<NEW lay<vect sty<lay sem<lay rel<lay odd<area onrast<rast area2< proj2<area2 "
         "book<"},
        {"vect",
         "area< proj<area rast<area NEW<area lay<NEW sty<lay sem<lay rel<lay odd<area onrast<rast area2< "
         "proj2<area2 book<"},
        {"lay",
         "area< proj<area rast<area vect<area NEW<vect sty<NEW sem<NEW rel<NEW odd<area onrast<rast area2< "
         "proj2<area2 book<"},
        {"rast",
         "area< proj<area NEW<area vect<area lay<vect sty<lay sem<lay rel<lay odd<area onrast<rast area2< "
         "proj2<area2 book<"},
        {"proj",
         "area< NEW<area rast<area vect<area lay<vect sty<lay sem<lay rel<lay odd<area onrast<rast area2< "
         "proj2<area2 book<"},
    };
    for (const Case& c : cases) {
        list.Clear();
        SetUp();
        const int index = list.IndexOfID(c.changed);
        ASSERT_GE(index, 0) << c.changed;
        list.SetID(index, "NEW");
        EXPECT_EQ(Tree(), c.tree) << c.changed;
    }
}

TEST_F(ObjectList, ReplaceIDFindsTheObjectByItsExactIdentifier)
{
    const std::string before = Tree();
    for (const char* unknown : {"AREA", "are", "area ", ""}) {
        EXPECT_FALSE(list.ReplaceID(unknown, "NEW")) << '"' << unknown << '"';
        EXPECT_EQ(Tree(), before) << '"' << unknown << '"';
    }
    EXPECT_TRUE(list.ReplaceID("area2", "NEW"));
    EXPECT_EQ(list.LookupID("NEW")->Name, "area2");
    EXPECT_EQ(list.LookupID("proj2")->ParentID, "NEW");
    EXPECT_EQ(list.LookupID("area2"), nullptr);
}

TEST_F(ObjectList, AnEmptyIdentifierIsNobodysParent)
{
    // An object with an empty identifier that gets one must not adopt the
    // objects that have no parent.
    list.Clear();
    Add("", "", sokArea);
    Add("proj", "", sokProject);
    Add("map", "", sokVectorMap);
    EXPECT_TRUE(list.ReplaceID("", "NEW"));
    EXPECT_EQ(Tree(), "NEW< proj< map<");
}

TEST_F(ObjectList, LookupsFindTheFirstObjectWithTheIdentifier)
{
    TVelmoSysObject* twin = list.AddNew("lay", "twin", sokLayer);
    struct Case {
        const char* id;
        int index;
    };
    const Case cases[] = {{"area", 0}, {"lay", 4}, {"book", 12}, {"LAY", -1}, {"", -1}, {"nothing", -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(list.IndexOfID(c.id), c.index) << c.id;
        EXPECT_EQ(list.LookupID(c.id), c.index < 0 ? nullptr : list.GetItem(c.index)) << c.id;
    }
    EXPECT_NE(list.LookupID("lay"), twin);
    // Changing the first leaves the second.
    EXPECT_TRUE(list.ReplaceID("lay", "lay1"));
    EXPECT_EQ(list.LookupID("lay"), twin);
}

TEST_F(ObjectList, SelectByKindAndByParentShareTheObjectsInSourceOrder)
{
    struct Case {
        const char* name;
        TSysObjectKind kind;
        const char* parent; // nullptr: by kind
        const char* selected;
    };
    const Case cases[] = {
        {"layers", sokLayer, nullptr, "lay odd onrast"},
        {"areas", sokArea, nullptr, "area area2"},
        {"styles", sokStyle, nullptr, "sty"},
        {"semantic tables", sokSemTable, nullptr, "sem"},
        {"projects of area2", sokProject, "area2", "proj2"},
        {"layers under the area", sokLayer, "area", "odd"},
        {"layers of the vector map", sokLayer, "vect", "lay"},
        {"areas without a parent", sokArea, "", "area area2"},
        {"projects without a parent", sokProject, "", ""},
        {"parent compared exactly", sokProject, "AREA", ""},
    };
    for (const Case& c : cases) {
        TVelmoSysObjectList dest;
        dest.AddNew("stale", "stale", sokLayer);
        if (c.parent)
            TVelmoSysObjectList::SelectByParent(dest, list, c.kind, c.parent);
        else
            TVelmoSysObjectList::SelectByKind(dest, list, c.kind);
        std::string ids;
        for (int i = 0; i < dest.Count(); ++i) {
            if (i) ids += ' ';
            ids += dest.GetItem(i)->ID;
            EXPECT_EQ(dest.GetItem(i), list.LookupID(dest.GetItem(i)->ID)) << c.name;
            EXPECT_EQ(dest.GetItem(i)->RefCount(), 2) << c.name;
        }
        EXPECT_EQ(ids, c.selected) << c.name;
    }
    // The objects live on in the source after the selections are gone.
    for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.GetItem(i)->RefCount(), 1);
}

TEST(ObjectListLifetime, AddNewAndAddHoldOneReferenceEach)
{
    TVelmoSysObjectList list;
    TVelmoSysObject* obj = list.AddNew("id", "name", sokStyle);
    EXPECT_EQ(obj->RefCount(), 1);
    EXPECT_EQ(obj->ParentID, "");
    EXPECT_EQ(obj->Kind, sokStyle);
    EXPECT_FALSE(list.OwnsObjects());
    {
        TVelmoSysObjectList other;
        other.Add(obj);
        EXPECT_EQ(obj->RefCount(), 2);
        list.Clear();
        EXPECT_EQ(obj->RefCount(), 1);
        EXPECT_EQ(other.GetItem(0)->Name, "name");
    }
}

TEST(SysObjectKinds, TheDialogsKinds)
{
    EXPECT_EQ(SystemObjectKinds(), (std::vector<TSysObjectKind>{sokArea, sokRefBook, sokProject, sokRasterMap,
                                                                sokVectorMap, sokLayer, sokStyle, sokSemTable,
                                                                sokRelation}));
    EXPECT_EQ(LayerKinds(), (std::vector<TSysObjectKind>{sokArea, sokVectorMap, sokLayer}));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(static_cast<int>(SystemObjectKinds()[static_cast<std::size_t>(k)]), k);
}

} // namespace
