// The database kinds of a watched project (the rule field DbType) and what
// depends on the kind alone: the login section of morvik.ini, the display
// name, and how a table name is qualified with the project's database or owner.
//
// Kind 0 is a project in dBase files in a directory; kinds 1 (Microsoft SQL
// Server) and 3 (Sybase) behave alike and qualify as database..table; kind 2
// (Oracle) qualifies as owner.table.
#pragma once

#include <string>
#include <string_view>

namespace vigilo {

inline constexpr long kDbaseKind = 0;
inline constexpr long kSqlServerKind = 1;
inline constexpr long kOracleKind = 2;
inline constexpr long kSybaseKind = 3;

// True for the four known kinds.
bool IsKnownKind(long kind);

// True for the client-server kinds 1, 2 and 3.
inline bool IsServerKind(long kind) { return kind >= 1 && kind <= 3; }

// Section of morvik.ini that holds the login information of the kind's
// servers: "Microsoft SQL Server", "Oracle", "Sybase"; "" for kind 0 and
// unknown kinds.
std::string_view LoginSectionName(long kind);

// Name shown to the user: "ORVIK Database", "Microsoft SQL Server", "Oracle
// Database", "Sybase Database"; "" for unknown kinds.
std::string_view KindDisplayName(long kind);

// The display names joined by "," in kind order, as the kind chooser lists them.
std::string_view KindDisplayNames();

// A name qualified with the project for the kind: kinds 1 and 3 "%s..%s",
// kind 2 "%s.%s", kind 0 the name alone; "" for unknown kinds.
std::string QualifiedName(long kind, std::string_view project, std::string_view name);

// The master catalogue queries of client-server installations: the project
// list, and the database name of one project (apostrophes in the project name
// are doubled). "" for kind 0 and unknown kinds.
std::string ProjectListQuery(long kind);
std::string ProjectDatabaseQuery(long kind, std::string_view project);


}  // namespace vigilo
