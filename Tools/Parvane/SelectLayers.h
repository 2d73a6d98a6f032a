// The system objects a run works on: the candidates of the chosen kinds read
// from the spatial database, and the list that the selection dialog leaves
// holding only the objects the user checked completely.
//
// This unit is display-free: it reads the objects and keeps the list (and
// re-points children when a parent gets a new identifier while a run goes
// on). The check-box tree dialog over it is SelectLayersForms (gui/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CoreLib/RefObjects.h"
#include "UdbProject/Udbs.h"

// The kinds of system object, in the order of their picture indexes - 1.
enum TSysObjectKind : std::uint8_t {
    sokArea = 0,
    sokRefBook = 1,
    sokProject = 2,
    sokRasterMap = 3,
    sokVectorMap = 4,
    sokLayer = 5,
    sokStyle = 6,
    sokSemTable = 7,
    sokRelation = 8,
};

// What the program knows of a kind: its caption, where its objects are
// stored (maps are read by their type instead: see SelectLayers.cpp), and
// the title of mode 1's step over them.
struct TSysObjectKindInfo {
    const char* Name;
    const char* Table;
    const char* NameColumn;
    const char* ParentColumn; // "" for a kind without a parent
    const char* ChangeTitle;
};
const TSysObjectKindInfo& SysObjectKindInfo(TSysObjectKind kind);

class TVelmoSysObject : public TRefObject {
public:
    TVelmoSysObject(std::string id, std::string name, TSysObjectKind kind)
        : ID(std::move(id)), Name(std::move(name)), Kind(kind)
    {
    }

    std::string ParentID; // identifier text of the parent, empty for none
    std::string ID;       // identifier text as stored
    std::string Name;
    TSysObjectKind Kind;
};

// The objects in load order; lookups compare identifier texts exactly.
// It takes one reference per item and never owns (frees) them.
class TVelmoSysObjectList : public TRefObjectListOf<TVelmoSysObject> {
public:
    TVelmoSysObjectList() : TRefObjectListOf<TVelmoSysObject>(false) {}

    // A new object with an empty ParentID, appended.
    TVelmoSysObject* AddNew(const std::string& id, const std::string& name, TSysObjectKind kind);
    using TRefObjectListOf<TVelmoSysObject>::Add;

    // Clears dest, then appends every object of source of that kind (in order).
    static void SelectByKind(TVelmoSysObjectList& dest, const TVelmoSysObjectList& source, TSysObjectKind kind);
    // The same for the objects of that kind whose ParentID is parentID.
    static void SelectByParent(TVelmoSysObjectList& dest, const TVelmoSysObjectList& source, TSysObjectKind kind,
                               const std::string& parentID);

    // -1 when no object has this ID.
    int IndexOfID(const std::string& id) const noexcept;
    TVelmoSysObject* LookupID(const std::string& id) const noexcept;
    TVelmoSysObject* GetItem(int index) const { return Get(index); }

    // Gives object index a new ID after re-pointing its children (an area's
    // projects and maps, a vector map's layers, a layer's styles, semantic
    // tables and relations).
    void SetID(int index, const std::string& newID);
    // SetID on the object whose ID is oldID; false (nothing changed) when none.
    bool ReplaceID(const std::string& oldID, const std::string& newID);

    // Clears the list and reads the kinds in the order given, so parents
    // loaded earlier are found and children of objects not loaded are dropped.
    void LoadKinds(IUdb& db, const std::vector<TSysObjectKind>& kinds);
    // Appends the objects of one kind (rows whose parent is not in the list
    // are dropped).
    void LoadKind(IUdb& db, TSysObjectKind kind);
};

// The kinds each dialog offers.
const std::vector<TSysObjectKind>& SystemObjectKinds(); // 0..8
const std::vector<TSysObjectKind>& LayerKinds();        // area, vector map, layer
