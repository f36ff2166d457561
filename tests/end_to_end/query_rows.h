// Reading a database the way a person checks it: the rows of a query.
#pragma once

#include <string>
#include <vector>

// The first column of the query's rows, as text ("NULL" for a null), read
// over a connection of its own to the database that dsn names.
std::vector<std::string> QueryFirstColumn(const std::string& dsn, const std::string& sql);

// Runs one statement that returns no rows, the same way.
void ExecSql(const std::string& dsn, const std::string& sql);
