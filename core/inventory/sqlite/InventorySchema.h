#pragma once
// The inventory's tables, version by version (PRAGMA user_version): a new
// file gets the first version and is brought forward like any older file.

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <vector>

// The first schema, as files of the first version hold it.
extern const char* const kInventorySchemaVersion1;

// Makes the tables of a new file (`version` 0), or brings a file of an older
// version forward, inside the write transaction the caller holds, so that
// nobody sees a file half made; false with the reason when it cannot (the
// caller rolls back).
bool BringSchemaForward(sqlite3* db, std::int64_t version, std::string& error);

// The tables a file of `version` has; one missing means a damaged file.
std::vector<const char*> InventoryTablesOf(std::int64_t version);
