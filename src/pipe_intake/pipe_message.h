// The two payloads of the pipe, taken from the bytes a client actually sent.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "database/permission_entry.h"
#include "job_accounting/job_data.h"

// A job report: the first min(cbReceived, 1,640) bytes; every byte of the
// record that was not received is zero.
JOB_DATA JobFromPayload(const uint8_t* pPayload, size_t cbReceived);

// A permission entry from the first 12 bytes (idUser, idPrinter, Action);
// false, with the entry untouched, when fewer were received.
bool PermissionFromPayload(const uint8_t* pPayload, size_t cbReceived, PERMISSION_ENTRY& entry);
