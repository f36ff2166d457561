#include "pipe_intake/connection_count.h"

CConnectionCount::Ticket::~Ticket() {
  if (m_count) m_count->Leave();
}

CConnectionCount::Ticket& CConnectionCount::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    if (m_count) m_count->Leave();
    m_count = std::move(other.m_count);
  }
  return *this;
}

CConnectionCount::CConnectionCount()
    : m_nHeld(0), m_hIdle(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}

CConnectionCount::Ticket CConnectionCount::Enter(const std::shared_ptr<CConnectionCount>& count) {
  if (!count) return Ticket();
  std::lock_guard<std::mutex> lock(count->m_lock);
  if (count->m_nHeld++ == 0 && count->m_hIdle) ResetEvent(count->m_hIdle.get());
  return Ticket(count);
}

void CConnectionCount::Leave() {
  std::lock_guard<std::mutex> lock(m_lock);
  if (--m_nHeld == 0 && m_hIdle) SetEvent(m_hIdle.get());
}

bool CConnectionCount::WaitIdle(DWORD dwMilliseconds) const {
  if (!m_hIdle) return false;
  return WaitForSingleObject(m_hIdle.get(), dwMilliseconds) == WAIT_OBJECT_0;
}

unsigned CConnectionCount::Held() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_nHeld;
}
