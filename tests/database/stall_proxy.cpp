#include "stall_proxy.h"

#include <ws2tcpip.h>

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<u_short>(port));
  return addr;
}

}  // namespace

CStallProxy::CStallProxy(int targetPort)
    : m_targetPort(targetPort),
      m_hReleased(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_hHeld(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = Loopback(0);
  int cb = sizeof(addr);
  if (m_listener == INVALID_SOCKET ||
      bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(m_listener, 8) != 0 ||
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &cb) != 0) {
    return;
  }
  m_port = ntohs(addr.sin_port);
  m_acceptor = std::thread([this] { Accept(); });
}

CStallProxy::~CStallProxy() {
  m_bEnding = true;
  SetEvent(m_hReleased.get());
  if (m_listener != INVALID_SOCKET) closesocket(m_listener);
  if (m_acceptor.joinable()) m_acceptor.join();
  {
    std::lock_guard<std::mutex> lock(m_lock);
    for (SOCKET s : m_sockets) shutdown(s, SD_BOTH);
  }
  for (std::thread& t : m_threads) t.join();
  for (SOCKET s : m_sockets) closesocket(s);
  WSACleanup();
}

void CStallProxy::Hold() {
  ResetEvent(m_hHeld.get());
  ResetEvent(m_hReleased.get());
}

void CStallProxy::Release() { SetEvent(m_hReleased.get()); }

bool CStallProxy::WaitHeld(DWORD timeoutMs) const {
  return WaitForSingleObject(m_hHeld.get(), timeoutMs) == WAIT_OBJECT_0;
}

std::string CStallProxy::Through(const std::string& connectionString) const {
  std::string out = connectionString;
  const size_t at = out.find("Port=");
  if (at == std::string::npos) return out;
  const size_t end = out.find(';', at);
  out.replace(at, (end == std::string::npos ? out.size() : end) - at,
              "Port=" + std::to_string(m_port));
  return out;
}

void CStallProxy::Accept() {
  for (;;) {
    SOCKET client = accept(m_listener, nullptr, nullptr);
    if (client == INVALID_SOCKET || m_bEnding) {
      if (client != INVALID_SOCKET) closesocket(client);
      return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_sockets.push_back(client);
    m_threads.emplace_back([this, client] { Relay(client); });
  }
}

void CStallProxy::Relay(SOCKET client) {
  if (WaitForSingleObject(m_hReleased.get(), 0) != WAIT_OBJECT_0) {
    SetEvent(m_hHeld.get());
    WaitForSingleObject(m_hReleased.get(), INFINITE);
  }
  if (m_bEnding) return;
  SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bEnding) {
      closesocket(server);
      return;
    }
    m_sockets.push_back(server);
  }
  sockaddr_in addr = Loopback(m_targetPort);
  if (connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) return;
  char buffer[16384];
  for (;;) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    FD_SET(server, &readable);
    if (select(0, &readable, nullptr, nullptr, nullptr) <= 0) return;
    for (SOCKET from : {client, server}) {
      if (!FD_ISSET(from, &readable)) continue;
      const int n = recv(from, buffer, sizeof(buffer), 0);
      if (n <= 0) return;
      const SOCKET to = from == client ? server : client;
      for (int sent = 0; sent < n;) {
        const int k = send(to, buffer + sent, n - sent, 0);
        if (k <= 0) return;
        sent += k;
      }
    }
  }
}
