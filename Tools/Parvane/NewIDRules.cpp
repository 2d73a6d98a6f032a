// The new-identifier rule.
#include "Tools/Parvane/NewIDRules.h"

BinID TNewIDRule::NewIDFor(BinID oldID, bool& changed)
{
    if (oldID == 0) return oldID; // no identifier, or a text that does not read as one
    if (onlyCurrentIDs_ && SplitBinID(oldID).Group != static_cast<std::uint16_t>(activeIDGroup_)) return oldID;
    const BinID result = generator_.NextID();
    changed = true;
    ++changedCount_;
    return result;
}

void TNewIDRule::NewIDStrFor(const std::string& oldText, bool& changed, std::string& newText)
{
    const BinID oldID = StrToBinID(oldText);
    if (oldID == 0) {
        newText = oldText;
        return;
    }
    newText = BinIDToStr(NewIDFor(oldID, changed));
}
