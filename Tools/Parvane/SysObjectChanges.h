// Mode 1: the chosen system objects get new identifiers, kind by kind in a
// fixed order (parents before their children), with every column of the
// spatial database that refers to them, the style references inside the
// sector blobs and the reference-book references inside the semantic-table
// descriptions.
//
// Units of change: each object is one transaction on the spatial database
// (a raster map with its rasters, a reference book with every description
// that refers to it); the styles of one layer are one transaction together
// with the sectors of that layer. A pair line is logged only once its
// transaction has committed, and the list of chosen objects follows every
// committed change, so a later kind sees the new identifiers of its parents.
// Cancel takes effect between objects (and between style layers and
// rasters); the reference-book pass always finishes its book.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Tools/Parvane/RunContexts.h"
#include "Tools/Parvane/SelectLayers.h"
#include "UdbProject/Udbs.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/RefCounted.h"

// The texts of mode 1.
namespace SysObjectText {
inline constexpr const char* NoLayerForStyle = "Не найден слой для стиля %s (ID: %s)";
inline constexpr const char* StyleStep = "Стиль: ";
inline constexpr const char* UpdatingSectors = "Обновление секторов";
inline constexpr const char* UpdatingSector = "Обновление сектора <%s> (%d из %d)";
inline constexpr const char* RefBookFieldsProgress = "Обновление идентификаторов справочных полей";
inline constexpr const char* SemTableLoadError = "Ошибка загрузки данных по семантической таблице: %s[%s]. %s";
inline constexpr const char* SavingChanges = "Сохранение изменений";
// A system object's own row not changed exactly once.
inline constexpr const char* OwnRowNotFound = "Объект не найден";
// A row to be rewritten (raster map, style or sector) not changed exactly once.
inline constexpr const char* WrittenRowNotFound = "Object not found";
inline constexpr const char* CantUpdateSemTable = "can't update semtable info";
} // namespace SysObjectText

// The changers of mode 1 over the context of one run.
class TSysObjectChanges {
public:
    explicit TSysObjectChanges(const TRunContext& run);
    TSysObjectChanges(const TSysObjectChanges&) = delete;
    TSysObjectChanges& operator=(const TSysObjectChanges&) = delete;

    // The whole mode: CheckSelection, then the kinds in their order.
    void ChangeSystemObjects();
    // Refuses a chosen list that a later kind could not finish, before
    // anything is changed: a style without a layer.
    void CheckSelection();

    // The loop over the chosen objects of one kind.
    using TChanger = void (TSysObjectChanges::*)(const std::string& oldID, const std::string& newID);
    void ChangeObjectsOfKind(TSysObjectKind kind, TChanger changer);
    // UPDATE table SET column = newID WHERE column = oldID; the rows changed.
    std::int32_t ReplaceIDInColumn(const std::string& table, const std::string& column, const std::string& oldID,
                                   const std::string& newID);

    // The changers: the object's own row (exactly one, else "Объект не
    // найден"), then every column of the reference table that refers to the
    // object's kind.
    void ChangeAreaID(const std::string& oldID, const std::string& newID);
    void ChangeProjectID(const std::string& oldID, const std::string& newID);
    void ChangeRefBookID(const std::string& oldID, const std::string& newID);
    void ChangeRasterMapID(const std::string& oldID, const std::string& newID);
    void ChangeVectorMapID(const std::string& oldID, const std::string& newID);
    void ChangeLayerID(const std::string& oldID, const std::string& newID);
    void ChangeSemTableID(const std::string& oldID, const std::string& newID);
    void ChangeRelationID(const std::string& oldID, const std::string& newID);

    // The style step: the chosen styles layer by layer.
    void ChangeStyleIDs();
    // The styles of one layer and the style references in its sectors, in
    // one transaction.
    void ChangeLayerStyleIDs(const std::string& layerID, const TVelmoSysObjectList& styles);
    // Every sector of the layer whose shapes use a mapped style.
    void UpdateLayerSectorStyles(const std::string& layerID, const TIDMapList& map);
    // One sector: written only when one of its style references changed.
    void UpdateSectorStyles(const std::string& sectorID, const TIDMapList& map);
    // The references to a renumbered reference book inside the descriptions
    // of the semantic tables the semantic database holds.
    void UpdateRefBookFields(const std::string& oldID, const std::string& newID);

private:
    struct TColumn {
        const char* Table;
        const char* Column;
    };

    // The own key: exactly one row must change, else "Объект не найден".
    void ReplaceKey(const TColumn& key, const std::string& oldID, const std::string& newID);
    // Every column of the reference table that refers to what (a bit set
    // of kinds, see the .cpp), in the table's order.
    void ReplaceReferences(std::uint32_t what, const std::string& oldID, const std::string& newID);
    // New identifiers for the rasters of a raster map (by its new identifier).
    void ChangeRasterIDs(const std::string& mapID);

    const TRunContext& run_;
    IChangeHost& host_;
    IUdb& db_;
    IUdb& semDb_;
    // The sector statements of the layer being updated.
    rtl::RefPtr<IUdbSQLCommand> sectorRead_;
    rtl::RefPtr<IUdbSQLCommand> sectorWrite_;
};
