// Reference-counted objects and the list that holds one reference per item:
// the checks of the free routines, destruction with Cleanup, and the list's
// operations with their added / deleted / extracted notifications.
#include "CoreLib/RefObjects.h"

#include <charconv>

#include "CoreLib/XLists.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

const char* const SObjectNotInitialized = "Объект не инициализирован.";
const char* const SObjectStillReferenced = "Object is still referenced";
const char* const SListCountError = "List count out of bounds (%d)";

} // namespace

// ---- TRefObject ---------------------------------------------------------------

void TRefObject::Cleanup() {}

void TRefObject::DescribeTo(std::uint8_t kind, std::vector<std::string>& strings) const
{
    switch (kind) {
    case 0:
        strings.emplace_back("RefCount");
        break;
    case 1: {
        char buf[16];
        const auto res = std::to_chars(buf, buf + sizeof buf, RefCount());
        strings.emplace_back(buf, res.ptr);
        break;
    }
    default:
        break;
    }
}

void TRefObject::operator delete(TRefObject* obj, std::destroying_delete_t) noexcept
{
    void* const block = dynamic_cast<void*>(obj);
    // The count is 0 here; the reference taken for Cleanup keeps a release
    // made inside Cleanup from destroying the object a second time.
    obj->AddRef();
    try {
        obj->Cleanup();
    } catch (...) {
        // Destruction cannot fail; the object goes anyway.
    }
    obj->~TRefObject();
    ::operator delete(block);
}

// ---- free routines --------------------------------------------------------

namespace refobjects_detail {

void CheckReferenced(const rtl::RefCounted* obj)
{
    RTL_ASSERT(obj->RefCount() >= 1, SObjectNotInitialized);
}

void AssignReference(const rtl::RefCounted* oldObj, const rtl::RefCounted* newObj)
{
    if (oldObj) CheckReferenced(oldObj);
    if (newObj) newObj->AddRef();
}

void PrepareFree(rtl::RefCounted* obj)
{
    CheckReferenced(obj);
    auto* const ref = dynamic_cast<TRefObject*>(obj);
    if (!ref) return;
    RTL_ASSERT(ref->RefCount() == 1, SObjectStillReferenced);
    ref->AddRef();
    try {
        ref->Cleanup();
    } catch (...) {
        ref->Release();
        throw;
    }
    ref->Release();
}

} // namespace refobjects_detail

// ---- TRefObjectList ---------------------------------------------------------

TRefObjectList::~TRefObjectList()
{
    while (!items_.empty()) {
        TRefObject* const item = items_.back();
        items_.pop_back();
        if (!item) continue;
        try {
            ReportDeleted(item);
        } catch (...) {
            // No exception leaves a destructor; the next item goes too.
        }
    }
}

void TRefObjectList::ReportDeleted(TRefObject* item)
{
    try {
        Notify(item, TListNotification::Deleted);
    } catch (...) {
        // An owned item that others still hold, or whose Cleanup failed: the
        // item has left the list, so the list's reference goes all the same.
        if (item->RefCount() > 0) item->Release();
        throw;
    }
}

void TRefObjectList::CheckIndex(int index) const
{
    CheckListIndex(index, Count());
}

int TRefObjectList::Add(TRefObject* item)
{
    const int index = Count();
    items_.push_back(item);
    if (item) Notify(item, TListNotification::Added);
    return index;
}

void TRefObjectList::Insert(int index, TRefObject* item)
{
    if (index < 0 || index > Count()) RaiseListIndexError(index);
    items_.insert(items_.begin() + index, item);
    if (item) Notify(item, TListNotification::Added);
}

void TRefObjectList::Delete(int index)
{
    CheckIndex(index);
    TRefObject* const item = items_[index];
    items_.erase(items_.begin() + index);
    if (item) ReportDeleted(item);
}

int TRefObjectList::Remove(const TRefObject* item)
{
    const int index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
}

TRefObject* TRefObjectList::Extract(const TRefObject* item)
{
    const int index = IndexOf(item);
    if (index < 0) return nullptr;
    TRefObject* const found = items_[index];
    items_.erase(items_.begin() + index);
    if (found) Notify(found, TListNotification::Extracted);
    return found;
}

void TRefObjectList::Clear()
{
    SetCount(0);
    items_.shrink_to_fit();
}

void TRefObjectList::SetCount(int newCount)
{
    if (newCount < 0) throw rtl::EListError(rtl::Format(SListCountError, newCount));
    // Count is read again on every round: a deleted item may change the list.
    while (Count() > newCount) Delete(Count() - 1);
    if (Count() < newCount) items_.resize(static_cast<std::size_t>(newCount), nullptr);
}

TRefObject* TRefObjectList::Get(int index) const
{
    CheckIndex(index);
    return items_[index];
}

void TRefObjectList::Put(int index, TRefObject* item)
{
    CheckIndex(index);
    TRefObject* const old = items_[index];
    if (old == item) return;
    items_[index] = item;
    if (item) Notify(item, TListNotification::Added);
    if (old) ReportDeleted(old);
}

int TRefObjectList::IndexOf(const TRefObject* item) const noexcept
{
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] == item) return static_cast<int>(i);
    }
    return -1;
}

void TRefObjectList::Notify(TRefObject* item, TListNotification action)
{
    switch (action) {
    case TListNotification::Added:
        ItemAdded(item);
        break;
    case TListNotification::Deleted:
        ItemRemoved(item);
        break;
    case TListNotification::Extracted:
        break;
    }
}

void TRefObjectList::ItemAdded(TRefObject* item)
{
    item->AddRef();
}

void TRefObjectList::ItemRemoved(TRefObject* item)
{
    if (ownsObjects_)
        FreeObj(item);
    else
        ReleaseObj(item);
}
