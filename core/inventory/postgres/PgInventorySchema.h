#pragma once
// The tables of the inventory on a PostgreSQL server, which many sites share.
// A version table says which schema the database holds; the program makes it
// and brings it forward in one transaction under an advisory lock, so that
// scanners starting at once neither race nor see half a schema.

#include "platform/postgres/PgConnection.h"

#include <string>

inline constexpr int kPgInventoryVersion = 2;

// Makes the tables or brings them forward; true when the database holds the
// current schema. A role that may only record and read finds them made and
// changes nothing. False with the reason (a database of a newer program,
// say) in `error`.
bool EnsurePgInventorySchema(PgConnection& connection, std::string& error);
