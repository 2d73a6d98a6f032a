// Reference-counted objects shared by explicit add-reference and release, and
// the list that holds one reference for each of its items.
//
// TRefObject is the base of every data-model object: it starts with count 0,
// belongs to nobody until somebody takes a reference, and dies on the release
// that takes its count from 1 to 0, running its Cleanup hook first. The free
// routines AddRefAssign, ReleaseObj, ReleaseIfAssigned and FreeObj are the way
// the program takes and drops references on such objects; they also accept
// plain (uncounted) objects, which ReleaseObj only forgets and FreeObj deletes.
// TRefObjectList takes a reference on every item that enters it and drops it
// (FreeObj or ReleaseObj) when the item is deleted; an extracted item keeps
// the list's reference, which passes to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/rtl/RefCounted.h"

class TRefObject : public virtual rtl::RefCounted {
public:
    TRefObject() noexcept = default;

    // Drops what the object holds. Runs when the object is discarded by
    // FreeObj and again when it is destroyed, so an override must tolerate a
    // second call.
    virtual void Cleanup();
    // Kind 0 appends the property names ("RefCount"), kind 1 their values in
    // the same order; any other kind appends nothing.
    virtual void DescribeTo(std::uint8_t kind, std::vector<std::string>& strings) const;

    // Destruction runs Cleanup while the whole object (its descendant parts
    // included) is still alive: the destroying delete below replaces the
    // plain destructor call of `delete`. An exception from Cleanup is
    // swallowed there. Descendants must not be over-aligned.
    static void operator delete(TRefObject* obj, std::destroying_delete_t) noexcept;
    // The pair used by `new` (and by its clean-up when a constructor throws).
    static void* operator new(std::size_t size) { return ::operator new(size); }
    static void operator delete(void* p) noexcept { ::operator delete(p); }

protected:
    ~TRefObject() override = default;
};

namespace refobjects_detail {

template <class T>
inline constexpr bool kCounted = std::is_base_of_v<rtl::RefCounted, T>;

// "Объект не инициализирован." unless the count is at least 1.
void CheckReferenced(const rtl::RefCounted* obj);
// AddRefAssign's first step: checks that the old value is referenced, then
// takes a reference on the new one.
void AssignReference(const rtl::RefCounted* oldObj, const rtl::RefCounted* newObj);
// FreeObj's work before the caller's reference is dropped: the checks, and
// for a TRefObject its Cleanup under a temporary reference.
void PrepareFree(rtl::RefCounted* obj);

} // namespace refobjects_detail

// Takes a reference on obj (when counted), stores it in dest and then drops
// the reference dest held before, so assigning the object already held is
// safe. dest must hold nullptr or an object it has a reference on.
template <class T, class U>
void AddRefAssign(T*& dest, U* obj)
{
    static_assert(std::is_convertible_v<U*, T*>, "AddRefAssign: incompatible pointer types");
    T* const old = dest;
    if constexpr (refobjects_detail::kCounted<T>) {
        refobjects_detail::AssignReference(old, obj);
        dest = obj;
        if (old) old->Release();
    } else {
        dest = obj;
    }
}

template <class T>
void AddRefAssign(T*& dest, std::nullptr_t)
{
    AddRefAssign(dest, static_cast<T*>(nullptr));
}

// Drops one reference on a counted object (destroying it at 0) and clears the
// variable; a plain object is only forgotten. Nothing changes when the count
// is below 1: the assertion "Объект не инициализирован." is raised.
template <class T>
void ReleaseObj(T*& obj)
{
    T* const p = obj;
    if constexpr (refobjects_detail::kCounted<T>) {
        if (p) refobjects_detail::CheckReferenced(p);
        obj = nullptr;
        if (p) p->Release();
    } else {
        obj = nullptr;
    }
}

// Drops one reference when obj is not nullptr; the caller's variable keeps
// its value.
template <class T>
void ReleaseIfAssigned(T* obj)
{
    static_assert(refobjects_detail::kCounted<T>, "ReleaseIfAssigned needs a reference-counted object");
    if (obj) obj->Release();
}

// The discarding release of an owning list. A TRefObject must be held by the
// caller alone ("Object is still referenced" otherwise, raised before
// anything changes); its Cleanup runs, then the caller's reference is dropped,
// which destroys it. When Cleanup raises, the exception passes on and the
// caller keeps its reference and its variable. Another counted object loses
// one reference; a plain object is deleted. The variable is cleared.
template <class T>
void FreeObj(T*& obj)
{
    T* const p = obj;
    if (!p) return;
    if constexpr (refobjects_detail::kCounted<T>) {
        refobjects_detail::PrepareFree(const_cast<std::remove_const_t<T>*>(p));
        obj = nullptr;
        p->Release();
    } else {
        obj = nullptr;
        delete p;
    }
}

// A list of TRefObject pointers holding one reference per non-null item.
// Indexes outside the list raise rtl::EListError.
class TRefObjectList {
public:
    explicit TRefObjectList(bool ownsObjects = false) noexcept : ownsObjects_(ownsObjects) {}
    // Deletes the items from the last to the first.
    virtual ~TRefObjectList();
    TRefObjectList(const TRefObjectList&) = delete;
    TRefObjectList& operator=(const TRefObjectList&) = delete;

    int Add(TRefObject* item);
    void Insert(int index, TRefObject* item);
    void Delete(int index);
    // Deletes the first occurrence of item; its former index, or -1.
    int Remove(const TRefObject* item);
    // Takes the first occurrence of item out without dropping the list's
    // reference; item, or nullptr when it is not in the list.
    TRefObject* Extract(const TRefObject* item);
    void Clear();

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // A lower count deletes the items from the last down; a higher one adds
    // nullptr items.
    void SetCount(int newCount);
    TRefObject* Get(int index) const;
    // Stores item at index: a reference is taken on the new item before the
    // old one is deleted; storing the item already there does nothing.
    void Put(int index, TRefObject* item);
    int IndexOf(const TRefObject* item) const noexcept;
    bool OwnsObjects() const noexcept { return ownsObjects_; }

protected:
    enum class TListNotification { Added, Extracted, Deleted };

    // Reports a non-null item entering or leaving the list; a deleted item
    // has already left it.
    virtual void Notify(TRefObject* item, TListNotification action);
    // Takes one reference on the item.
    virtual void ItemAdded(TRefObject* item);
    // FreeObj when the list owns its objects, else ReleaseObj. When it
    // raises, it must leave the list's reference held: the list then drops
    // that reference itself and passes the exception on.
    virtual void ItemRemoved(TRefObject* item);

private:
    void CheckIndex(int index) const;
    void ReportDeleted(TRefObject* item);

    std::vector<TRefObject*> items_;
    const bool ownsObjects_;
};

// TRefObjectList over one descendant class.
template <class T>
class TRefObjectListOf : public TRefObjectList {
    static_assert(std::is_base_of_v<TRefObject, T>, "TRefObjectListOf needs a TRefObject descendant");

public:
    using TRefObjectList::TRefObjectList;

    int Add(T* item) { return TRefObjectList::Add(item); }
    void Insert(int index, T* item) { TRefObjectList::Insert(index, item); }
    int Remove(const T* item) { return TRefObjectList::Remove(item); }
    T* Extract(const T* item) { return static_cast<T*>(TRefObjectList::Extract(item)); }
    T* Get(int index) const { return static_cast<T*>(TRefObjectList::Get(index)); }
    void Put(int index, T* item) { TRefObjectList::Put(index, item); }
    int IndexOf(const T* item) const noexcept { return TRefObjectList::IndexOf(item); }
};
