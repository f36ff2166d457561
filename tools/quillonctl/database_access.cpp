#include "database_access.h"

#include "connection_setting.h"
#include "database/com_errors.h"
#include "text_forms.h"
#include "tool_context.h"

bool ChooseDatabase(const std::string& dsnOption, bool bGiven, DATABASE_CHOICE* pChoice,
                    CToolStreams& io) {
  const std::string own = CDsnSetting::Current();
  if (bGiven) {
    std::string ansi;
    if (!Utf8ToAnsi(dsnOption, &ansi)) {
      io.err << "quillonctl: --dsn holds characters the system's code page cannot carry\n";
      return false;
    }
    pChoice->dsn = ansi;
    pChoice->bServiceOwn = !own.empty() && ansi == own;
    return true;
  }
  if (own.empty()) {
    io.err << "quillonctl: the service has no database yet (no \"DSN\" setting): run "
              "'quillonctl setup', or give --dsn\n";
    return false;
  }
  pChoice->dsn = own;
  pChoice->bServiceOwn = true;
  return true;
}

bool OpenDatabase(const std::string& dsn, ConnectionPtr& connection, CToolStreams& io) {
  try {
    connection.CreateInstance();
    connection->Open(dsn.c_str());
    return true;
  } catch (const _com_error& e) {
    io.err << "quillonctl: the database does not open (" << AnsiToUtf8(HidePassword(dsn))
           << "): " << DatabaseFailureText(e) << "\n";
    connection.Release();
    return false;
  }
}

std::string DatabaseFailureText(const _com_error& e) {
  std::string text = ComErrorText(e);
  const std::string diagnostic = ComErrorDescription(e);
  if (!diagnostic.empty()) text += " - " + diagnostic;
  return AnsiToUtf8(text);
}
