// Snapshots of a Velmo pair and their differences.
#include "tests/support/VelmoSnapshot.h"

#include <algorithm>
#include <exception>
#include <set>
#include <string>

#include "gismodel/BinIDs.h"
#include "gismodel/CreateSysTables.h"
#include "gismodel/SectorData.h"
#include "gismodel/SemTableData.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/TextUtils.h"
#include "tests/support/VelmoFixture.h"

namespace velmotest {

namespace {

// "v287 {NAME 'Caption'; CODE 'Код' -> 000100000017 key KEY show [A,B]}"; a
// blob too short to hold additional data as its bytes.
std::string RefBookFieldText(const rtl::Variant& value)
{
    try {
        rtl::TMemoryStream stream(value.AsBytes());
        const TAdditionalData data = ReadAdditionalDataRecords(stream);
        if (data.Version == 0) return CellText(value);
        std::string text = "v" + std::to_string(data.Version) + " {";
        for (std::size_t i = 0; i < data.Records.size(); ++i) {
            const TAdditionalDataRecord& r = data.Records[i];
            if (i > 0) text += "; ";
            text += r.Name + " '" + r.Caption + "'";
            if (r.RefBookIDText.empty()) continue;
            text += " -> " + r.RefBookIDText + " key " + r.RefBookKeyField + " show [";
            for (std::size_t j = 0; j < r.DisplayFields.size(); ++j) text += (j > 0 ? "," : "") + r.DisplayFields[j];
            text += "]";
        }
        return text + "}";
    } catch (const std::exception& e) {
        return std::string("<undecodable: ") + e.what() + ">";
    }
}

} // namespace

std::string DefaultBlobText(const std::string& table, const std::string& column, const rtl::Variant& value)
{
    if (value.IsByteArray() && rtl::SameTextLatin(table, "VELMO_SEMTABLS") && rtl::SameTextLatin(column, "REFBOOKFIELD"))
        return RefBookFieldText(value);
    if (value.IsByteArray() && rtl::SameTextLatin(table, "VELMO_SECTORS") && rtl::SameTextLatin(column, "OBJECTS")) {
        try {
            rtl::TMemoryStream stream(value.AsBytes());
            const rtl::RefPtr<TSectorData> sector(new TSectorData);
            sector->LoadFromStream(stream);
            std::string text = "{";
            for (int i = 0; i < sector->Objects.Count(); ++i) {
                const TMapObjectData& object = *sector->Objects.GetItem(i);
                if (i > 0) text += "; ";
                text += BinIDToStr(object.ID) + " [";
                for (int j = 0; j < object.Shapes.Count(); ++j)
                    text += (j > 0 ? "," : "") + BinIDToStr(object.Shapes.GetItem(j)->StyleID);
                text += "]";
            }
            return text + "}";
        } catch (const std::exception& e) {
            return std::string("<undecodable: ") + e.what() + ">";
        }
    }
    return CellText(value);
}

TSnapshotRows SnapshotTable(IUdb& db, const std::string& table, const TBlobText& blobText)
{
    TSnapshotRows rows;
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(db, table);
    if (!cursor) return rows;
    std::vector<std::string> names;
    for (int i = 0; i < cursor->FieldCount(); ++i) names.push_back(cursor->FieldName(i));
    for (; !cursor->Eof(); cursor->Next()) {
        std::string row;
        for (int i = 0; i < static_cast<int>(names.size()); ++i) {
            const rtl::Variant value = cursor->GetValue(rtl::Variant(std::int32_t{i}));
            if (i > 0) row += " ";
            row += names[static_cast<std::size_t>(i)] + "=" +
                   (value.IsByteArray() ? blobText(table, names[static_cast<std::size_t>(i)], value) : CellText(value));
        }
        rows.push_back(std::move(row));
    }
    cursor->Close();
    std::sort(rows.begin(), rows.end());
    return rows;
}

TPairSnapshot SnapshotPair(IUdb& spatial, IUdb& semantic, const TBlobText& blobText)
{
    TPairSnapshot snapshot;
    for (const TSysTableDef& def : SysTableDefs()) snapshot[def.Name] = SnapshotTable(spatial, def.Name, blobText);
    std::set<std::string> semTables;
    for (const TRow& row : ReadRows(spatial, "VELMO_SEMTABLS", {"TABLENAME"}))
        if (row[0] != "<null>") semTables.insert(rtl::Trim(row[0]));
    for (const std::string& name : semTables)
        if (semantic.TableExists(name)) snapshot["sem:" + name] = SnapshotTable(semantic, name, blobText);
    return snapshot;
}

std::vector<std::string> DiffSnapshots(const TPairSnapshot& before, const TPairSnapshot& after)
{
    std::set<std::string> tables;
    for (const auto& [name, rows] : before) tables.insert(name);
    for (const auto& [name, rows] : after) tables.insert(name);
    const TSnapshotRows none;
    std::vector<std::string> diff;
    for (const std::string& table : tables) {
        const auto b = before.find(table);
        const auto a = after.find(table);
        const TSnapshotRows& rowsBefore = b == before.end() ? none : b->second;
        const TSnapshotRows& rowsAfter = a == after.end() ? none : a->second;
        std::vector<std::string> removed, added;
        std::set_difference(rowsBefore.begin(), rowsBefore.end(), rowsAfter.begin(), rowsAfter.end(),
                            std::back_inserter(removed));
        std::set_difference(rowsAfter.begin(), rowsAfter.end(), rowsBefore.begin(), rowsBefore.end(),
                            std::back_inserter(added));
        for (const std::string& row : removed) diff.push_back(table + ": - " + row);
        for (const std::string& row : added) diff.push_back(table + ": + " + row);
    }
    return diff;
}

std::vector<std::string> IdentifierTexts(const std::string& row)
{
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < row.size();) {
        if (!isHex(row[i]) && row[i] != '-') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < row.size() && (isHex(row[end]) || row[end] == '-')) ++end;
        const std::string run = row.substr(i, end - i);
        if (run.size() == 12 && std::all_of(run.begin(), run.end(), isHex)) texts.push_back(run);
        i = end;
    }
    return texts;
}

} // namespace velmotest
