// Tests of the reference-counted objects, the free routines that take and drop
// references, and the list that holds one reference per item.
//
// TProbe counts its Cleanup calls and its destruction in a Tally that the
// test owns, and can be told to fail in Cleanup.
#include "tests/support/TestHelpers.h"
#include "CoreLib/RefObjects.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

const char* const kNotInitialised = "Объект не инициализирован. (RefObjects.cpp, line ";
const char* const kStillReferenced = "Object is still referenced (RefObjects.cpp, line ";

struct Tally {
    int cleanups = 0;
    int destroyed = 0;
    std::vector<int> order;  // ids in the order of destruction
};

class TProbe : public TRefObject {
public:
    explicit TProbe(Tally& tally, int id = 0) : tally_(tally), id_(id) {}

    void Cleanup() override
    {
        ++tally_.cleanups;
        if (touchSelfInCleanup) {
            AddRef();
            Release();
        }
        if (failCleanup) throw rtl::Exception("cleanup failed");
    }

    bool failCleanup = false;
    bool touchSelfInCleanup = false;

protected:
    ~TProbe() override
    {
        ++tally_.destroyed;
        tally_.order.push_back(id_);
    }

private:
    Tally& tally_;
    int id_;
};

// Holds a reference on another probe and drops it in Cleanup.
class TOwnerProbe : public TProbe {
public:
    TOwnerProbe(Tally& tally, TProbe* child) : TProbe(tally) { AddRefAssign(child_, child); }
    void Cleanup() override
    {
        TProbe::Cleanup();
        ReleaseObj(child_);
    }

private:
    TProbe* child_ = nullptr;
};

// A counted object that is not a TRefObject.
class TOtherCounted : public rtl::RefCounted {
public:
    explicit TOtherCounted(int& destroyed) : destroyed_(destroyed) {}

protected:
    ~TOtherCounted() override { ++destroyed_; }

private:
    int& destroyed_;
};

// An uncounted object.
struct TPlain {
    explicit TPlain(int& destroyed) : destroyed_(destroyed) {}
    ~TPlain() { ++destroyed_; }
    int& destroyed_;
};

// The message of the exception of type E that f raises.
using testing_support::RaisedMessage;

// ---- TRefObject -------------------------------------------------------------

TEST(TRefObjectLifetime, NewObjectBelongsToNobodyAndDiesOnLastRelease)
{
    Tally tally;
    TProbe* obj = new TProbe(tally);
    EXPECT_EQ(obj->RefCount(), 0);

    TProbe* holder = nullptr;
    AddRefAssign(holder, obj);
    EXPECT_EQ(holder, obj);
    EXPECT_EQ(obj->RefCount(), 1);
    EXPECT_EQ(tally.destroyed, 0);

    ReleaseObj(holder);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(tally.destroyed, 1);
    EXPECT_EQ(tally.cleanups, 1) << "destruction runs the descendant's Cleanup";
}

TEST(TRefObjectLifetime, UsualPatternLeavesTheListsReferenceOnly)
{
    Tally tally;
    {
        TRefObjectList list;
        TProbe* temp = nullptr;
        AddRefAssign(temp, new TProbe(tally));
        list.Add(temp);
        EXPECT_EQ(temp->RefCount(), 2);
        ReleaseIfAssigned(temp);
        EXPECT_NE(temp, nullptr) << "the caller's variable keeps its value";
        EXPECT_EQ(list.Get(0)->RefCount(), 1);
        EXPECT_EQ(tally.destroyed, 0);
    }
    EXPECT_EQ(tally.destroyed, 1);
}

