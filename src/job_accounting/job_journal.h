// The journal of jobs not yet recorded: a file in the service's directory
// that holds, in the order they were accounted, the facts of every job whose
// database steps failed, until they are written to the database.
//
// A record is "QJR1", its payload's length and CRC-32 (32-bit little-endian
// each), then the payload: "Name=value" lines, values with '%', CR, LF and
// NUL written as %XX. Facts are kept by name, never by database id, so a
// record stays valid whatever the database assigns meanwhile. A record whose
// length or checksum does not hold (a write cut short by a power loss, or
// damage) is dropped; the reader resumes at the next record that holds, so
// damage never spoils the records around it.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

struct JOURNALED_JOB {
  std::string key;        // unique per record: the journal's id and its number
  std::string printer;
  std::string user;
  std::string computer;
  std::string document;
  int32_t lPages = 0;
  int32_t lJobSize = 0;
  int32_t lSubmitted = 0;  // seconds since 1970-01-01 UTC
  int16_t nPaperSize = 0;
  int16_t nPaperLength = 0;
  int16_t nPaperWidth = 0;
  int16_t nColor = 0;
  int16_t nDuplex = 0;
};

// The journal's file name in the service's directory, and its default bound.
constexpr const char kJournalFile[] = "quillon.jnl";
constexpr DWORD kDefaultJournalLimitKB = 65536;

class CJobJournal {
 public:
  enum class Append { Written, Full, Failed };

  // cbLimit bounds the file's size; a record that would pass it is refused.
  CJobJournal(std::string path, uint64_t cbLimit);

  // Appends the job (its key is assigned here) and flushes the file to disk
  // (FlushFileBuffers) before it returns Written. Full: the bound would be
  // passed, nothing is written. Failed: the file could not be written; what
  // may have reached it is a torn record, which the reader drops.
  Append Add(JOURNALED_JOB& job);
  // Every record that holds, in file order. pcbDropped (optional) receives
  // the bytes of damaged records skipped; a damaged tail is cut off the file
  // so that later records follow the last whole one.
  std::vector<JOURNALED_JOB> ReadAll(uint64_t* pcbDropped = nullptr);
  // Empties the journal (flushed) and starts a new series of keys.
  bool Clear();
  // The number of records written since the journal was last read or
  // cleared, plus what that read found.
  size_t Count() const { return m_nRecords; }
  const std::string& Path() const { return m_path; }
  uint64_t Limit() const { return m_cbLimit; }

  // Exposed for the tests: the payload of a job and its parse.
  static std::string Encode(const JOURNALED_JOB& job);
  static bool Decode(const std::string& payload, JOURNALED_JOB* pJob);

 private:
  std::string NewKey();

  std::string m_path;
  uint64_t m_cbLimit;
  std::string m_series;   // this run's prefix of the keys
  uint64_t m_nNext;
  size_t m_nRecords;
};

// The number of jobs in the journal file at path, read without changing the
// file and while the service may be appending to it. A missing file holds
// none; false when the file is there but cannot be read.
bool CountJournalRecords(const std::string& path, size_t* pnRecords);
