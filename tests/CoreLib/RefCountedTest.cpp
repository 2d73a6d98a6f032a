// Tests of the runtime's intrusive reference count and its smart pointer, as
// the reference-counted objects of the core library rely on them: count 0 at
// birth, destruction on the last release, refusal to free a referenced
// object, one count for an object reached through several interfaces, and
// RefPtr's ownership rules (copy, move, reset, detach, adopt, cast).
#include "platform/rtl/RefCounted.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

namespace {

using rtl::RefCounted;
using rtl::RefPtr;

class TCounted : public virtual RefCounted {
public:
    explicit TCounted(int& destroyed) : destroyed_(destroyed) {}

protected:
    ~TCounted() override { ++destroyed_; }

private:
    int& destroyed_;
};

class IFirst : public virtual RefCounted {
public:
    virtual int First() const = 0;
};
class ISecond : public virtual RefCounted {
public:
    virtual int Second() const = 0;
};
class TBoth : public IFirst, public ISecond {
public:
    explicit TBoth(int& destroyed) : destroyed_(destroyed) {}
    int First() const override { return 1; }
    int Second() const override { return 2; }

protected:
    ~TBoth() override { ++destroyed_; }

private:
    int& destroyed_;
};

// Keeps another object alive until it dies itself.
class TKeeper : public TCounted {
public:
    TKeeper(int& destroyed, RefCounted* kept) : TCounted(destroyed), kept_(kept) {}

private:
    RefPtr<RefCounted> kept_;
};

TEST(RefCountedCount, StartsAtZeroAndDiesOnTheLastRelease)
{
    int destroyed = 0;
    auto* obj = new TCounted(destroyed);
    EXPECT_EQ(obj->RefCount(), 0);
    EXPECT_EQ(obj->AddRef(), 1);
    EXPECT_EQ(obj->AddRef(), 2);
    EXPECT_EQ(obj->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->Release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCountedCount, FreeDestroysOnlyWhatNobodyReferences)
{
    int destroyed = 0;
    auto* obj = new TCounted(destroyed);
    obj->AddRef();
    try {
        RefCounted::Free(obj);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::EInvalidPointer& e) {
        EXPECT_STREQ(e.what(), "Invalid pointer operation");
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(obj->RefCount(), 1);

    obj->Release();
    EXPECT_EQ(destroyed, 1);

    RefCounted::Free(new TCounted(destroyed));
    EXPECT_EQ(destroyed, 2);
    EXPECT_NO_THROW(RefCounted::Free(nullptr));
}

TEST(RefCountedCount, CopiesStartWithACountOfTheirOwn)
{
    int destroyed = 0;
    RefPtr<TCounted> original(new TCounted(destroyed));
    RefPtr<TCounted> second(original);
    RefPtr<TCounted> copy(new TCounted(*original));
    EXPECT_EQ(copy->RefCount(), 1);
    EXPECT_EQ(original->RefCount(), 2);
}

TEST(RefCountedCount, SeveralInterfacesShareOneCount)
{
    int destroyed = 0;
    auto* obj = new TBoth(destroyed);
    {
        RefPtr<IFirst> first(obj);
        RefPtr<ISecond> second(obj);
        EXPECT_EQ(obj->RefCount(), 2);
        EXPECT_EQ(first->RefCount(), second->RefCount());
        first = nullptr;
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(second->Second(), 2);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtrOwnership, ConstructionCopyAndMoveCountReferences)
{
    int destroyed = 0;
    auto* obj = new TCounted(destroyed);
    {
        RefPtr<TCounted> a(obj);
        EXPECT_EQ(obj->RefCount(), 1);
        RefPtr<TCounted> b(a);
        EXPECT_EQ(obj->RefCount(), 2);
        RefPtr<TCounted> c(std::move(b));
        EXPECT_EQ(obj->RefCount(), 2);
        EXPECT_FALSE(b);
        RefPtr<RefCounted> base(c);
        EXPECT_EQ(obj->RefCount(), 3);
        RefPtr<RefCounted> moved(std::move(c));
        EXPECT_EQ(obj->RefCount(), 3);
        EXPECT_TRUE(moved == base);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtrOwnership, AssignmentsReleaseTheOldTarget)
{
    struct Case {
        const char* name;
        void (*assign)(RefPtr<TCounted>& target, RefPtr<TCounted>& source);
        int destroyedAfter;  // of the target's old object
        int sourceCount;     // references on the source's object afterwards
    };
    const Case cases[] = {
        {"copy assignment", [](RefPtr<TCounted>& t, RefPtr<TCounted>& s) { t = s; }, 1, 2},
        {"move assignment", [](RefPtr<TCounted>& t, RefPtr<TCounted>& s) { t = std::move(s); }, 1, 1},
        {"raw pointer", [](RefPtr<TCounted>& t, RefPtr<TCounted>& s) { t = s.get(); }, 1, 2},
        {"self copy", [](RefPtr<TCounted>& t, RefPtr<TCounted>&) { t = *&t; }, 0, 1},
        {"self move", [](RefPtr<TCounted>& t, RefPtr<TCounted>&) { t = std::move(*&t); }, 0, 1},
        {"reset to the same", [](RefPtr<TCounted>& t, RefPtr<TCounted>&) { t.reset(t.get()); }, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int oldDestroyed = 0;
        int newDestroyed = 0;
        RefPtr<TCounted> target(new TCounted(oldDestroyed));
        RefPtr<TCounted> source(new TCounted(newDestroyed));
        TCounted* const sourceObj = source.get();
        c.assign(target, source);
        EXPECT_EQ(oldDestroyed, c.destroyedAfter);
        EXPECT_EQ(newDestroyed, 0);
        EXPECT_EQ(sourceObj->RefCount(), c.sourceCount);
    }
}

TEST(RefPtrOwnership, ResetKeepsAnObjectOnlyTheOldTargetHeld)
{
    int destroyed = 0;
    auto* kept = new TCounted(destroyed);
    RefPtr<TCounted> p(new TKeeper(destroyed, kept));
    p.reset(kept);
    EXPECT_EQ(destroyed, 1) << "only the keeper is gone";
    EXPECT_EQ(kept->RefCount(), 1);
    p.reset();
    EXPECT_EQ(destroyed, 2);
}

TEST(RefPtrOwnership, DetachAndAdoptHandTheReferenceOver)
{
    int destroyed = 0;
    RefPtr<TCounted> p(new TCounted(destroyed));
    TCounted* raw = p.Detach();
    EXPECT_FALSE(p);
    EXPECT_EQ(raw->RefCount(), 1);
    {
        auto q = RefPtr<TCounted>::Adopt(raw);
        EXPECT_EQ(raw->RefCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPtrOwnership, MakeRefAndCast)
{
    int destroyed = 0;
    {
        RefPtr<TBoth> both = rtl::MakeRef<TBoth>(destroyed);
        EXPECT_EQ(both->RefCount(), 1);
        RefPtr<IFirst> first(both);
        RefPtr<ISecond> second = rtl::RefCast<ISecond>(first);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->Second(), 2);
        EXPECT_EQ(both->RefCount(), 3);

        RefPtr<TCounted> none = rtl::RefCast<TCounted>(first);
        EXPECT_FALSE(none);
        EXPECT_TRUE(none == nullptr);
        EXPECT_FALSE(rtl::RefCast<ISecond>(RefPtr<IFirst>()));
    }
    EXPECT_EQ(destroyed, 1);
}

} // namespace
