// The language manager.
#include "CoreLib/LangManagers.h"

TLangManager::TLangManager() : Languages{"Russian", "English"}, CurrentLanguage("Russian") {}

TLangManager& LangManager()
{
    static TLangManager manager;
    return manager;
}

namespace {
// Start-up.
[[maybe_unused]] const TLangManager& startUp = LangManager();
} // namespace
