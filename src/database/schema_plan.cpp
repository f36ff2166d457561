#include "database/schema_plan.h"

#include <cctype>
#include <cwctype>

#include "database/schema_text.h"

namespace {

// The file without its "--" comments (none of the files quotes a "--").
std::string WithoutComments(const std::string& text) {
  std::string out;
  bool bQuoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') bQuoted = !bQuoted;
    if (!bQuoted && text.compare(i, 2, "--") == 0) {
      while (i < text.size() && text[i] != '\n') ++i;
      out += '\n';
      continue;
    }
    out += text[i];
  }
  return out;
}

// Words and the punctuation "(", ")" and "," as tokens of their own.
std::vector<std::string> Tokens(const std::string& statement) {
  std::vector<std::string> tokens;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) tokens.push_back(word);
    word.clear();
  };
  for (char c : statement) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      flush();
    } else if (c == '(' || c == ')' || c == ',') {
      flush();
      tokens.push_back(std::string(1, c));
    } else {
      word += c;
    }
  }
  flush();
  return tokens;
}

bool Is(const std::vector<std::string>& tokens, size_t i, const char* pszWord) {
  return i < tokens.size() && SameSqlName(tokens[i], pszWord);
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

[[noreturn]] void Refuse(const std::string& statement, const char* pszWhy) {
  throw std::invalid_argument(std::string(pszWhy) + ": " + statement);
}

// CREATE TABLE name ( column type ..., ..., [table constraint, ...] )
SCHEMA_OBJECT ParseTable(const std::vector<std::string>& t, size_t i, const std::string& stmt) {
  SCHEMA_OBJECT table;
  table.kind = SCHEMA_OBJECT::Table;
  if (Is(t, i, "IF") && Is(t, i + 1, "NOT") && Is(t, i + 2, "EXISTS")) i += 3;
  if (i + 1 >= t.size() || t[i + 1] != "(") Refuse(stmt, "a table without its columns");
  table.name = table.table = t[i];
  int depth = 0;
  bool bStartOfDefinition = true;
  for (size_t k = i + 1; k < t.size(); ++k) {
    if (t[k] == "(") {
      ++depth;
      bStartOfDefinition = depth == 1;
      continue;
    }
    if (t[k] == ")") {
      --depth;
      continue;
    }
    if (depth == 1 && t[k] == ",") {
      bStartOfDefinition = true;
      continue;
    }
    if (depth == 1 && bStartOfDefinition) {
      bStartOfDefinition = false;
      static const char* const kConstraints[] = {"PRIMARY", "UNIQUE", "CONSTRAINT", "FOREIGN",
                                                 "CHECK"};
      bool bConstraint = false;
      for (const char* pszWord : kConstraints) bConstraint = bConstraint || Is(t, k, pszWord);
      if (!bConstraint) table.columns.push_back(t[k]);
    }
  }
  if (depth != 0 || table.columns.empty()) Refuse(stmt, "a table this reader cannot follow");
  return table;
}

// CREATE [UNIQUE] INDEX [IF NOT EXISTS] name ON table (...)
SCHEMA_OBJECT ParseIndex(const std::vector<std::string>& t, size_t i, const std::string& stmt) {
  SCHEMA_OBJECT index;
  index.kind = SCHEMA_OBJECT::Index;
  if (Is(t, i, "IF") && Is(t, i + 1, "NOT") && Is(t, i + 2, "EXISTS")) i += 3;
  if (i + 2 >= t.size() || !Is(t, i + 1, "ON")) Refuse(stmt, "an index without its table");
  index.name = t[i];
  index.table = t[i + 2];
  return index;
}

}  // namespace

bool SameSqlName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<SCHEMA_OBJECT> ParseSchema(const std::string& text) {
  std::vector<SCHEMA_OBJECT> objects;
  const std::string plain = WithoutComments(text);
  size_t start = 0;
  while (start < plain.size()) {
    size_t end = plain.find(';', start);
    if (end == std::string::npos) end = plain.size();
    const std::string statement = Trimmed(plain.substr(start, end - start));
    start = end + 1;
    if (statement.empty()) continue;
    const std::vector<std::string> t = Tokens(statement);
    SCHEMA_OBJECT object;
    if (Is(t, 0, "CREATE") && Is(t, 1, "TABLE")) {
      object = ParseTable(t, 2, statement);
    } else if (Is(t, 0, "CREATE") && Is(t, 1, "INDEX")) {
      object = ParseIndex(t, 2, statement);
    } else if (Is(t, 0, "CREATE") && Is(t, 1, "UNIQUE") && Is(t, 2, "INDEX")) {
      object = ParseIndex(t, 3, statement);
    } else {
      Refuse(statement, "neither CREATE TABLE nor CREATE INDEX");
    }
    object.statement = statement;
    objects.push_back(object);
  }
  return objects;
}

const SCHEMA_FILE* SchemaForDbms(const std::wstring& dbmsName) {
  for (size_t i = 0; i < kSchemaFileCount; ++i) {
    const std::string stem = kSchemaFiles[i].pszStem;
    bool bFits = !stem.empty() && dbmsName.size() >= stem.size();
    for (size_t k = 0; bFits && k < stem.size(); ++k) {
      bFits = std::towlower(dbmsName[k]) ==
              static_cast<wchar_t>(std::tolower(static_cast<unsigned char>(stem[k])));
    }
    if (bFits) return &kSchemaFiles[i];
  }
  return nullptr;
}
