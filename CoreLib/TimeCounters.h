// A tree of named counters. A counter owns its children: adding one sets its
// Parent, deleting one from its parent clears its Parent and frees it, and a
// counter that is destroyed destroys its children first and then takes
// itself out of its parent's list without the parent freeing it. No time is
// measured. When the unit starts it makes a root counter with an empty name,
// freed when the unit ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TTimeCounter {
public:
    explicit TTimeCounter(std::string name = {});
    virtual ~TTimeCounter();
    TTimeCounter(const TTimeCounter&) = delete;
    TTimeCounter& operator=(const TTimeCounter&) = delete;

    // Takes the counter as the last child; returns it.
    TTimeCounter* Add(std::unique_ptr<TTimeCounter> child);
    // Frees child index (rtl::EListError outside the list).
    void Delete(int index);
    int Count() const noexcept { return static_cast<int>(children_.size()); }
    TTimeCounter* Get(int index) const;
    int IndexOf(const TTimeCounter* child) const noexcept;
    TTimeCounter* Parent() const noexcept { return parent_; }

    std::string Name;

private:
    void CheckIndex(int index) const;

    // Owned; raw so that a child's destructor can take itself out.
    std::vector<TTimeCounter*> children_;
    TTimeCounter* parent_ = nullptr;
};

TTimeCounter& RootTimeCounter();
