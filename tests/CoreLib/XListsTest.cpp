// Tests of the record array (its exact capacity rules, index and size checks,
// inserts whose source lies inside the array itself) and of the owning
// object list (the order and the hooks of freeing).
#include "CoreLib/XLists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/NumText.h"

namespace {

// A 20-byte record: an id and filler that must travel with it.
struct Rec {
    std::int32_t id;
    char tag[16];
};
static_assert(sizeof(Rec) == 20);

Rec MakeRec(int id)
{
    Rec r{};
    r.id = id;
    for (int i = 0; i < 16; ++i) r.tag[i] = static_cast<char>('a' + (id + i) % 26);
    return r;
}

// The ids of the records in use; a record whose filler does not belong to
// its id shows as -1.
std::vector<int> Ids(const TRecArray& a)
{
    std::vector<int> ids;
    for (int i = 0; i < a.Count(); ++i) {
        const Rec* r = static_cast<const Rec*>(a.GetPtr(i));
        const Rec expected = MakeRec(r->id);
        ids.push_back(std::memcmp(r, &expected, sizeof(Rec)) == 0 ? r->id : -1);
    }
    return ids;
}

TRecArray ArrayOf(int count, int capacity)
{
    TRecArray a(sizeof(Rec));
    a.SetCapacity(capacity);
    for (int id = 0; id < count; ++id) {
        const Rec r = MakeRec(id);
        a.AddRecs(&r, 1);
    }
    return a;
}

template <class F>
std::string RecArrayMessage(F&& f)
{
    try {
        f();
    } catch (const ERecArray& e) {
        return e.Message();
    }
    ADD_FAILURE() << "nothing was raised";
    return {};
}

const char* const kGetPtrMessage = "Индекс массива выходит за пределы (TRecArray.GetPtr)";
const char* const kInsertMessage = "Индекс массива выходит за пределы (TRecArray.InsertRecs)";
const char* const kAssignMessage = "Не совпадает размер элемента (TRecArray.Assign)";

// ---- capacity rules ---------------------------------------------------------------

TEST(TRecArrayCapacity, AddGrowsByTheStepRule)
{
    TRecArray a(sizeof(Rec));
    const int expected[] = {4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12, 28};
    for (int id = 0; id < 13; ++id) {
        const Rec r = MakeRec(id);
        a.Add(&r);
        EXPECT_EQ(a.Capacity(), expected[id]) << "after record " << id + 1;
    }
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(TRecArrayCapacity, GrowStepDependsOnTheCapacity)
{
    struct Case {
        int capacity;
        int grown;
    };
    const Case cases[] = {{0, 4}, {3, 7}, {8, 12}, {9, 25}, {64, 80}, {65, 81}, {100, 125}};
    for (const Case& c : cases) {
        TRecArray a(4);
        a.SetCapacity(c.capacity);
        a.Grow();
        EXPECT_EQ(a.Capacity(), c.grown) << "from " << c.capacity;
    }
}

TEST(TRecArrayCapacity, InsertGrowsToExactlyWhatIsNeeded)
{
    TRecArray a = ArrayOf(5, 5);
    const Rec more[] = {MakeRec(10), MakeRec(11), MakeRec(12)};
    a.InsertRecs(2, more, 3);
    EXPECT_EQ(a.Capacity(), 8);
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 10, 11, 12, 2, 3, 4}));

    a.AddRecs(more, 1);
    EXPECT_EQ(a.Capacity(), 9) << "AddRecs takes no growth step either";
}

TEST(TRecArrayCapacity, SetCapacityKeepsTheRecordsInUse)
{
    struct Case {
        const char* name;
        int asked;
        int capacity;
    };
    const Case cases[] = {
        {"below Count is raised to Count", 1, 3},
        {"zero is raised to Count", 0, 3},
        {"larger", 10, 10},
        {"the same", 6, 6},
    };
    for (const Case& c : cases) {
        TRecArray a = ArrayOf(3, 6);
        a.SetCapacity(c.asked);
        EXPECT_EQ(a.Capacity(), c.capacity) << c.name;
        EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2})) << c.name;
    }
}

