#include "service_core/work_count.h"

CWorkCount::Ticket::~Ticket() {
  if (m_count) m_count->Leave();
}

CWorkCount::Ticket& CWorkCount::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    if (m_count) m_count->Leave();
    m_count = std::move(other.m_count);
  }
  return *this;
}

CWorkCount::CWorkCount()
    : m_nHeld(0), m_hIdle(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

CWorkCount::Ticket CWorkCount::Enter(const std::shared_ptr<CWorkCount>& count) {
  if (!count) return Ticket();
  std::lock_guard<std::mutex> lock(count->m_lock);
  if (count->m_nHeld++ == 0 && count->m_hIdle) ResetEvent(count->m_hIdle.get());
  return Ticket(count);
}

void CWorkCount::Leave() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (--m_nHeld == 0 && m_hIdle) SetEvent(m_hIdle.get());
}

bool CWorkCount::WaitIdle(DWORD dwMilliseconds) const {
  if (!m_hIdle) return false;
  return WaitForSingleObject(m_hIdle.get(), dwMilliseconds) == WAIT_OBJECT_0;
}

unsigned CWorkCount::Held() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nHeld;
}
