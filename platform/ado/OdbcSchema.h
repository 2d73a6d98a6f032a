// The OLE DB schema rowsets of ADO's OpenSchema, built from the ODBC catalog
// functions with the OLE DB column names, restrictions and type codes:
//   adSchemaTables (20)       SQLTables        catalog, schema, table, type
//   adSchemaColumns (4)       SQLColumns       catalog, schema, table, column
//   adSchemaIndexes (12)      SQLStatistics    catalog, schema, index, type, table
//                             + SQLPrimaryKeys (PRIMARY_KEY)
//   adSchemaPrimaryKeys (28)  SQLPrimaryKeys   catalog, schema, table
//   adSchemaProviderTypes (22) SQLGetTypeInfo  data type, best match
//   adSchemaDBInfoKeywords (30) SQL_KEYWORDS
//   adSchemaDBInfoLiterals (31) the longest names (table, column, index)
//   adSchemaCatalogs (1)      SQLTables(SQL_ALL_CATALOGS)   catalog
//
// Restrictions are exact values: where ODBC takes a search pattern (schema,
// table and column names of SQLTables and SQLColumns) "_" and "%" are escaped
// with the driver's escape; SQLStatistics and SQLPrimaryKeys take their
// arguments as they are, and list every table when no table is given.
// Statistics rows of the table itself (TYPE 0) are dropped. An index is the
// primary key when its name is the primary key's, or, where the driver names
// no primary key, when it holds exactly the key's columns. Nullability comes
// from NULLABLE; a maximum length (or size) of 0 or less reads as Null.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ado/OdbcConnection.h"

namespace ado::odbc {

rtl::RefPtr<Recordset> OpenSchemaRowset(TOdbcConnection& connection, std::int32_t schema,
                                        const std::vector<rtl::Variant>& restrictions);

// name with every "_" and "%" (and the escape itself) preceded by escape;
// name unchanged when the driver has no escape.
std::string EscapePattern(std::string_view name, std::string_view escape);

} // namespace ado::odbc