TEST(TRecArrayCapacity, EmptyArrayHasNoStorage)
{
    TRecArray a = ArrayOf(0, 5);
    EXPECT_NE(a.Data(), nullptr);
    a.SetCapacity(0);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Capacity(), 0);

    TRecArray b = ArrayOf(4, 4);
    b.Clear();
    EXPECT_EQ(b.Data(), nullptr);
    EXPECT_EQ(b.Capacity(), 0);
    EXPECT_EQ(b.Count(), 0);
    EXPECT_EQ(b.RecSize(), static_cast<int>(sizeof(Rec)));
}

TEST(TRecArrayCapacity, SetCountKeepsTheStorage)
{
    TRecArray a = ArrayOf(4, 6);
    a.SetCount(0);
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.Capacity(), 6);
    EXPECT_THROW(a.SetCount(7), rtl::EAssertionFailed);
    EXPECT_THROW(a.SetCount(-1), rtl::EAssertionFailed);
}

// ---- index and size checks ---------------------------------------------------------

TEST(TRecArrayChecks, IndexesOutsideTheArrayAreRefusedAndNothingChanges)
{
    struct Case {
        const char* name;
        void (*op)(TRecArray&);
        const char* message;
    };
    static const Rec r = MakeRec(99);
    const Case cases[] = {
        {"GetPtr at Count", [](TRecArray& a) { a.GetPtr(a.Count()); }, kGetPtrMessage},
        {"GetPtr below 0", [](TRecArray& a) { a.GetPtr(-1); }, kGetPtrMessage},
        {"InsertRecs past Count", [](TRecArray& a) { a.InsertRecs(a.Count() + 1, &r, 1); }, kInsertMessage},
        {"InsertRecs below 0", [](TRecArray& a) { a.InsertRecs(-1, &r, 1); }, kInsertMessage},
        {"Assign of another record size", [](TRecArray& a) { a.Assign(TRecArray(8)); }, kAssignMessage},
    };
    for (const Case& c : cases) {
        TRecArray a = ArrayOf(3, 3);
        EXPECT_EQ(RecArrayMessage([&] { c.op(a); }), c.message) << c.name;
        EXPECT_EQ(a.Capacity(), 3) << c.name;
        EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2})) << c.name;
    }
}

TEST(TRecArrayChecks, InsertAtCountAppends)
{
    TRecArray a = ArrayOf(3, 3);
    const Rec r = MakeRec(7);
    a.InsertRecs(3, &r, 1);
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2, 7}));
    EXPECT_EQ(static_cast<const Rec*>(a.GetPtr(3))->id, 7);

    a.InsertRecs(1, &r, 0);
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2, 7})) << "no records inserts nothing";
}

// ---- Assign ---------------------------------------------------------------------------

TEST(TRecArrayAssign, CopiesTheRecordsAndNeverLowersTheCapacity)
{
    struct Case {
        const char* name;
        int targetCount, targetCapacity, sourceCount;
        int capacity;
    };
    const Case cases[] = {
        {"raised to the source's Count", 1, 2, 5, 5},
        {"larger capacity kept", 1, 10, 5, 10},
        {"empty source", 4, 4, 0, 4},
    };
    for (const Case& c : cases) {
        TRecArray target = ArrayOf(c.targetCount, c.targetCapacity);
        TRecArray source(sizeof(Rec));
        for (int id = 0; id < c.sourceCount; ++id) {
            const Rec r = MakeRec(100 + id);
            source.Add(&r);
        }
        target.Assign(source);
        EXPECT_EQ(target.Capacity(), c.capacity) << c.name;
        EXPECT_EQ(Ids(target), Ids(source)) << c.name;
    }
}

TEST(TRecArrayAssign, AssignFromItselfChangesNothing)
{
    TRecArray a = ArrayOf(3, 5);
    a.Assign(a);
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(a.Capacity(), 5);
}

// ---- sources inside the array -----------------------------------------------------------

