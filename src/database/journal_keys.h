// The table JOURNALKEYS: the keys of journaled jobs whose PRNDATA row is
// committed (job_accounting/job_journal.h says how keys are made). A row and
// its key commit in one transaction, so a key in the table says that the
// row is there and the job must not be written again.
//
// Every key is bound as a parameter: a key comes from the journal file,
// which a damaged disk or another program may have changed.
#pragma once

#include <string>

#include "database/connection.h"

// Creates the table when it is missing (databases made before the journal).
void EnsureJournalKeys(const ConnectionPtr& pConnection);
// Whether the key is in the table. Raises _com_error.
bool JournalKeyExists(const ConnectionPtr& pConnection, const std::string& key);
// Adds the key. Raises _com_error, also when it is there already.
void InsertJournalKey(const ConnectionPtr& pConnection, const std::string& key);
// Deletes every key k with low <= k < high; returns how many went. Raises
// _com_error.
long DeleteJournalKeys(const ConnectionPtr& pConnection, const std::string& low,
                       const std::string& high);
