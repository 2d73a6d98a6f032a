// Small classes of the core library: a group of controls switched together,
// observer lists that tolerate changes while they notify, a filter of word
// beginnings and a string builder.
//
// TNotifyList and TNotifyClient know each other: a client keeps one entry in
// Lists for every membership, and both sides unregister from each other when
// either is destroyed, so neither holds a dangling pointer. A client added
// during a notification waits in Pending until the outermost notification
// ends; a client removed during one leaves a nil entry that is swept out then.
//
// Destroying a list while it notifies is refused by TNotifyList::Free with
// the exception "!!!!", leaving the list alive. The C++ destructor never
// raises: when it runs during a notification anyway, it unregisters every
// client and tells the running Notify walks to stop, so they touch nothing
// of the dead list.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What a control offers to a TControlGroup; the Qt controls implement it.
class IControlGroupItem {
public:
    virtual void SetEnabled(bool value) = 0;
    virtual void SetVisible(bool value) = 0;

protected:
    ~IControlGroupItem() = default;
};

// A list of controls that are enabled, shown and hidden together. The items
// are not owned; nullptr items are skipped.
class TControlGroup {
public:
    TControlGroup() = default;
    TControlGroup(const TControlGroup&) = delete;
    TControlGroup& operator=(const TControlGroup&) = delete;

    // Appends each control, in order.
    void AddControls(std::initializer_list<IControlGroupItem*> controls);
    // Sets every item, in list order.
    void SetEnabled(bool value);
    void SetVisible(bool value);

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    IControlGroupItem* Get(int index) const;

private:
    std::vector<IControlGroupItem*> items_;
};

class TNotifyList;

// A member of notify lists; a derived class adds what is to be called.
class TNotifyClient {
public:
    TNotifyClient() = default;
    // Detaches the client from every list.
    virtual ~TNotifyClient();
    TNotifyClient(const TNotifyClient&) = delete;
    TNotifyClient& operator=(const TNotifyClient&) = delete;

    // Removes the client from every list that holds it.
    void DetachAll() noexcept;
    // One entry per membership, in the order the memberships were made.
    const std::vector<TNotifyList*>& Lists() const noexcept { return lists_; }

private:
    friend class TNotifyList;
    std::vector<TNotifyList*> lists_;
};

class TNotifyList {
public:
    TNotifyList() = default;
    // Unregisters from every client (the clients are not freed); never raises.
    ~TNotifyList();
    TNotifyList(const TNotifyList&) = delete;
    TNotifyList& operator=(const TNotifyList&) = delete;

    // Destroys the list held by list; nothing when it is empty. During a
    // notification raises rtl::Exception "!!!!" and the list stays alive.
    static void Free(std::unique_ptr<TNotifyList>& list);

    // Appends client to Pending while a notification runs, else to Clients,
    // and records the membership in the client's Lists.
    void Add(TNotifyClient* client);
    // Ends one membership of client. While a notification runs its first
    // entry in Clients becomes nullptr (so the walk is not disturbed), or,
    // when it has none there, it leaves Pending; otherwise its first entry in
    // Clients is removed. The list's first entry in the client's Lists goes
    // with it. Nothing when client is not a member.
    void Remove(TNotifyClient* client);

    // Starts a notification and returns Clients for the caller to walk: the
    // positions 0 to the count taken now, skipping nullptr entries. Every
    // BeginNotify is paired with one EndNotify.
    const std::vector<TNotifyClient*>& BeginNotify() noexcept;
    // Ends one notification; the outermost one sweeps out the nullptr entries
    // and then appends the Pending clients in the order they were added.
    void EndNotify();

    // BeginNotify, fn(client) for each client of the walk, EndNotify (also
    // when fn raises). A walk stops at once when fn destroys the list.
    template <class Fn>
    void Notify(Fn&& fn);

    const std::vector<TNotifyClient*>& Clients() const noexcept { return clients_; }
    const std::vector<TNotifyClient*>& Pending() const noexcept { return pending_; }
    int LockCount() const noexcept { return lockCount_; }

private:
    friend class TNotifyClient;

    // One running Notify; the destructor marks every running walk.
    struct Walk {
        Walk* outer = nullptr;
        bool listDestroyed = false;
    };
    class WalkScope;

    // Removes the first entry of this list from the client's Lists.
    void ForgetIn(TNotifyClient* client) noexcept;
    // Ends one membership; the client's Lists are left to the caller.
    bool Drop(TNotifyClient* client) noexcept;

    std::vector<TNotifyClient*> clients_;
    std::vector<TNotifyClient*> pending_;
    int lockCount_ = 0;
    Walk* walks_ = nullptr;
};

class TNotifyList::WalkScope {
public:
    explicit WalkScope(TNotifyList& list) noexcept : list_(list)
    {
        walk_.outer = list_.walks_;
        list_.walks_ = &walk_;
        list_.BeginNotify();
    }
    ~WalkScope()
    {
        if (walk_.listDestroyed) return;
        list_.walks_ = walk_.outer;
        try {
            list_.EndNotify();
        } catch (...) {
        }
    }
    WalkScope(const WalkScope&) = delete;
    WalkScope& operator=(const WalkScope&) = delete;
    bool ListDestroyed() const noexcept { return walk_.listDestroyed; }

private:
    TNotifyList& list_;
    Walk walk_;
};

template <class Fn>
void TNotifyList::Notify(Fn&& fn)
{
    WalkScope scope(*this);
    const std::size_t count = clients_.size();
    for (std::size_t i = 0; i < count; ++i) {
        TNotifyClient* const client = clients_[i];
        if (!client) continue;
        fn(*client);
        if (scope.ListDestroyed()) return;
    }
}

// A filter of word beginnings: the filter text is split into words at runs of
// characters with codes up to 32, upper-cased (Latin and Cyrillic); a text
// matches when every word starts a word in it (IsWordInText).
class TWordsFilter {
public:
    explicit TWordsFilter(std::string_view text = {});

    // Nothing when text equals the stored text; otherwise the words are
    // made anew from it.
    void SetText(std::string_view text);
    // True when there are no words, or every word starts a word of the
    // upper-cased s.
    bool Matches(std::string_view s) const;

    const std::string& Text() const noexcept { return text_; }
    const std::vector<std::string>& Words() const noexcept { return words_; }

private:
    std::vector<std::string> words_;
    std::string text_;
};

// A string built by inserts and appends. Positions and Len count characters
// of the UTF-8 text; the buffer (counted in bytes) grows to L + L div 4 when
// the new length L is above 64, L + 16 above 8, else L + 4.
class TStringBuilder {
public:
    TStringBuilder() = default;

    // Empty buffer, Len 0.
    void Init();
    // Inserts s before character position (1-based, clamped to 1..Len + 1).
    void Insert(int position, std::string_view s);
    void Append(std::string_view s);
    std::string ToString() const { return buffer_.substr(0, used_); }

    int Len() const noexcept { return len_; }
    // Bytes the buffer holds, in use or not.
    std::size_t BufferSize() const noexcept { return buffer_.size(); }

private:
    std::string buffer_;
    std::size_t used_ = 0; // bytes in use
    int len_ = 0;          // characters in use
};
