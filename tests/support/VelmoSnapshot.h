// A readable snapshot of a whole Velmo pair, for tests that must show that a
// run changed exactly what it should: every column of every row of the 24
// system tables and of the semantic tables, with the sector blobs decoded
// (objects with their style identifiers) and the semantic-table descriptions
// decoded (their stored records) so that a difference reads plainly.
//
//     const TPairSnapshot before = SnapshotPair(pair.Spatial(), pair.Semantic());
//     ... run ...
//     EXPECT_EQ(DiffSnapshots(before, SnapshotPair(...)), (std::vector<std::string>{
//         "VELMO_LAYERS: - ID=000100000002 LAYERNAME=Roads ...",
//         "VELMO_LAYERS: + ID=0002000003E9 LAYERNAME=Roads ...",
//     }));
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "UdbProject/Udbs.h"
#include "platform/rtl/Variant.h"

namespace velmotest {

// The rows of a table, each as "COLUMN=value" joined by blanks (columns in
// table order), sorted.
using TSnapshotRows = std::vector<std::string>;
// By table name; the semantic database's tables are named "sem:" + name.
using TPairSnapshot = std::map<std::string, TSnapshotRows>;

// How a blob column's value is shown: given the table, the column and the
// value, a text. The default decodes VELMO_SECTORS.OBJECTS into its objects
// ("{ID [STYLE,STYLE]; ...}") and VELMO_SEMTABLS.REFBOOKFIELD into the
// version and the records it stores ("v287 {NAME 'Caption'; CODE 'Код' ->
// 000100000017 key KEY show [A,B]}", a blob too short to hold any as x'hex'),
// shows "<undecodable: message>" for either when it cannot be read, and
// writes every other byte array as x'hex'.
using TBlobText = std::function<std::string(const std::string& table, const std::string& column,
                                            const rtl::Variant& value)>;
std::string DefaultBlobText(const std::string& table, const std::string& column, const rtl::Variant& value);

// Every row of table in db.
TSnapshotRows SnapshotTable(IUdb& db, const std::string& table, const TBlobText& blobText = DefaultBlobText);
// The 24 system tables of spatial, then every table named in VELMO_SEMTABLS.TABLENAME
// that semantic holds (as "sem:" + name).
TPairSnapshot SnapshotPair(IUdb& spatial, IUdb& semantic, const TBlobText& blobText = DefaultBlobText);

// The rows only one side holds, as "TABLE: - row" (before) and "TABLE: + row"
// (after), tables in name order, removed rows before added ones.
std::vector<std::string> DiffSnapshots(const TPairSnapshot& before, const TPairSnapshot& after);

// The identifier texts (12 hex digits) that stand on their own in a snapshot
// row: a run of 12 inside a longer run of hex digits and dashes (a GUID's last
// group, say) is no identifier.
std::vector<std::string> IdentifierTexts(const std::string& row);

} // namespace velmotest
