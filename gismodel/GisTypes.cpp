// The names of the GIS enumeration values, in ordinal order.
#include "gismodel/GisTypes.h"

const std::array<const char*, 2> LinkTypeNames = {"OneToOne", "OneToMany"};
const std::array<const char*, 3> HorzAlignNames = {"Left", "Center", "Right"};
const std::array<const char*, 3> VertAlignNames = {"Bottom", "Center", "Top"};
const std::array<const char*, 9> StyleElementNames = {
    "Symbol", "Outline", "Fill", "SymbolToPrev", "SymbolToNext", "SymbolFirstToNext", "SymbolLastToPrev",
    "FitToRect", "Arrow"};
const std::array<const char*, 4> DrawOrderNames = {"Normal", "AfterLayer", "AfterMap", "AfterAll"};
const std::array<const char*, 2> SegmentKindNames = {"Line", "Arc"};
const std::array<const char*, 3> ConnectKindNames = {"None", "Line", "Arc"};
