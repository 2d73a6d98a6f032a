// Tests of the table-structure model: item numbering and list operations,
// name matching and field-list splitting, index lookups, conversions between
// the model and the interface records, and the structure diff
// (CompareTableDefs, HasModification, MakeFieldMap) on every kind of change.
#include "tests/support/TestHelpers.h"
#include "UdbProject/UdbDefs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

using testing_support::RaisedMessage;

std::unique_ptr<TFieldDef> Field(const std::string& name, TUdbDataType type = udtInteger, std::int32_t size = -1,
                                 bool required = false, std::int32_t id = -1)
{
    auto f = std::make_unique<TFieldDef>(id);
    f->Name = name;
    f->DataType = type;
    f->Size = size;
    f->Required = required;
    return f;
}

std::unique_ptr<TIndexDef> Index(const std::string& name, std::vector<std::string> fields, bool primary = false,
                                 bool unique = false, std::int32_t id = -1)
{
    auto i = std::make_unique<TIndexDef>(id);
    i->Name = name;
    i->Fields = std::move(fields);
    i->Primary = primary;
    i->Unique = unique;
    return i;
}

std::vector<std::string> Names(const TFieldList& list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i) names.push_back(list.Get(i).Name);
    return names;
}

std::vector<std::int32_t> Ids(const TTableDefItemList& list)
{
    std::vector<std::int32_t> ids;
    for (int i = 0; i < list.Count(); ++i) ids.push_back(list.Item(i).Id);
    return ids;
}

// ---- lists --------------------------------------------------------------------------

TEST(ItemLists, NewItemsAreNumberedFromACounterThatIsNeverReset)
{
    TFieldList list;
    list.Add(Field("A"));
    list.Add(Field("B"));
    list.Add(Field("KEPT", udtInteger, -1, false, 40)); // an Id of its own is kept
    list.Add(Field("C"));
    EXPECT_THAT(Ids(list), ElementsAre(0, 1, 40, 2));
    EXPECT_EQ(list.NextId(), 3);
    EXPECT_EQ(list.IndexOfId(40), 2);
    EXPECT_EQ(list.IndexOfId(7), -1);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Add(Field("D"));
    EXPECT_THAT(Ids(list), ElementsAre(3)) << "numbering goes on after Clear";

    list.Delete(0);
    list.Add(Field("E"));
    EXPECT_THAT(Ids(list), ElementsAre(4)) << "a deleted item's Id is not handed out again";
}

TEST(ItemLists, ItemsOfTheWrongKindAreRefused)
{
    TFieldList fields;
    TIndexList indexes;
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { fields.AddItem(Index("I", {"A"})); }),
                StartsWith("Unknown object type ("));
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { indexes.AddItem(Field("A")); }),
                StartsWith("Unknown object type ("));
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { fields.AddItem(nullptr); }),
                StartsWith("Unknown object type ("));
    EXPECT_EQ(fields.Count(), 0);
    EXPECT_EQ(fields.NextId(), 0) << "a refused item takes no number";
    EXPECT_EQ(indexes.AddItem(Index("I", {"A"})), 0);
}

