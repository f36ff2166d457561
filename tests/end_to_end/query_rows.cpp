#include "query_rows.h"

#include "database/connection.h"
#include "database/odbc_statement.h"
#include "database/wide_text.h"

std::vector<std::string> QueryFirstColumn(const std::string& dsn, const std::string& sql) {
  ConnectionPtr connection;
  connection.CreateInstance();
  connection->Open(dsn.c_str());
  COdbcStatement stmt(connection->Handle());
  stmt.ExecDirect(AnsiToWide(sql));
  std::vector<std::string> rows;
  while (stmt.Fetch()) {
    char text[512] = {};
    SQLLEN ind = 0;
    SQLGetData(stmt.Handle(), 1, SQL_C_CHAR, text, sizeof(text), &ind);
    rows.push_back(ind == SQL_NULL_DATA ? "NULL" : text);
  }
  stmt.Free();
  connection->Close();
  return rows;
}

void ExecSql(const std::string& dsn, const std::string& sql) {
  ConnectionPtr connection;
  connection.CreateInstance();
  connection->Open(dsn.c_str());
  COdbcStatement stmt(connection->Handle());
  stmt.ExecDirect(AnsiToWide(sql));
  stmt.Free();
  connection->Close();
}