TEST(TRefObjectLifetime, DestructionSurvivesCleanupThatFailsOrTouchesTheCount)
{
    struct Case {
        const char* name;
        bool fail;
        bool touch;
    };
    const Case cases[] = {
        {"cleanup raises", true, false},
        {"cleanup takes and drops a reference on the dying object", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally tally;
        auto* obj = new TProbe(tally);
        obj->failCleanup = c.fail;
        obj->touchSelfInCleanup = c.touch;
        TProbe* holder = nullptr;
        AddRefAssign(holder, obj);
        EXPECT_NO_THROW(ReleaseObj(holder));
        EXPECT_EQ(tally.destroyed, 1);
        EXPECT_EQ(tally.cleanups, 1);
    }
}

TEST(TRefObjectLifetime, FreeingDirectlyOnlyAtCountZero)
{
    Tally tally;
    TProbe* holder = nullptr;
    AddRefAssign(holder, new TProbe(tally));
    EXPECT_EQ(RaisedMessage<rtl::EInvalidPointer>([&] { rtl::RefCounted::Free(holder); }),
              "Invalid pointer operation");
    EXPECT_EQ(holder->RefCount(), 1);
    EXPECT_EQ(tally.destroyed, 0);
    ReleaseObj(holder);

    Tally fresh;
    rtl::RefCounted::Free(new TProbe(fresh));
    EXPECT_EQ(fresh.destroyed, 1);
    EXPECT_EQ(fresh.cleanups, 1);
}

TEST(TRefObjectDescribe, KindsAppendNamesValuesOrNothing)
{
    struct Case {
        const char* name;
        std::uint8_t kind;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"kind 0 appends the property names", 0, {"first", "RefCount"}},
        {"kind 1 appends the count in decimal", 1, {"first", "12"}},
        {"other kinds append nothing", 2, {"first"}},
    };
    Tally tally;
    rtl::RefPtr<TProbe> obj(new TProbe(tally));
    std::vector<rtl::RefPtr<TProbe>> more(11, obj);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> strings{"first"};
        obj->DescribeTo(c.kind, strings);
        EXPECT_EQ(strings, c.expected);
    }
}

// ---- free routines ----------------------------------------------------------

TEST(FreeRoutines, NullVariablesStayNullAndNothingHappens)
{
    TProbe* probe = nullptr;
    TPlain* plain = nullptr;
    EXPECT_NO_THROW(ReleaseObj(probe));
    EXPECT_NO_THROW(FreeObj(probe));
    EXPECT_NO_THROW(ReleaseIfAssigned(probe));
    EXPECT_NO_THROW(AddRefAssign(probe, nullptr));
    EXPECT_NO_THROW(ReleaseObj(plain));
    EXPECT_NO_THROW(FreeObj(plain));
    EXPECT_EQ(probe, nullptr);
    EXPECT_EQ(plain, nullptr);
}

TEST(FreeRoutines, UnreferencedObjectIsAnAssertionAndNothingChanges)
{
    struct Case {
        const char* name;
        std::function<void(TProbe*&)> call;
    };
    const Case cases[] = {
        {"ReleaseObj", [](TProbe*& p) { ReleaseObj(p); }},
        {"FreeObj", [](TProbe*& p) { FreeObj(p); }},
        {"AddRefAssign over an unreferenced target", [](TProbe*& p) { AddRefAssign(p, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally tally;
        auto* const obj = new TProbe(tally);
        TProbe* var = obj;
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { c.call(var); }), StartsWith(kNotInitialised));
        EXPECT_EQ(var, obj);
        EXPECT_EQ(obj->RefCount(), 0);
        EXPECT_EQ(tally.cleanups, 0);
        EXPECT_EQ(tally.destroyed, 0);
        rtl::RefCounted::Free(obj);
    }

    int destroyed = 0;
    auto* const other = new TOtherCounted(destroyed);
    TOtherCounted* var = other;
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { ReleaseObj(var); }), StartsWith(kNotInitialised));
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { FreeObj(var); }), StartsWith(kNotInitialised));
    EXPECT_EQ(var, other);
    EXPECT_EQ(destroyed, 0);
    rtl::RefCounted::Free(other);
}

TEST(FreeRoutines, PlainObjectIsForgottenByReleaseAndDeletedByFree)
{
    int destroyed = 0;
    TPlain* const obj = new TPlain(destroyed);
    TPlain* var = obj;
    ReleaseObj(var);
    EXPECT_EQ(var, nullptr);
    EXPECT_EQ(destroyed, 0);

    var = obj;
    FreeObj(var);
    EXPECT_EQ(var, nullptr);
    EXPECT_EQ(destroyed, 1);

    TPlain* other = nullptr;
    TPlain stackObj(destroyed);
    AddRefAssign(other, &stackObj);
    EXPECT_EQ(other, &stackObj);
}

