// Name macros of the Velmo system tables: the 40 pairs {macro, name} that
// stand for the 24 table names and 16 column names of the spatial database.
//
// The first 24 pairs name tables, the last 16 name columns. "{AddonData}"
// occurs twice (a table, then a column), so a search from the front meets the
// table first. The table is vocabulary of the model; nothing in the program
// substitutes macros.
#pragma once

#include <array>

struct TVelmoNameMacro {
    const char* Macro;
    const char* Name;
};

inline constexpr int VelmoTableMacroCount = 24;

extern const std::array<TVelmoNameMacro, 40> VelmoNameMacros;
