// The local SQL dialect that the engine accepts, and its translation for
// SQLite, which executes every statement over the tables of the folder.
//
// The dialect: double-quoted names, "T"."C" qualifiers (also in INSERT column
// lists and UPDATE SET lists), ":NAME" parameters, keywords in any case,
// integer and quoted literals. SQLite takes nearly all of it as it stands;
// only the qualifiers of INSERT columns and SET targets must go, since SQLite
// refuses them there. Text inside literals, quoted names and comments is
// never touched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bde {

// The statement in SQLite's form.
std::string BdeTranslateToSqlite(std::string_view sql);

// The statement with each [bracketed] name written as a double-quoted one
// (a quote inside it doubled); literals, quoted names and comments are left
// as they are.
std::string BdeQuoteBracketedNames(std::string_view sql);

// The names of the ":NAME" parameters of a statement, one per occurrence, in
// order of appearance (colons inside literals, quoted names and comments do
// not count; "::" is not a parameter).
std::vector<std::string> BdeParseParamNames(std::string_view sql);

} // namespace bde
