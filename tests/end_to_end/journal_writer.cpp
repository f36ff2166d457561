// Writes a journal of jobs whose rows could not be written, as a service
// that met a long outage leaves it: journal_writer PATH COUNT. Job n has
// the document "Replay-n" and n pages. Not a test: the durability test
// (durability_e2e.sh) hands it to the installed service.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "job_accounting/job_journal.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: journal_writer PATH COUNT\n");
    return 2;
  }
  const int nJobs = std::atoi(argv[2]);
  CJobJournal journal(argv[1], uint64_t(1) << 40);
  for (int n = 1; n <= nJobs; ++n) {
    JOURNALED_JOB job;
    job.printer = "Replay Printer";
    job.user = "replay";
    job.computer = "WS-REPLAY";
    job.document = "Replay-" + std::to_string(n);
    job.lPages = n;
    job.lSubmitted = 1700000000 + n;
    job.nPaperSize = 9;
    job.nColor = 1;
    job.nDuplex = 1;
    if (journal.Keep(job) != CJobJournal::Append::Written) return 1;
  }
  return 0;
}
