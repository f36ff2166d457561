// A schema file read as the objects it creates. The files hold nothing but
// CREATE TABLE and CREATE [UNIQUE] INDEX statements, each ended by ";", and
// "--" comments; anything else is refused, so that a file that grows a kind
// of statement this reader does not know fails its test instead of being
// half applied.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

struct SCHEMA_OBJECT {
  enum Kind { Table, Index } kind = Table;
  std::string name;                   // as written in the file
  std::string table;                  // a table's own name; an index's table
  std::vector<std::string> columns;   // a table's columns, in order
  std::string statement;              // the statement that creates it
};

// The objects of a schema text, in file order. Throws std::invalid_argument,
// quoting the statement, for a statement of another kind.
std::vector<SCHEMA_OBJECT> ParseSchema(const std::string& text);

// Case-insensitive comparison of ASCII names: unquoted SQL names are
// folded (PostgreSQL reports "prnname" for PrnName).
bool SameSqlName(const std::string& a, const std::string& b);
