// What the spooler has told of one job so far, gathered from the entries of
// its change notifications and, when they left something out, from GetJob:
// the job's record (JOB_DATA) as far as it is known, the status and byte
// counts that the watcher's rules look at, and for every field whether any
// source has told it. Notifications without the refresh flag carry only the
// fields that changed, so a job's facts are built up over several of them.
#pragma once

#include <windows.h>

#include <stddef.h>

#include "job_accounting/job_data.h"

// Which facts have been told (JOB_FACTS::dwTold).
enum : DWORD {
  kToldStatus = 1u << 0,
  kToldBytesPrinted = 1u << 1,
  kToldTotalBytes = 1u << 2,
  kToldTotalPages = 1u << 3,
  kToldUser = 1u << 4,
  kToldDocument = 1u << 5,
  kToldMachine = 1u << 6,
  kToldDeviceMode = 1u << 7,   // paper, colour and duplex
  kToldCopies = 1u << 8,       // dmCopies, flagged by DM_COPIES
  kToldSubmitted = 1u << 9,
};

// What the decision and the record of a job need besides its status and
// byte counts.
constexpr DWORD kRecordFacts = kToldTotalPages | kToldUser | kToldDocument | kToldMachine |
                               kToldDeviceMode | kToldSubmitted;

struct JOB_FACTS {
  DWORD dwTold;           // kTold... bits
  DWORD dwStatus;         // JOB_STATUS_* bits
  DWORD dwBytesPrinted;
  DWORD dwTotalBytes;
  JOB_DATA job;           // dwJobId always; the other fields as told
};

// Facts of job dwJobId of which nothing is told yet (all else zero).
JOB_FACTS NoFacts(DWORD dwJobId);

// Copies into `into` every fact that `told` carries; the others stay.
void MergeFacts(JOB_FACTS& into, const JOB_FACTS& told);

// Puts cchText characters of a text into a record field of cchField
// characters: the field is cleared first, the text is cut to the field, and
// a text that fills the field has no terminator.
void PutJobText(WCHAR* pwszField, size_t cchField, const wchar_t* pwszText, size_t cchText);

// The machine a job came from, as its record keeps it: "\\server\share"
// names its server, so the first non-empty piece between backslashes is
// taken (20 characters at most); a name without one is taken whole.
void PutJobMachine(JOB_DATA& job, const wchar_t* pwszName, size_t cchName);

// Reads the settings of a DEVMODEW of cbBuf bytes into the facts: paper size
// (1 without DM_PAPERSIZE), length and width (only with their flags),
// colour and duplex (1 without their flags), and the copies when DM_COPIES
// is set. dmSize and dmFields are checked before any setting is read, and a
// setting is read only when its flag is set and it lies within dmSize, so a
// device mode of an older, smaller layout is read as far as it goes. False,
// with nothing changed, for a buffer that is no device mode: too short for
// the header up to dmFields, or a dmSize below that header or beyond cbBuf.
bool ReadDeviceMode(const void* pDevMode, size_t cbBuf, JOB_FACTS& facts);
