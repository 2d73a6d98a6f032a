// The list of interface languages: "Russian" and "English", the current one
// "Russian". The manager is an owning object list; what it may hold is left
// open (TLangManagerItem). One manager is made when the unit starts and freed
// when it ends.
#pragma once

#include <string>
#include <vector>

#include "CoreLib/XLists.h"

class TLangManagerItem {
public:
    virtual ~TLangManagerItem() = default;
};

class TLangManager : public TObjectList<TLangManagerItem> {
public:
    TLangManager();
    // Languages goes first, then the list's items.
    ~TLangManager() override = default;

    std::vector<std::string> Languages;
    std::string CurrentLanguage;
};

TLangManager& LangManager();
