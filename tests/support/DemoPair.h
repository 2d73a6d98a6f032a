// The demo pair: a small Velmo database pair of Paradox tables for trying the
// program by hand and for the end-to-end test that drives the main window.
//
// Both halves live in one folder: the spatial database's 24 system tables
// and the semantic database's attribute tables side by side, so the open
// dialog gets the same folder for both. The current identifier group has
// issued numbers, so every mode has work to do: a new identifier space,
// system objects of every kind, map objects in sectors with semantic rows,
// object index rows and links, and identifier spaces to give new GUIDs.
#pragma once

#include <string>
#include <vector>

#include "tests/support/VelmoFixture.h"

namespace velmotest {

// What the demo pair holds.
TVelmoDesc DemoDesc();

// The layers of the demo pair (identifier, name) in the order of DemoDesc.
struct TDemoLayer {
    std::string ID;
    std::string Name;
    std::vector<std::string> ObjectIDs; // the map objects of its sectors
};
std::vector<TDemoLayer> DemoLayers();

// Writes the demo pair into folder, which must not exist yet: the tables are
// made aside and the finished folder is moved into place, so a failure
// leaves no half-written folder behind. rtl::Exception when folder exists.
void WriteDemoPair(const std::string& folder);

} // namespace velmotest
