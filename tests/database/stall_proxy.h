// A TCP relay on 127.0.0.1 in front of a database server, which can hold
// new connections unanswered: a connect through it then waits as one to a
// server that does not answer would, until the relay lets it through.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service_core/win_owners.h"

class CStallProxy {
 public:
  explicit CStallProxy(int targetPort);
  ~CStallProxy();
  CStallProxy(const CStallProxy&) = delete;
  CStallProxy& operator=(const CStallProxy&) = delete;

  // The port it listens on; 0 when it could not listen.
  int Port() const { return m_port; }
  // While held, connections are accepted and left waiting; releasing lets
  // the waiting ones through.
  void Hold();
  void Release();
  // True once a connection waits (within timeoutMs).
  bool WaitHeld(DWORD timeoutMs) const;
  // The connection string with its Port= replaced by this relay's port.
  std::string Through(const std::string& connectionString) const;

 private:
  void Accept();
  void Relay(SOCKET client);

  int m_targetPort;
  int m_port = 0;
  SOCKET m_listener = INVALID_SOCKET;
  UniqueHandle m_hReleased;   // manual-reset: set while connections pass
  UniqueHandle m_hHeld;       // set when a connection waits
  std::atomic<bool> m_bEnding{false};
  std::mutex m_lock;
  std::vector<SOCKET> m_sockets;   // to close at the end, which ends the relays
  std::vector<std::thread> m_threads;
  std::thread m_acceptor;
};
