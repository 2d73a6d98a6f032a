// The new-identifier rule of a run: which identifiers get a new value from
// the generator, and how many did.
#pragma once

#include <cstdint>
#include <string>

#include "Tools/Parvane/IDGenerators.h"
#include "gismodel/BinIDs.h"

class TNewIDRule {
public:
    explicit TNewIDRule(TIDGenerator& generator) : generator_(generator) {}
    TNewIDRule(const TNewIDRule&) = delete;
    TNewIDRule& operator=(const TNewIDRule&) = delete;

    // The group current when the pair was opened.
    void SetActiveIDGroup(std::int32_t group) noexcept { activeIDGroup_ = group; }
    // A run starts: its option, and nothing changed yet.
    void StartRun(bool onlyCurrentIDs) noexcept
    {
        onlyCurrentIDs_ = onlyCurrentIDs;
        changedCount_ = 0;
    }

    // A 0 identifier (an empty or unreadable text) never gets a new one.
    BinID NewIDFor(BinID oldID, bool& changed);
    void NewIDStrFor(const std::string& oldText, bool& changed, std::string& newText);

    std::int32_t ActiveIDGroup() const noexcept { return activeIDGroup_; }
    std::int32_t ChangedCount() const noexcept { return changedCount_; }

private:
    TIDGenerator& generator_;
    bool onlyCurrentIDs_ = false;
    std::int32_t activeIDGroup_ = 0;
    std::int32_t changedCount_ = 0;
};
