// Another program on the machine that waits for accounted jobs: opens
// "Global\JOB_EVENT", as a program in a user's session does, with
// SYNCHRONIZE alone and, as often as its second argument says (once by
// default), tells the test it is waiting (the event named by its first
// argument) and waits.
// Exit codes: 0 woken every time, 1 not woken within the time, 2 could not
// open the event, 3 bad arguments.
#include <windows.h>

#include <cstdlib>

#include "service_core/win_owners.h"

int main(int argc, char** argv) {
  if (argc < 2) return 3;
  UniqueHandle jobEvent(OpenEventA(SYNCHRONIZE, FALSE, "Global\\JOB_EVENT"));
  if (!jobEvent) return 2;
  UniqueHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]));
  if (!ready) return 3;
  const int nWakes = argc > 2 ? std::atoi(argv[2]) : 1;
  for (int i = 0; i < nWakes; ++i) {
    // Signals and starts waiting in one step, so no pulse falls in between.
    if (SignalObjectAndWait(ready.get(), jobEvent.get(), 30000, FALSE) != WAIT_OBJECT_0) {
      return 1;
    }
  }
  return 0;
}
