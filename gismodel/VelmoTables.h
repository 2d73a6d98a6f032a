// Name macros of the Velmo system tables: the 40 pairs {macro, name} that
// stand for the 24 table names and 16 column names of the spatial database.
//
// The first 24 pairs name tables, the last 16 name columns. "{AddonData}"
// occurs twice (a table, then a column), so a search from the front meets the
// table first. The table is vocabulary of the model; nothing in the program
// substitutes macros.
#pragma once

#include <array>

// The names of the 24 system tables, each named after its macro.
namespace VelmoTable {
inline constexpr const char* DbInfo = "VELMO_DBINFO";
inline constexpr const char* Projects = "VELMO_PROJECTS";
inline constexpr const char* ProjectContents = "VELMO_PROJMAPS";
inline constexpr const char* Areas = "VELMO_AREAS";
inline constexpr const char* Maps = "VELMO_MAPS";
inline constexpr const char* RasterMaps = "VELMO_RASTMAPS";
inline constexpr const char* Rasters = "VELMO_RASTERS";
inline constexpr const char* Layers = "VELMO_LAYERS";
inline constexpr const char* Styles = "VELMO_STYLES";
inline constexpr const char* SemTables = "VELMO_SEMTABLS";
inline constexpr const char* Relations = "VELMO_RELATION";
inline constexpr const char* Sectors = "VELMO_SECTORS";
inline constexpr const char* ObjInfo = "VELMO_OBJINFO";
inline constexpr const char* RefBooks = "VELMO_REFBOOKS";
inline constexpr const char* TopoLinks = "VELMO_LINKS";
inline constexpr const char* AddonData = "VELMO_ADDONDAT";
inline constexpr const char* Prefs = "VELMO_PREFS";
inline constexpr const char* Users = "VELMO_USERS";
inline constexpr const char* Groups = "VELMO_USERGRPS";
inline constexpr const char* GroupMembers = "VELMO_USR_GRP";
inline constexpr const char* AccessRights = "VELMO_ACL";
inline constexpr const char* Themes = "VELMO_THEMES";
inline constexpr const char* IdMaper = "VELMO_IDMAPER";
inline constexpr const char* Modules = "VELMO_MODULES";
} // namespace VelmoTable

struct TVelmoNameMacro {
    const char* Macro;
    const char* Name;
};

inline constexpr int VelmoTableMacroCount = 24;

extern const std::array<TVelmoNameMacro, 40> VelmoNameMacros;
