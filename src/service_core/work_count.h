// The connection threads at work, counted so that the listener can wait for
// them when the service stops: each holds a ticket for as long as it uses
// the service object.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include "service_core/win_owners.h"

class CConnectionCount {
 public:
  // Held by one connection; gives its place back when destroyed. Empty
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
    friend class CConnectionCount;
    explicit Ticket(std::shared_ptr<CConnectionCount> count) : m_count(std::move(count)) {}
    std::shared_ptr<CConnectionCount> m_count;
  };

  CConnectionCount();
  CConnectionCount(const CConnectionCount&) = delete;
  CConnectionCount& operator=(const CConnectionCount&) = delete;

  static Ticket Enter(const std::shared_ptr<CConnectionCount>& count);
  // True when no ticket is held, at once or within dwMilliseconds.
  bool WaitIdle(DWORD dwMilliseconds) const;
  // The tickets held now.
  unsigned Held() const;

 private:
  void Leave();

  mutable std::mutex m_lock;
  unsigned m_nHeld;
  UniqueHandle m_hIdle;   // manual-reset, signalled while no ticket is held
};