TEST(FreeRoutines, AddRefAssignDropsWhatTheTargetHeld)
{
    Tally tally;
    auto* const first = new TProbe(tally, 1);
    auto* const second = new TProbe(tally, 2);
    TProbe* var = nullptr;

    AddRefAssign(var, first);
    AddRefAssign(var, second);
    EXPECT_EQ(var, second);
    EXPECT_EQ(second->RefCount(), 1);
    EXPECT_THAT(tally.order, ElementsAre(1)) << "the old target is released";

    AddRefAssign(var, second);
    EXPECT_EQ(second->RefCount(), 1) << "assigning the object already held keeps it";
    EXPECT_EQ(tally.destroyed, 1);

    AddRefAssign(var, nullptr);
    EXPECT_EQ(var, nullptr);
    EXPECT_THAT(tally.order, ElementsAre(1, 2));
}

TEST(FreeRoutines, AddRefAssignKeepsAnObjectOnlyTheOldTargetHeld)
{
    Tally tally;
    auto* const child = new TProbe(tally, 1);
    TProbe* var = nullptr;
    AddRefAssign(var, new TOwnerProbe(tally, child));
    EXPECT_EQ(child->RefCount(), 1);

    AddRefAssign(var, child);  // the owner dies and drops its reference on child
    EXPECT_EQ(var, child);
    EXPECT_EQ(child->RefCount(), 1);
    EXPECT_THAT(tally.order, ElementsAre(0));
    ReleaseObj(var);
    EXPECT_THAT(tally.order, ElementsAre(0, 1));
}

TEST(FreeRoutines, FreeObjDiscardsASoleHeldObject)
{
    Tally tally;
    TProbe* var = nullptr;
    AddRefAssign(var, new TProbe(tally));
    FreeObj(var);
    EXPECT_EQ(var, nullptr);
    EXPECT_EQ(tally.destroyed, 1);
    EXPECT_EQ(tally.cleanups, 2) << "once by FreeObj, once by destruction";
}

TEST(FreeRoutines, FreeObjRefusesAnObjectOthersStillHold)
{
    Tally tally;
    TProbe* mine = nullptr;
    TProbe* theirs = nullptr;
    AddRefAssign(mine, new TProbe(tally));
    AddRefAssign(theirs, mine);

    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { FreeObj(mine); }), StartsWith(kStillReferenced));
    EXPECT_EQ(mine, theirs);
    EXPECT_EQ(theirs->RefCount(), 2);
    EXPECT_EQ(tally.cleanups, 0);

    ReleaseObj(mine);
    ReleaseObj(theirs);
    EXPECT_EQ(tally.destroyed, 1);
}

TEST(FreeRoutines, FreeObjPassesACleanupFailureOnAndKeepsTheReference)
{
    Tally tally;
    TProbe* var = nullptr;
    AddRefAssign(var, new TProbe(tally));
    TProbe* const obj = var;
    obj->failCleanup = true;

    EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { FreeObj(var); }), "cleanup failed");
    EXPECT_EQ(var, obj);
    EXPECT_EQ(obj->RefCount(), 1);
    EXPECT_EQ(tally.destroyed, 0);

    ReleaseObj(var);
    EXPECT_EQ(tally.destroyed, 1);
}

