#pragma once
// The inventory's tables, version by version (PRAGMA user_version): a new
// file gets the first version and is brought forward like any older file.

#include <sqlite3.h>
#include <string>

// The first schema, as files of the first version hold it.
extern const char* const kInventorySchemaVersion1;

// Makes the tables of a new file, or brings an older file forward, in one
// transaction; false with the reason (nothing changed) when it cannot.
bool BringSchemaForward(sqlite3* db, std::string& error);
