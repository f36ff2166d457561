#include "spooler_sim.h"

#include <atomic>

namespace sim {
namespace detail {

LocalSpoolerPlace::LocalSpoolerPlace()
    : m_state(new spool::State()),
      m_lock(CreateMutexA(nullptr, FALSE, nullptr)),
      m_activity(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
  // Notification events are named; the process id and a counter keep test
  // programs that run at the same time, and successive fixtures, apart.
  static std::atomic<unsigned> instances{0};
  m_prefix = "QuillonSpoolerSim." + std::to_string(GetCurrentProcessId()) + "." +
             std::to_string(++instances);
}

LocalSpoolerPlace::~LocalSpoolerPlace() {
  CloseHandle(m_lock);
  CloseHandle(m_activity);
}

SpoolerPlace LocalSpoolerPlace::Place() { return {m_state.get(), m_lock, m_activity, m_prefix}; }

}  // namespace detail

Spooler::Spooler() : SpoolerCore(Place()) {}
Spooler::~Spooler() = default;

SpoolerCore* CurrentSpoolerCore() { return Spooler::Current(); }

}  // namespace sim
