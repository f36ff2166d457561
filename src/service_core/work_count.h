// Threads at work, counted so that their owner can wait for them when the
// service stops: each holds a ticket for as long as it uses the service
// object (the pipe's connections, the per-job threads, the registrations of
// new names).
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "service_core/win_owners.h"

class CWorkCount {
 public:
  // Held by one thread; gives its place back when destroyed. Empty
  // tickets (default-constructed) count nothing.
  class Ticket {
   public:
    Ticket() = default;
    ~Ticket();
    Ticket(Ticket&& other) noexcept : m_count(std::move(other.m_count)) {}
    Ticket& operator=(Ticket&& other) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;

   private:
    friend class CWorkCount;
    explicit Ticket(std::shared_ptr<CWorkCount> count) : m_count(std::move(count)) {}
    std::shared_ptr<CWorkCount> m_count;
  };

  CWorkCount();
  CWorkCount(const CWorkCount&) = delete;
  CWorkCount& operator=(const CWorkCount&) = delete;

  static Ticket Enter(const std::shared_ptr<CWorkCount>& count);
  // True when no ticket is held, at once or within dwMilliseconds.
  bool WaitIdle(DWORD dwMilliseconds) const;
  // Signalled while no ticket is held (manual-reset).
  HANDLE IdleEvent() const { return m_hIdle.get(); }
  // The tickets held now.
  unsigned Held() const;

 private:
  void Leave();

  mutable std::mutex m_lock;
  unsigned m_nHeld;
  UniqueHandle m_hIdle;   // manual-reset, signalled while no ticket is held
};
