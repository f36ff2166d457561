// winspool.drv stand-in: the spooler functions (spooler_functions.cpp)
// reach one spooler per process, whose state is the channel's, so that a
// test program elsewhere sees every call and changes the queues.
#include "spooler_channel.h"

namespace sim {

SpoolerCore* CurrentSpoolerCore() {
  // Made at the first call, never destroyed: threads of the program may
  // still call while the process ends.
  static SpoolerCore* spooler = []() -> SpoolerCore* {
    auto* place = new SharedSpoolerPlace();
    return place->Ok() ? new SpoolerCore(place->Place()) : nullptr;
  }();
  return spooler;
}

}  // namespace sim