TEST(ItemLists, MoveAndPositionsOutsideTheList)
{
    struct Move {
        int from;
        int to;
        std::vector<std::string> expected;
    };
    const Move moves[] = {
        {0, 2, {"B", "C", "A"}},
        {2, 0, {"C", "A", "B"}},
        {1, 2, {"A", "C", "B"}},
        {1, 1, {"A", "B", "C"}},
        {7, 7, {"A", "B", "C"}}, // equal positions: nothing happens, not even a check
    };
    for (const Move& m : moves) {
        SCOPED_TRACE(std::to_string(m.from) + "->" + std::to_string(m.to));
        TFieldList list;
        for (const char* n : {"A", "B", "C"}) list.Add(Field(n));
        list.Move(m.from, m.to);
        EXPECT_EQ(Names(list), m.expected);
    }

    TFieldList list;
    for (const char* n : {"A", "B", "C"}) list.Add(Field(n));
    struct Bad {
        const char* what;
        std::function<void()> call;
        const char* message;
    };
    const Bad bad[] = {
        {"get past the end", [&] { list.Get(3); }, "List index out of bounds (3)"},
        {"get before the start", [&] { list.Item(-1); }, "List index out of bounds (-1)"},
        {"delete past the end", [&] { list.Delete(5); }, "List index out of bounds (5)"},
        {"move from outside", [&] { list.Move(3, 0); }, "List index out of bounds (3)"},
        {"move to outside", [&] { list.Move(0, 3); }, "List index out of bounds (3)"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        EXPECT_EQ(RaisedMessage<rtl::EListError>(b.call), b.message);
    }
    EXPECT_THAT(Names(list), ElementsAre("A", "B", "C"));
}

// ---- names and splitting -------------------------------------------------------------

TEST(Names, SameNameFoldsOnlyLatinLetters)
{
    struct Case {
        const char* a;
        const char* b;
        bool caseSensitive;
        bool expected;
    };
    const Case cases[] = {
        {"Roads", "Roads", true, true},      {"Roads", "ROADS", true, false},
        {"Roads", "ROADS", false, true},     {"дороги", "ДОРОГИ", false, false},
        {"Id_дорог", "ID_дорог", false, true}, {"ROAD", "ROADS", false, false},
        {"", "", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(SameName(c.a, c.b, c.caseSensitive), c.expected);
    }
}

TEST(Names, SplitStringTrimsAndDropsEmptyPieces)
{
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"blanks and empty pieces", " A ; ;B;", {"A", "B"}},
        {"control characters trimmed", "\tA\r\n;\x01" "B", {"A", "B"}},
        {"inner blanks kept", "FIRST NAME;  КОД ДОРОГИ ", {"FIRST NAME", "КОД ДОРОГИ"}},
        {"one name", "ID", {"ID"}},
        {"empty text", "", {}},
        {"only separators", ";;;", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> list{"stale"};
        SplitString(list, c.text, ';');
        EXPECT_EQ(list, c.expected);
    }
}

// ---- index lookups ----------------------------------------------------------------

TEST(IndexLookups, FindForFields)
{
    struct Case {
        const char* what;
        std::vector<std::vector<std::string>> indexes;
        std::vector<std::string> names;
        bool all;
        bool caseSensitive;
        int expected;
    };
    const Case cases[] = {
        {"every name, any order, extra fields", {{"B", "A", "C"}, {"A"}}, {"A", "B"}, true, false, 0},
        {"first index holding the first name", {{"A"}, {"A", "B"}}, {"A", "B"}, false, false, 0},
        {"all names needed: the second qualifies", {{"A"}, {"A", "B"}}, {"A", "B"}, true, false, 1},
        {"case ignored", {{"code", "name"}}, {"NAME", "CODE"}, true, false, 0},
        {"case kept", {{"code", "name"}}, {"NAME", "CODE"}, true, true, -1},
        {"leading names only: a missing first name stops the count", {{"B"}}, {"A", "B"}, false, false, -1},
        {"no index holds them", {{"X"}, {"Y"}}, {"A"}, true, false, -1},
        {"no names: the first index", {{"X"}, {"Y"}}, {}, true, false, 0},
        {"no indexes", {}, {"A"}, false, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIndexList list;
        for (const auto& fields : c.indexes) list.Add(Index("", fields));
        EXPECT_EQ(list.FindForFields(c.names, c.all, c.caseSensitive), c.expected);
    }
}

TEST(IndexLookups, FindByNameAndPrimary)
{
    TIndexList list;
    EXPECT_EQ(list.FindPrimary(), nullptr);
    list.Add(Index("IX_Name", {"NAME"}));
    TIndexDef& pk1 = list.Add(Index("PK", {"ID"}, true));
    list.Add(Index("PK2", {"CODE"}, true, true));
    EXPECT_EQ(list.FindPrimary(), &pk1);
    EXPECT_EQ(list.Find("ix_name", false), 0);
    EXPECT_EQ(list.Find("ix_name", true), -1);
    EXPECT_EQ(list.Find("PK2", true), 2);

    TFieldList fields;
    fields.Add(Field("Id"));
    fields.Add(Field("ID"));
    EXPECT_EQ(fields.Find("ID", false), 0) << "the first match wins";
    EXPECT_EQ(fields.Find("ID", true), 1);
    EXPECT_EQ(fields.Find("IDX", false), -1);
}

// ---- conversions ------------------------------------------------------------------------

TEST(Conversions, FieldsKeepTheirIds)
{
    TFieldDef field(5);
    UdbToFieldDef(field, {"НАЗВАНИЕ", udtString, 80, true});
    EXPECT_EQ(field.Id, 5);
    EXPECT_EQ(field.Name, "НАЗВАНИЕ");
    EXPECT_EQ(field.DataType, udtString);
    EXPECT_EQ(field.Size, 80);
    EXPECT_TRUE(field.Required);
    EXPECT_EQ(FieldDefToUdb(field), (TUdbFieldDef{"НАЗВАНИЕ", udtString, 80, true}));
    EXPECT_EQ(FieldDefToUdb(*Field("OBJECTS", udtPicture)), (TUdbFieldDef{"OBJECTS", udtPicture, -1, false}));
}

TEST(Conversions, IndexesJoinAndSplitTheirFields)
{
    struct Case {
        const char* what;
        std::vector<std::string> fields;
        std::string joined;
    };
    const Case cases[] = {
        {"two fields", {"ID", "CODE"}, "ID;CODE"},
        {"one field", {"ID"}, "ID"},
        {"no fields", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto index = Index("IX", c.fields, true, false, 3);
        EXPECT_EQ(IndexDefToUdb(*index), (TUdbIndexDef{"IX", c.joined, true, false}));
    }

    TIndexDef index(2);
    index.Name = "IX_OLD";
    index.Fields = {"stale"};
    UdbToIndexDef(index, {"IX_NEW", " NAME ; ;CODE;", false, true});
    EXPECT_EQ(index.Name, "IX_OLD") << "the record's name is not taken";
    EXPECT_EQ(index.Id, 2);
    EXPECT_THAT(index.Fields, ElementsAre("NAME", "CODE"));
    EXPECT_FALSE(index.Primary);
    EXPECT_TRUE(index.Unique);
}

TEST(Conversions, JoinIndexFieldsQuotesEachName)
{
    EXPECT_EQ(JoinIndexFields(*Index("PK", {"A", "B"}), ',', '[', ']'), "[A],[B]");
    EXPECT_EQ(JoinIndexFields(*Index("PK", {"ID"}), ';', '"', '"'), "\"ID\"");
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([] { JoinIndexFields(*Index("PK", {}), ',', '[', ']'); }),
                StartsWith("Index fields list empty ("));
}

// ---- tables -----------------------------------------------------------------------------

TEST(TableDefs, AssignMakesAnIndependentCopyWithTheSameIds)
{
    TTableDef source;
    source.Name = "ROADS";
    source.Fields.Add(Field("ID", udtInteger, -1, true));
    source.Fields.Add(Field("NAME", udtString, 40));
    source.Indexes.Add(Index("PK", {"ID"}, true, true));
    source.Indexes.Add(Index("IX", {"NAME", "ID"}));

    TTableDef copy;
    copy.Name = "OLD";
    copy.Fields.Add(Field("GONE"));
    copy.Fields.Add(Field("GONE2"));
    copy.Fields.Add(Field("GONE3"));
    copy.Assign(source);
    EXPECT_EQ(copy.Name, "ROADS");
    EXPECT_THAT(Names(copy.Fields), ElementsAre("ID", "NAME"));
    EXPECT_THAT(Ids(copy.Fields), ElementsAre(0, 1));
    EXPECT_EQ(FieldDefToUdb(copy.Fields.Get(1)), (TUdbFieldDef{"NAME", udtString, 40, false}));
    EXPECT_THAT(Ids(copy.Indexes), ElementsAre(0, 1));
    EXPECT_EQ(IndexDefToUdb(copy.Indexes.Get(1)), (TUdbIndexDef{"IX", "NAME;ID", false, false}));
    EXPECT_EQ(IndexDefToUdb(copy.Indexes.Get(0)), (TUdbIndexDef{"PK", "ID", true, true}));
    EXPECT_THAT(CompareTableDefs(copy, source, true), IsEmpty());

    copy.Indexes.Get(1).Fields.push_back("X");
    copy.Fields.Get(0).Name = "CHANGED";
    EXPECT_THAT(source.Indexes.Get(1).Fields, ElementsAre("NAME", "ID"));
    EXPECT_EQ(source.Fields.Get(0).Name, "ID");

    copy.Assign(copy);
    EXPECT_EQ(copy.Fields.Count(), 2) << "assigning to itself changes nothing";
}

TEST(TableDefs, ClearKeepsCountersSoReReadItemsLookNew)
{
    TTableDef edited;
    TTableDef asRead;
    const auto read = [&] {
        edited.Clear();
        asRead.Clear();
        edited.Name = "T";
        edited.Fields.Add(Field("A"));
        edited.Fields.Add(Field("B"));
        edited.Indexes.Add(Index("I", {"A"}));
        asRead.Assign(edited);
    };
    read();
    EXPECT_THAT(Ids(edited.Fields), ElementsAre(0, 1));
    read();
    EXPECT_TRUE(edited.Name == "T" && edited.Fields.Count() == 2);
    EXPECT_THAT(Ids(edited.Fields), ElementsAre(2, 3));
    EXPECT_THAT(Ids(asRead.Fields), ElementsAre(2, 3));
    EXPECT_THAT(Ids(edited.Indexes), ElementsAre(1));
    EXPECT_THAT(Ids(asRead.Indexes), ElementsAre(1));
}

// ---- the diff -----------------------------------------------------------------------------

using Mods = std::vector<TTableModificationItem>;

// ROADS read as a driver reads it: fields ID 0, NAME 1, CODE 2, NOTE 3 and
// indexes PK 0 on ID, IX_NAME 1 on NAME and CODE, all added with Id -1; the
// as-read copy shares the Ids, so items added to the edited one look new.
void ReadRoads(TTableDef& edited, TTableDef& asRead)
{
    edited.Name = "ROADS";
    edited.Fields.Add(Field("ID", udtInteger, -1, true));
    edited.Fields.Add(Field("NAME", udtString, 40));
    edited.Fields.Add(Field("CODE", udtInteger));
    edited.Fields.Add(Field("NOTE", udtMemo));
    edited.Indexes.Add(Index("PK", {"ID"}, true, true));
    edited.Indexes.Add(Index("IX_NAME", {"NAME", "CODE"}));
    asRead.Assign(edited);
}

class StructureDiff : public ::testing::Test {
protected:
    StructureDiff() { ReadRoads(edited, asRead); }

    TTableDef edited;
    TTableDef asRead;
};

TEST(StructureDiffCases, EachKindOfChange)
{
    struct Case {
        const char* what;
        std::function<void(TTableDef&)> edit;
        bool caseSensitive;
        Mods expected;
    };
    const Case cases[] = {
        {"nothing changed", [](TTableDef&) {}, true, {}},
        {"table renamed", [](TTableDef& d) { d.Name = "RIVERS"; }, true, {{-1, 0x0002}}},
        {"table name case, case-sensitive", [](TTableDef& d) { d.Name = "Roads"; }, true, {{-1, 0x0002}}},
        {"table name case, case-insensitive", [](TTableDef& d) { d.Name = "Roads"; }, false, {}},
        {"field renamed that an index uses: no index entry",
         [](TTableDef& d) {
             d.Fields.Get(1).Name = "TITLE";
             d.Indexes.Get(1).Fields[0] = "TITLE";
         },
         true, {{1, 0x0010}}},
        {"field name case, case-sensitive", [](TTableDef& d) { d.Fields.Get(3).Name = "Note"; }, true,
         {{3, 0x0010}}},
        {"field name case, case-insensitive", [](TTableDef& d) { d.Fields.Get(3).Name = "Note"; }, false, {}},
        {"field retyped", [](TTableDef& d) { d.Fields.Get(2).DataType = udtFloat; }, true, {{2, 0x0020}}},
        {"subtype counts as a type change", [](TTableDef& d) { d.Fields.Get(3).DataType = udtMemo + 1; }, true,
         {{3, 0x0020}}},
        {"field resized", [](TTableDef& d) { d.Fields.Get(1).Size = 80; }, true, {{1, 0x0040}}},
        {"field Required changed", [](TTableDef& d) { d.Fields.Get(0).Required = false; }, true, {{0, 0x0080}}},
        {"renamed, retyped and resized: one entry",
         [](TTableDef& d) {
             TFieldDef& f = d.Fields.Get(3);
             f.Name = "REMARK";
             f.DataType = udtString;
             f.Size = 255;
             f.Required = true;
         },
         true, {{3, 0x00F0}}},
        {"field added", [](TTableDef& d) { d.Fields.Add(Field("LENGTH", udtFloat)); }, true, {{4, 0x0004}}},
        {"last field deleted", [](TTableDef& d) { d.Fields.Delete(3); }, true, {{3, 0x0008}}},
        {"first field deleted: every later field moved; a field and an index share Id 0",
         [](TTableDef& d) {
             d.Fields.Delete(0);
             d.Indexes.Delete(0);
         },
         true, {{1, 0x0100}, {2, 0x0100}, {3, 0x0100}, {0, 0x0008}, {0, 0x0400}}},
        {"deleted and added under the old name: not a rename",
         [](TTableDef& d) {
             d.Fields.Delete(3);
             d.Fields.Add(Field("NOTE", udtMemo));
         },
         true, {{4, 0x0004}, {3, 0x0008}}},
        {"last field moved first", [](TTableDef& d) { d.Fields.Move(3, 0); }, true,
         {{3, 0x0100}, {0, 0x0100}, {1, 0x0100}, {2, 0x0100}}},
        {"two fields swapped", [](TTableDef& d) { d.Fields.Move(2, 3); }, true, {{3, 0x0100}, {2, 0x0100}}},
        {"index added", [](TTableDef& d) { d.Indexes.Add(Index("IX_CODE", {"CODE"}, false, true)); }, true,
         {{2, 0x0200}}},
        {"index deleted", [](TTableDef& d) { d.Indexes.Delete(1); }, true, {{1, 0x0400}}},
        {"index fields reordered", [](TTableDef& d) { d.Indexes.Get(1).Fields = {"CODE", "NAME"}; }, true,
         {{1, 0x0800}}},
        {"index field replaced", [](TTableDef& d) { d.Indexes.Get(1).Fields[1] = "NOTE"; }, true,
         {{1, 0x0800}}},
        {"index field added", [](TTableDef& d) { d.Indexes.Get(0).Fields.push_back("CODE"); }, true,
         {{0, 0x0800}}},
        {"index made primary", [](TTableDef& d) { d.Indexes.Get(1).Primary = true; }, true, {{1, 0x1000}}},
        {"index made unique", [](TTableDef& d) { d.Indexes.Get(1).Unique = true; }, true, {{1, 0x2000}}},
        {"primary key dropped to a plain index",
         [](TTableDef& d) {
             d.Indexes.Get(0).Primary = false;
             d.Indexes.Get(0).Unique = false;
         },
         true, {{0, 0x3000}}},
        {"index renamed: names are not compared", [](TTableDef& d) { d.Indexes.Get(1).Name = "IX_OTHER"; }, true,
         {}},
        {"indexes reordered: positions are not compared", [](TTableDef& d) { d.Indexes.Move(1, 0); }, true, {}},
        {"index names a field in another case, case-insensitive",
         [](TTableDef& d) { d.Indexes.Get(1).Fields[0] = "name"; }, false, {}},
        {"entry order: table, fields, deleted fields, indexes, deleted indexes",
         [](TTableDef& d) {
             d.Indexes.Delete(0);
             d.Indexes.Add(Index("IX_ID", {"ID", "LENGTH"}));
             d.Fields.Delete(2);
             d.Fields.Add(Field("LENGTH", udtFloat));
             d.Indexes.Get(0).Fields = {"NAME"};
             d.Fields.Get(0).Size = 4;
             d.Name = "ROADS2";
         },
         true,
         {{-1, 0x0002}, {0, 0x0040}, {3, 0x0100}, {4, 0x0004}, {2, 0x0008}, {1, 0x0800}, {2, 0x0200},
          {0, 0x0400}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTableDef changed;
        TTableDef read;
        ReadRoads(changed, read);
        c.edit(changed);
        EXPECT_THAT(CompareTableDefs(changed, read, c.caseSensitive), ElementsAreArray(c.expected));
    }
}

TEST_F(StructureDiff, AddedItemsTakeTheEditedCounter)
{
    edited.Fields.Add(Field("LENGTH", udtFloat));
    edited.Indexes.Add(Index("IX_LEN", {"LENGTH"}));
    EXPECT_THAT(CompareTableDefs(edited, asRead, true), ElementsAre(TTableModificationItem{4, 0x0004},
                                                                     TTableModificationItem{2, 0x0200}));
}

TEST_F(StructureDiff, IndexFieldMissingFromTheDefinitionFails)
{
    struct Case {
        const char* what;
        std::function<void()> edit;
        bool caseSensitive;
    };
    const Case cases[] = {
        {"field renamed, index kept the old name",
         [this] { edited.Fields.Get(1).Name = "TITLE"; }, true},
        {"index names an unknown field", [this] { edited.Indexes.Get(0).Fields = {"NOPE"}; }, false},
        {"index names a field in another case, case-sensitive",
         [this] { edited.Indexes.Get(1).Fields[0] = "name"; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTableDef saved;
        saved.Assign(edited);
        c.edit();
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { CompareTableDefs(edited, asRead, c.caseSensitive); }),
                    StartsWith("In TableDef not found field, defined in index fields list ("));
        edited.Assign(saved);
    }
}

TEST(HasModifications, ExactOrSharedBits)
{
    const Mods addedAndRenamed = {{4, 0x0004}, {1, 0x0010}};
    const Mods renamedOnly = {{-1, 0x0002}};
    struct Case {
        const char* what;
        TTableModifications flags;
        Mods mods;
        bool exact;
        bool expected;
    };
    const Case cases[] = {
        {"exact needs the whole union", 0x0004, addedAndRenamed, true, false},
        {"shared bit", 0x0004, addedAndRenamed, false, true},
        {"exact union", 0x0014, addedAndRenamed, true, true},
        {"only the table renamed", tmTableRenamed, renamedOnly, true, true},
        {"no shared bit", 0x3C00, addedAndRenamed, false, false},
        {"empty: union 0 equals 0", 0, {}, true, true},
        {"empty: shares nothing", 0xFFFF, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(HasModification(c.flags, c.mods, c.exact), c.expected);
    }
}

TEST_F(StructureDiff, FieldMapCarriesFieldsPresentInBoth)
{
    edited.Fields.Get(1).Name = "TITLE"; // renamed
    edited.Fields.Get(2).DataType = udtString; // retyped
    edited.Fields.Get(2).Size = 10;
    edited.Fields.Delete(0);                     // deleted
    edited.Fields.Add(Field("LENGTH", udtFloat)); // added
    edited.Fields.Move(2, 0);                     // NOTE first

    const TUdbFieldMap map = MakeFieldMap(asRead, edited);
    EXPECT_THAT(map, ElementsAre(TUdbFieldMapItem{{"NOTE", udtMemo, -1, false}, {"NOTE", udtMemo, -1, false}},
                                 TUdbFieldMapItem{{"NAME", udtString, 40, false}, {"TITLE", udtString, 40, false}},
                                 TUdbFieldMapItem{{"CODE", udtInteger, -1, false}, {"CODE", udtString, 10, false}}));

    TTableDef empty;
    EXPECT_THAT(MakeFieldMap(asRead, empty), IsEmpty());
    EXPECT_THAT(MakeFieldMap(empty, asRead), IsEmpty());
}

} // namespace
