// The refusals in a row of one journaled job, and the rule by which the
// replay passes such a job over.
#pragma once

#include <windows.h>

#include <string>

// The rule. A journaled job that can never be written would hold back every
// job behind it forever, since the journal is written in order. The replay
// passes it over, reports it with all its facts (event 114) and records its
// key in JOURNALKEYS, only when all of these hold:
//   - the same job was refused kPassOverRefusals times in a row, the first
//     and the last refusal at least kPassOverAfterMs apart (with the back-off
//     of 1 to 60 s, some 20 attempts);
//   - every one of those failures was a refusal by a database that answered
//     (an SQLSTATE that is neither a lost connection nor busy), and the
//     connection's probe succeeded after it;
//   - the job behind it is then written. If that one fails too, the
//     database refuses more than this job (a full disk, lost rights, a
//     trigger on every row) and nothing is passed over.
// Anything else (a lost connection, a busy database, a failed probe, a
// failure without a diagnostic, a failure before the job's own statements)
// ends the streak: doubt means retrying, never dropping. A job that is last
// in the journal is never passed over; it waits for the next job.
constexpr unsigned kPassOverRefusals = 10;
constexpr DWORD kPassOverAfterMs = 15 * 60 * 1000;

class CRefusalStreak {
 public:
  // A definite refusal of the job with this key: the database answered with
  // a refusal and the connection proved sound afterwards. A refusal of
  // another job starts a new streak.
  void Refused(const std::string& key, ULONGLONG tNow) {
    if (key != m_key || m_nRefusals == 0) {
      m_key = key;
      m_nRefusals = 0;
      m_tFirst = tNow;
    }
    ++m_nRefusals;
    m_tLast = tNow;
  }
  // Any other outcome ends the streak: doubt never counts toward passing over.
  void Reset() {
    m_key.clear();
    m_nRefusals = 0;
  }
  // True when this job's streak holds at least nRefusals refusals spread
  // over at least msSpan milliseconds.
  bool Reached(const std::string& key, unsigned nRefusals, ULONGLONG msSpan) const {
    return m_nRefusals > 0 && key == m_key && m_nRefusals >= nRefusals &&
           m_tLast - m_tFirst >= msSpan;
  }
  unsigned Refusals() const { return m_nRefusals; }
  ULONGLONG SpanMs() const { return m_nRefusals ? m_tLast - m_tFirst : 0; }

 private:
  std::string m_key;
  unsigned m_nRefusals = 0;
  ULONGLONG m_tFirst = 0;
  ULONGLONG m_tLast = 0;
};
