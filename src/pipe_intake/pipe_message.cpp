#include "pipe_intake/pipe_message.h"

#include <cstring>

JOB_DATA JobFromPayload(const uint8_t* pPayload, size_t cbReceived) {
  JOB_DATA job;
  std::memset(&job, 0, sizeof(job));
  const size_t cb = cbReceived < sizeof(job) ? cbReceived : sizeof(job);
  if (pPayload && cb) std::memcpy(&job, pPayload, cb);
  return job;
}

bool PermissionFromPayload(const uint8_t* pPayload, size_t cbReceived, PERMISSION_ENTRY& entry) {
  if (!pPayload || cbReceived < sizeof(PERMISSION_ENTRY)) return false;
  std::memcpy(&entry, pPayload, sizeof(entry));
  return true;
}
