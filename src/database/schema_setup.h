// Bringing a database up to the service's schema: what it lacks of the
// schema file that fits its DBMS is created, in one transaction, and the
// tables it has are checked for the columns the service binds by position.
// Nothing is dropped or altered: a table that does not fit is reported.
#pragma once

#include <string>
#include <vector>

#include "database/connection.h"
#include "database/schema_plan.h"

struct SCHEMA_PLAN {
  std::string dbms;                      // the DBMS as the driver names it
  std::string schemaFile;                // the schema file's stem
  std::vector<SCHEMA_OBJECT> missing;    // tables and indexes to create, in file order
  std::vector<std::string> problems;     // "PRNDATA: column 12 is ..." per misfit
};

// Examines the database. Raises _com_error when it cannot be read, and
// std::runtime_error when no schema file fits its DBMS.
SCHEMA_PLAN PlanSchema(const ConnectionPtr& pConnection);

// Runs the statements of the objects in one transaction: all of them are
// created or, when one fails, none (the failure is raised as _com_error).
void CreateSchemaObjects(const ConnectionPtr& pConnection,
                         const std::vector<SCHEMA_OBJECT>& objects);

// The column positions (1-based) that the service binds in the table, from
// its record classes; empty for a table it reads by name only.
std::vector<unsigned long> BoundColumns(const std::string& table);
