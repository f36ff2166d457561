// Another program on the machine that waits for accounted jobs: opens
// "JOB_EVENT" with SYNCHRONIZE alone, tells the test it is waiting (the
// event named by its first argument), and waits.
// Exit codes: 0 woken, 1 not woken within the time, 2 could not open the
// event, 3 bad arguments.
#include <windows.h>

#include "service_core/win_owners.h"

int main(int argc, char** argv) {
  if (argc < 2) return 3;
  UniqueHandle jobEvent(OpenEventA(SYNCHRONIZE, FALSE, "JOB_EVENT"));
  if (!jobEvent) return 2;
  UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]));
  if (!ready) return 3;
  // Signals and starts waiting in one step, so no pulse falls in between.
  DWORD rc = SignalObjectAndWait(ready.get(), jobEvent.get(), 30000, FALSE);
  return rc == WAIT_OBJECT_0 ? 0 : 1;
}
