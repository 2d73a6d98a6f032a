// Session objects and the process-wide list through which they are found.
#include "platform/bde/BdeSession.h"

#include <algorithm>
#include <mutex>

#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeTypes.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SDuplicateSession = "Duplicate session name \"%s\"";

struct TSessionList {
    std::mutex lock;
    std::vector<TBdeSession*> items;
};

TSessionList& Sessions()
{
    static TSessionList list;
    return list;
}

} // namespace

TBdeSession::TBdeSession()
{
    TSessionList& list = Sessions();
    const std::lock_guard<std::mutex> guard(list.lock);
    list.items.push_back(this);
}

TBdeSession::~TBdeSession()
{
    try {
        Close();
    } catch (...) {
        // A database that fails to disconnect is closed all the same.
    }
    TSessionList& list = Sessions();
    const std::lock_guard<std::mutex> guard(list.lock);
    list.items.erase(std::remove(list.items.begin(), list.items.end(), this), list.items.end());
}

void TBdeSession::SetSessionName(std::string name)
{
    TSessionList& list = Sessions();
    const std::lock_guard<std::mutex> guard(list.lock);
    for (const TBdeSession* s : list.items)
        if (s != this && !name.empty() && rtl::SameText(s->name_, name))
            throw EBdeError(rtl::Format(SDuplicateSession, name.c_str()));
    name_ = std::move(name);
}

void TBdeSession::AddPassword(const std::string& password)
{
    if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end()) passwords_.push_back(password);
}

bool TBdeSession::Active() const
{
    for (const TBdeDatabase* db : TBdeDatabase::OfSession(name_))
        if (db->Connected()) return true;
    return false;
}

void TBdeSession::Close()
{
    for (TBdeDatabase* db : TBdeDatabase::OfSession(name_)) db->Close();
}

TBdeSession* TBdeSession::Find(std::string_view name)
{
    TSessionList& list = Sessions();
    const std::lock_guard<std::mutex> guard(list.lock);
    for (TBdeSession* s : list.items)
        if (rtl::SameText(s->name_, name)) return s;
    return nullptr;
}

} // namespace bde
