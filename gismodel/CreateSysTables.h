// The column and index definitions of the 24 system tables of a Velmo
// spatial database, in their fixed order.
//
// Column types are the access layer's codes (Integer, Float, String,
// Binary); Integer and Float columns have size 0, Binary(0) has no size.
// Every table's first index is its key (primary and unique); the others are
// neither. Index names are empty; an index's fields are joined by ";".
//
// Deployed databases also carry VELMO_IDMAPER.IDCLASS and VELMO_OBJINFO.ID,
// which the change engine writes; these definitions do not list them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "UdbProject/Udbs.h"

struct TSysTableDef {
    std::string Name;
    std::vector<TUdbFieldDef> Fields;
    std::vector<TUdbIndexDef> Indexes;
};

inline constexpr int SysTableCount = 24;

// The definitions, built on first use and kept for the life of the process.
const std::vector<TSysTableDef>& SysTableDefs();
// The definition of the table with exactly that name, nullptr when none.
const TSysTableDef* FindSysTableDef(std::string_view name);
