// One job-control rule: the unit of the permission cache and the body of a
// permission-update message on the pipe (three little-endian int32).
#pragma once

#include <stdint.h>

struct PERMISSION_ENTRY {
  int32_t idUser;      // -1: every user
  int32_t idPrinter;   // -1: every printer
  int32_t Action;      // the spooler's SetJob command, 0 = none
};
static_assert(sizeof(PERMISSION_ENTRY) == 12, "pipe payload layout");
