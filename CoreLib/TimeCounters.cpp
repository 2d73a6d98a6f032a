// The tree of named counters and the root counter.
#include "CoreLib/TimeCounters.h"

#include <utility>

#include "CoreLib/XLists.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"

TTimeCounter::TTimeCounter(std::string name) : Name(std::move(name)) {}

TTimeCounter::~TTimeCounter()
{
    // Each child takes itself out of children_ as it dies.
    while (!children_.empty()) delete children_.back();
    if (parent_) {
        auto& siblings = parent_->children_;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (*it == this) {
                siblings.erase(it);
                break;
            }
        parent_ = nullptr;
    }
}

TTimeCounter* TTimeCounter::Add(std::unique_ptr<TTimeCounter> child)
{
    RTL_ASSERT(child != nullptr && child->parent_ == nullptr, "Counter not assigned or already held");
    children_.push_back(child.get());
    child->parent_ = this;
    return child.release();
}

void TTimeCounter::Delete(int index)
{
    CheckIndex(index);
    TTimeCounter* child = children_[static_cast<std::size_t>(index)];
    children_.erase(children_.begin() + index);
    child->parent_ = nullptr;
    delete child;
}

TTimeCounter* TTimeCounter::Get(int index) const
{
    CheckIndex(index);
    return children_[static_cast<std::size_t>(index)];
}

int TTimeCounter::IndexOf(const TTimeCounter* child) const noexcept
{
    for (std::size_t i = 0; i < children_.size(); ++i)
        if (children_[i] == child) return static_cast<int>(i);
    return -1;
}

void TTimeCounter::CheckIndex(int index) const
{
    CheckListIndex(index, Count());
}

TTimeCounter& RootTimeCounter()
{
    static TTimeCounter root;
    return root;
}

namespace {
// Start-up.
[[maybe_unused]] const TTimeCounter& startUp = RootTimeCounter();
} // namespace
