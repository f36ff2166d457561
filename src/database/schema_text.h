// The schema files of src/database/schema/, compiled into the program at
// build time (cmake/EmbedSchema.cmake): one source of truth for the files
// an administrator may run by hand and for what `quillonctl setup` creates.
#pragma once

#include <stddef.h>

#include <string>

struct SCHEMA_FILE {
  const char* pszStem;   // the file's name without ".sql": "sqlite", "postgresql"
  const char* pszText;   // its whole text
};

extern const SCHEMA_FILE kSchemaFiles[];
extern const size_t kSchemaFileCount;

// The schema file for a database whose driver reports this DBMS name
// (SQL_DBMS_NAME): the file whose stem begins the name, letter case aside
// ("SQLite" takes sqlite.sql, "PostgreSQL" postgresql.sql). Null when no
// file fits.
const SCHEMA_FILE* SchemaForDbms(const std::wstring& dbmsName);
