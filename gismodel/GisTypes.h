// Name tables of the GIS enumerations: for each enumeration the names of its
// values, indexed by the ordinal value. They are the model's vocabulary
// (what a value is called in texts), not read by any operation here.
#pragma once

#include <array>

extern const std::array<const char*, 2> LinkTypeNames;
extern const std::array<const char*, 3> HorzAlignNames;
extern const std::array<const char*, 3> VertAlignNames;
extern const std::array<const char*, 9> StyleElementNames;
extern const std::array<const char*, 4> DrawOrderNames;
extern const std::array<const char*, 2> SegmentKindNames;
extern const std::array<const char*, 3> ConnectKindNames;
