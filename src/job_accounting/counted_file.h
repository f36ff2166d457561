// The file that a job report names for the page counter. The service runs
// as the local system account and deletes that file once it is counted,
// while any local user may send a report: only a plain file of the
// service's own directory, and none of the service's own files, is accepted.
#pragma once

#include <string>

// The full path of the file in the service's directory (the directory of
// the executable), or "" when the name is not acceptable:
// - empty, or longer than a file name may be;
// - with a drive, a path separator of either kind, "..", an alternate
//   stream (":"), a wildcard or another character no file name may hold,
//   a control character, or a trailing dot or space (which the file system
//   would strip, turning "printers.lst." into "printers.lst");
// - a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$,
//   CONOUT$), with or without an extension;
// - one of the service's own files: its executable, pagecnt.dll,
//   printers.lst, gdiprinters.lst, copy.bak, the journal quillon.jnl, also
//   when named by a short
//   (8.3) alias.
std::string CountedFilePath(const char* pszName);
