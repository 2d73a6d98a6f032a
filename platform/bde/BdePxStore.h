// The table store over the Paradox file engine (PxDatabase, PxTable): the
// one place where the session/database/table/query objects meet the files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/bde/BdeStore.h"

namespace bde {

class PxFileSystem;

struct TBdePxStoreOptions {
    std::vector<std::string> Passwords; // for encrypted tables
    int DefaultCodePage = 1251;         // for tables whose header names none
    PxFileSystem* FileSystem = nullptr; // nullptr: the real one (tests put a failing one in)
};

// Opens the folder (rolling back what a stopped process left half done);
// the engine's error when the folder does not exist.
std::unique_ptr<IBdeTableStore> BdeOpenPxStore(const std::string& folder, const TBdePxStoreOptions& options = {});

} // namespace bde