TEST(FreeRoutines, OtherCountedObjectsLoseOneReference)
{
    struct Case {
        const char* name;
        std::function<void(TOtherCounted*&)> call;
        bool clearsVariable;
    };
    const Case cases[] = {
        {"ReleaseObj", [](TOtherCounted*& p) { ReleaseObj(p); }, true},
        {"FreeObj", [](TOtherCounted*& p) { FreeObj(p); }, true},
        {"ReleaseIfAssigned", [](TOtherCounted*& p) { ReleaseIfAssigned(p); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int destroyed = 0;
        rtl::RefPtr<TOtherCounted> keep(new TOtherCounted(destroyed));
        TOtherCounted* var = nullptr;
        AddRefAssign(var, keep.get());
        EXPECT_EQ(keep->RefCount(), 2);
        c.call(var);
        EXPECT_EQ(keep->RefCount(), 1);
        EXPECT_EQ(var == nullptr, c.clearsVariable);
        EXPECT_EQ(destroyed, 0);
        keep = nullptr;
        EXPECT_EQ(destroyed, 1);
    }
}

// ---- TRefObjectList ---------------------------------------------------------

// Records, for every deletion it is told of, whether the item was still in
// the list and how many items the list had.
class TWatchedList : public TRefObjectList {
public:
    using TRefObjectList::TRefObjectList;
    std::vector<int> indexAtRemoval;
    std::vector<int> countAtRemoval;

protected:
    void ItemRemoved(TRefObject* item) override
    {
        indexAtRemoval.push_back(IndexOf(item));
        countAtRemoval.push_back(Count());
        TRefObjectList::ItemRemoved(item);
    }
};

class RefObjectListTest : public ::testing::Test {
protected:
    // A probe held by the test (count 1) until the fixture ends.
    TProbe* Held(int id = 0)
    {
        held_.emplace_back(new TProbe(tally, id));
        return held_.back().get();
    }
    Tally tally;

private:
    std::vector<rtl::RefPtr<TProbe>> held_;
};

TEST_F(RefObjectListTest, AddTakesOneReferencePerEntryAndNoneForNull)
{
    TRefObjectList list;
    TProbe* const obj = Held();
    EXPECT_EQ(list.Add(obj), 0);
    EXPECT_EQ(list.Add(obj), 1);
    EXPECT_EQ(list.Add(nullptr), 2);
    EXPECT_EQ(obj->RefCount(), 3);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Get(2), nullptr);
}

TEST_F(RefObjectListTest, LeavingTheListDropsItsReferenceExceptByExtraction)
{
    struct Case {
        const char* name;
        std::function<void(TRefObjectList&, TProbe*)> leave;
        int countAfter;
    };
    const Case cases[] = {
        {"Delete", [](TRefObjectList& l, TProbe*) { l.Delete(0); }, 1},
        {"Remove", [](TRefObjectList& l, TProbe* p) { EXPECT_EQ(l.Remove(p), 0); }, 1},
        {"Put nullptr", [](TRefObjectList& l, TProbe*) { l.Put(0, nullptr); }, 1},
        {"SetCount lower", [](TRefObjectList& l, TProbe*) { l.SetCount(0); }, 1},
        {"Clear", [](TRefObjectList& l, TProbe*) { l.Clear(); }, 1},
        {"Extract hands the list's reference over", [](TRefObjectList& l, TProbe* p) { EXPECT_EQ(l.Extract(p), p); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefObjectList list;
        TProbe* const obj = Held();
        list.Add(obj);
        c.leave(list, obj);
        EXPECT_EQ(list.IndexOf(obj), -1);
        EXPECT_EQ(obj->RefCount(), c.countAfter);
        if (c.countAfter == 2) obj->Release();
    }
}

TEST_F(RefObjectListTest, DeletionIsReportedAfterTheItemLeftTheList)
{
    TWatchedList list;
    list.Add(Held(1));
    list.Add(Held(2));
    list.Delete(0);
    list.SetCount(0);
    EXPECT_THAT(list.indexAtRemoval, ElementsAre(-1, -1));
    EXPECT_THAT(list.countAtRemoval, ElementsAre(1, 0));
}

TEST_F(RefObjectListTest, ClearingAndDestroyingGoFromLastToFirst)
{
    const std::function<void(std::unique_ptr<TRefObjectList>&)> ends[] = {
        [](std::unique_ptr<TRefObjectList>& l) { l->Clear(); },
        [](std::unique_ptr<TRefObjectList>& l) { l.reset(); },
    };
    for (const auto& end : ends) {
        Tally local;
        auto list = std::make_unique<TRefObjectList>();
        for (int id = 1; id <= 3; ++id) list->Add(new TProbe(local, id));
        end(list);
        EXPECT_THAT(local.order, ElementsAre(3, 2, 1));
    }
}

TEST_F(RefObjectListTest, OwningListDiscardsWithCleanupOthersRelease)
{
    struct Case {
        const char* name;
        bool owns;
        int cleanups;
    };
    const Case cases[] = {
        {"owning list: FreeObj, then destruction", true, 2},
        {"plain list: destruction only", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally local;
        TRefObjectList list(c.owns);
        EXPECT_EQ(list.OwnsObjects(), c.owns);
        list.Add(new TProbe(local));
        list.Delete(0);
        EXPECT_EQ(local.destroyed, 1);
        EXPECT_EQ(local.cleanups, c.cleanups);
    }
}

TEST_F(RefObjectListTest, OwningListWithASharedItemDropsOnlyItsReference)
{
    TProbe* const shared = Held();
    {
        TRefObjectList list(true);
        list.Add(shared);
        list.Add(shared);
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { list.Delete(0); }), StartsWith(kStillReferenced));
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(shared->RefCount(), 2);
    }  // the destructor meets the same refusal and must not raise
    EXPECT_EQ(shared->RefCount(), 1);
    EXPECT_EQ(tally.cleanups, 0);
    EXPECT_EQ(tally.destroyed, 0);
}

TEST_F(RefObjectListTest, OwningListPassesACleanupFailureOnButLetsTheItemGo)
{
    Tally local;
    TRefObjectList list(true);
    auto* const obj = new TProbe(local);
    obj->failCleanup = true;
    list.Add(obj);
    EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { list.Delete(0); }), "cleanup failed");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(local.destroyed, 1);
}

