// Control groups, observer lists, the word filter and the string builder.
#include "CoreLib/AClasses.h"

#include <algorithm>
#include <limits>

#include "CoreLib/AUtils.h"
#include "CoreLib/XLists.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace {

// Texts of this unit.
constexpr const char* SListDestroyedWhileNotifying = "!!!!";
constexpr const char* SEndNotifyWithoutBegin = "EndNotify without BeginNotify";
constexpr const char* SStringBuilderTooLong = "String too long (TStringBuilder.Insert)";

template <class T>
bool EraseFirst(std::vector<T*>& v, const T* item) noexcept
{
    const auto it = std::find(v.begin(), v.end(), item);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

} // namespace

// ---- TControlGroup ----

void TControlGroup::AddControls(std::initializer_list<IControlGroupItem*> controls)
{
    items_.insert(items_.end(), controls.begin(), controls.end());
}

void TControlGroup::SetEnabled(bool value)
{
    for (IControlGroupItem* item : items_)
        if (item) item->SetEnabled(value);
}

void TControlGroup::SetVisible(bool value)
{
    for (IControlGroupItem* item : items_)
        if (item) item->SetVisible(value);
}

IControlGroupItem* TControlGroup::Get(int index) const
{
    CheckListIndex(index, Count());
    return items_[static_cast<std::size_t>(index)];
}

// ---- TNotifyClient ----

TNotifyClient::~TNotifyClient()
{
    DetachAll();
}

void TNotifyClient::DetachAll() noexcept
{
    while (!lists_.empty()) {
        TNotifyList* const list = lists_.back();
        lists_.pop_back();
        if (list) list->Drop(this);
    }
}

// ---- TNotifyList ----

TNotifyList::~TNotifyList()
{
    for (Walk* w = walks_; w; w = w->outer) w->listDestroyed = true;
    for (TNotifyClient* client : pending_) ForgetIn(client);
    for (TNotifyClient* client : clients_)
        if (client) ForgetIn(client);
}

void TNotifyList::Free(std::unique_ptr<TNotifyList>& list)
{
    if (!list) return;
    if (list->lockCount_ > 0) throw rtl::Exception(SListDestroyedWhileNotifying);
    list.reset();
}

void TNotifyList::Add(TNotifyClient* client)
{
    RTL_ASSERT(client != nullptr, "Client is nil (TNotifyList.Add)");
    std::vector<TNotifyClient*>& target = lockCount_ > 0 ? pending_ : clients_;
    // Make room on both sides first, so that a failure changes nothing.
    target.reserve(target.size() + 1);
    client->lists_.reserve(client->lists_.size() + 1);
    target.push_back(client);
    client->lists_.push_back(this);
}

void TNotifyList::Remove(TNotifyClient* client)
{
    if (client && Drop(client)) ForgetIn(client);
}

bool TNotifyList::Drop(TNotifyClient* client) noexcept
{
    if (lockCount_ > 0) {
        const auto it = std::find(clients_.begin(), clients_.end(), client);
        if (it != clients_.end()) {
            *it = nullptr;
            return true;
        }
        return EraseFirst(pending_, client);
    }
    return EraseFirst(clients_, client);
}

void TNotifyList::ForgetIn(TNotifyClient* client) noexcept
{
    EraseFirst(client->lists_, this);
}

const std::vector<TNotifyClient*>& TNotifyList::BeginNotify() noexcept
{
    ++lockCount_;
    return clients_;
}

void TNotifyList::EndNotify()
{
    RTL_ASSERT(lockCount_ > 0, SEndNotifyWithoutBegin);
    if (--lockCount_ > 0) return;
    clients_.erase(std::remove(clients_.begin(), clients_.end(), nullptr), clients_.end());
    clients_.reserve(clients_.size() + pending_.size());
    clients_.insert(clients_.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

// ---- TWordsFilter ----

TWordsFilter::TWordsFilter(std::string_view text)
{
    if (!text.empty()) SetText(text);
}

void TWordsFilter::SetText(std::string_view text)
{
    if (text == text_) return;
    const std::string upper = rtl::UpperCase(text);
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < upper.size()) {
        while (i < upper.size() && rtl::IsBlankChar(upper[i])) ++i;
        const std::size_t start = i;
        while (i < upper.size() && !rtl::IsBlankChar(upper[i])) ++i;
        if (i > start) words.emplace_back(upper, start, i - start);
    }
    text_.assign(text);
    words_ = std::move(words);
}

bool TWordsFilter::Matches(std::string_view s) const
{
    if (words_.empty()) return true;
    const std::string upper = rtl::UpperCase(s);
    for (const std::string& word : words_)
        if (!IsWordInText(word, upper)) return false;
    return true;
}

// ---- TStringBuilder ----

void TStringBuilder::Init()
{
    buffer_.clear();
    buffer_.shrink_to_fit();
    used_ = 0;
    len_ = 0;
}

void TStringBuilder::Insert(int position, std::string_view s)
{
    if (s.empty()) return;
    const std::size_t added = rtl::Utf8Length(s);
    if (added > static_cast<std::size_t>(std::numeric_limits<int>::max() - len_))
        throw rtl::Exception(SStringBuilderTooLong);
    const std::size_t newUsed = used_ + s.size();
    if (buffer_.size() < newUsed) {
        const std::size_t step = newUsed > 64 ? newUsed / 4 : newUsed > 8 ? 16 : 4;
        buffer_.resize(newUsed + step);
    }
    // Byte offset of the character position, clamped to 1..Len + 1.
    std::size_t offset = used_;
    if (position <= 1) {
        offset = 0;
    } else if (position <= len_) {
        offset = 0;
        for (int ch = 1; ch < position; ++ch) rtl::NextUtf8(std::string_view(buffer_).substr(0, used_), offset);
    }
    std::copy_backward(buffer_.begin() + static_cast<std::ptrdiff_t>(offset),
                       buffer_.begin() + static_cast<std::ptrdiff_t>(used_),
                       buffer_.begin() + static_cast<std::ptrdiff_t>(newUsed));
    std::copy(s.begin(), s.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
    used_ = newUsed;
    len_ += static_cast<int>(added);
}

void TStringBuilder::Append(std::string_view s)
{
    Insert(len_ + 1, s);
}
