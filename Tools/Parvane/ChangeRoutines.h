// The small routines every mode of a change run shares: the condition check,
// the row count of a table and the conversions between blobs and the
// sector and semantic-table data they hold.
#pragma once

#include <cstdint>
#include <string>

#include "UdbProject/Udbs.h"
#include "platform/rtl/Variant.h"

class TSectorData;
class TSemTableData;

// rtl::Exception with message when condition is false.
void CheckCondition(bool condition, const std::string& message);
// select count(*) of table; 0 for null.
std::int32_t RecordCount(IUdb& db, const std::string& table);

std::string BlobToStr(const rtl::Variant& blob);
rtl::Variant StrToBlob(const std::string& bytes);
void LoadSectorFromBlob(TSectorData& sector, const rtl::Variant& blob);
void SaveSectorToBlob(TSectorData& sector, rtl::Variant& blob);
void LoadSemTableFromBlob(TSemTableData& table, IUdbTableDef* tableDef, const rtl::Variant& blob);
void SaveSemTableToBlob(TSemTableData& table, rtl::Variant& blob);