TEST_F(RefObjectListTest, PutReplacesAndLeavesTheSameItemAlone)
{
    Tally local;  // outlives the list
    TRefObjectList list;
    TProbe* const first = Held(1);
    TProbe* const second = Held(2);
    list.Add(first);

    list.Put(0, first);
    EXPECT_EQ(first->RefCount(), 2);

    list.Put(0, second);
    EXPECT_EQ(list.Get(0), second);
    EXPECT_EQ(first->RefCount(), 1);
    EXPECT_EQ(second->RefCount(), 2);

    // The new item is referenced before the old one goes.
    auto* const child = new TProbe(local, 1);
    list.Put(0, new TOwnerProbe(local, child));
    list.Put(0, child);
    EXPECT_THAT(local.order, ElementsAre(0));
    EXPECT_EQ(child->RefCount(), 1);
}

TEST_F(RefObjectListTest, InsertRemoveAndSearch)
{
    TRefObjectList list;
    TProbe* const a = Held(1);
    TProbe* const b = Held(2);
    TProbe* const c = Held(3);
    list.Add(a);
    list.Add(c);
    list.Insert(1, b);
    list.Insert(3, nullptr);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Get(1), b);
    EXPECT_EQ(list.IndexOf(c), 2);
    EXPECT_EQ(list.IndexOf(nullptr), 3);
    EXPECT_EQ(b->RefCount(), 2);

    TProbe* const absent = Held(4);
    EXPECT_EQ(list.Remove(absent), -1);
    EXPECT_EQ(list.Extract(absent), nullptr);
    EXPECT_EQ(absent->RefCount(), 1);

    list.SetCount(6);
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(list.Get(5), nullptr);
}

TEST_F(RefObjectListTest, IndexesOutsideTheListAreListErrors)
{
    struct Case {
        const char* name;
        std::function<void(TRefObjectList&, TProbe*)> call;
        const char* message;
    };
    const Case cases[] = {
        {"Get below", [](TRefObjectList& l, TProbe*) { l.Get(-1); }, "List index out of bounds (-1)"},
        {"Get at Count", [](TRefObjectList& l, TProbe*) { l.Get(2); }, "List index out of bounds (2)"},
        {"Delete at Count", [](TRefObjectList& l, TProbe*) { l.Delete(2); }, "List index out of bounds (2)"},
        {"Put at Count", [](TRefObjectList& l, TProbe* p) { l.Put(2, p); }, "List index out of bounds (2)"},
        {"Insert past Count", [](TRefObjectList& l, TProbe* p) { l.Insert(3, p); }, "List index out of bounds (3)"},
        {"Insert below", [](TRefObjectList& l, TProbe* p) { l.Insert(-1, p); }, "List index out of bounds (-1)"},
        {"SetCount below 0", [](TRefObjectList& l, TProbe*) { l.SetCount(-1); }, "List count out of bounds (-1)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRefObjectList list;
        list.Add(Held());
        list.Add(Held());
        TProbe* const extra = Held();
        EXPECT_EQ(RaisedMessage<rtl::EListError>([&] { c.call(list, extra); }), c.message);
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(extra->RefCount(), 1) << "a refused item gets no reference";
    }
}

TEST_F(RefObjectListTest, TypedListHandsOutTheDescendant)
{
    TRefObjectListOf<TProbe> list;
    TProbe* const obj = Held(7);
    list.Add(obj);
    TProbe* const got = list.Get(0);
    EXPECT_EQ(got, obj);
    EXPECT_EQ(list.IndexOf(obj), 0);
    TProbe* taken = list.Extract(obj);
    EXPECT_EQ(taken, obj);
    EXPECT_EQ(obj->RefCount(), 2);
    ReleaseObj(taken);
}

} // namespace