TEST(TRecArraySelfSource, InsertFromItsOwnRecords)
{
    struct Case {
        const char* name;
        int capacity; // of an array of records 0..4
        int index, from, n;
        std::vector<int> ids;
    };
    const Case cases[] = {
        {"reallocates, source before the gap", 5, 3, 0, 2, {0, 1, 2, 0, 1, 3, 4}},
        {"reallocates, source after the gap", 5, 1, 3, 2, {0, 3, 4, 1, 2, 3, 4}},
        {"reallocates, source across the gap", 5, 2, 1, 3, {0, 1, 1, 2, 3, 2, 3, 4}},
        {"in place, source moved by the gap", 10, 0, 2, 3, {2, 3, 4, 0, 1, 2, 3, 4}},
        {"in place, source across the gap", 10, 3, 2, 2, {0, 1, 2, 2, 3, 3, 4}},
        {"append the whole array to itself", 5, 5, 0, 5, {0, 1, 2, 3, 4, 0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        TRecArray a = ArrayOf(5, c.capacity);
        a.InsertRecs(c.index, a.GetPtr(c.from), c.n);
        EXPECT_EQ(Ids(a), c.ids) << c.name;
    }
}

TEST(TRecArraySelfSource, AddOfItsOwnRecordWhenFull)
{
    TRecArray a = ArrayOf(4, 4);
    a.Add(a.GetPtr(1));
    EXPECT_EQ(a.Capacity(), 8);
    EXPECT_EQ(Ids(a), (std::vector<int>{0, 1, 2, 3, 1}));
}

TEST(TRecArrayMove, MovedArrayTakesTheStorage)
{
    TRecArray a = ArrayOf(3, 4);
    TRecArray b(std::move(a));
    EXPECT_EQ(Ids(b), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(a.Count(), 0);
    EXPECT_EQ(a.Capacity(), 0);
    EXPECT_EQ(a.Data(), nullptr);
}

// ---- TObjectList ----------------------------------------------------------------------

struct Journal {
    std::vector<std::string> events;
};

struct Item {
    Item(int id, Journal& j) : id(id), journal(j) {}
    ~Item() { journal.events.push_back("destroyed " + rtl::IntToStr(id)); }
    int id;
    Journal& journal;
};

class TJournalList : public TObjectList<Item> {
public:
    explicit TJournalList(Journal& j) : journal_(j) {}
    ~TJournalList() override { Clear(); }

protected:
    void BeforeFreeItem(Item& item) override
    {
        journal_.events.push_back("before " + rtl::IntToStr(item.id) + ", count " + rtl::IntToStr(Count()));
    }
    void FreeItem(std::unique_ptr<Item> item) override
    {
        journal_.events.push_back("free " + rtl::IntToStr(item->id));
        item.reset();
    }

private:
    Journal& journal_;
};

TEST(TObjectList, ClearFreesFromTheLastToTheFirstThroughTheHooks)
{
    Journal j;
    TJournalList list(j);
    list.Add(std::make_unique<Item>(1, j));
    list.Add(nullptr);
    list.Add(std::make_unique<Item>(3, j));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(j.events, (std::vector<std::string>{"before 3, count 2", "free 3", "destroyed 3",
                                                  "before 1, count 0", "free 1", "destroyed 1"}));
}

TEST(TObjectList, DestructionFreesTheItems)
{
    Journal j;
    {
        TObjectList<Item> list;
        list.Add(std::make_unique<Item>(1, j));
        list.Add(std::make_unique<Item>(2, j));
    }
    EXPECT_EQ(j.events, (std::vector<std::string>{"destroyed 2", "destroyed 1"}));

    j.events.clear();
    {
        TJournalList list(j);
        list.Add(std::make_unique<Item>(5, j));
    }
    EXPECT_EQ(j.events, (std::vector<std::string>{"before 5, count 0", "free 5", "destroyed 5"}))
        << "a derived list's hooks run when it clears in its destructor";
}

TEST(TObjectList, ExtractHandsOverAndDeleteFrees)
{
    Journal j;
    TJournalList list(j);
    for (int id = 1; id <= 3; ++id) list.Add(std::make_unique<Item>(id, j));

    std::unique_ptr<Item> taken = list.Extract(0);
    EXPECT_EQ(taken->id, 1);
    EXPECT_TRUE(j.events.empty());
    EXPECT_EQ(list.IndexOf(taken.get()), -1);

    list.Delete(1);
    EXPECT_EQ(j.events, (std::vector<std::string>{"before 3, count 1", "free 3", "destroyed 3"}));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(0)->id, 2);
    EXPECT_EQ(list.IndexOf(list.Get(0)), 0);

    EXPECT_THROW(list.Get(1), rtl::EListError);
    EXPECT_THROW(list.Delete(-1), rtl::EListError);
}

} // namespace
