#include "spooler_channel.h"

#include <string>

namespace sim {

SharedSpoolerPlace::SharedSpoolerPlace() {
  const std::string base = kSpoolerChannel;
  // A mapping backed by the paging file starts zeroed: an empty spooler.
  m_mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                 sizeof(spool::State), (base + ".State").c_str());
  m_lock = CreateMutexA(nullptr, FALSE, (base + ".Lock").c_str());
  m_activity = CreateEventA(nullptr, FALSE, FALSE, (base + ".Activity").c_str());
  if (!m_mapping || !m_lock || !m_activity) return;
  m_state = static_cast<spool::State*>(
      MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(spool::State)));
}

SharedSpoolerPlace::~SharedSpoolerPlace() {
  if (m_state) UnmapViewOfFile(m_state);
  if (m_mapping) CloseHandle(m_mapping);
  if (m_lock) CloseHandle(m_lock);
  if (m_activity) CloseHandle(m_activity);
}

SpoolerPlace SharedSpoolerPlace::Place() const {
  return {m_state, m_lock, m_activity, kSpoolerChannel};
}

}  // namespace sim
