// The reusable frame of a Windows service that runs in a process of its own:
// connection to the Service Control Manager, status reporting, control
// requests, event-log reporting and the command-line installer.
#pragma once

#include <windows.h>

#include <mutex>

// The event ids (EVMSG_...), generated from resources/messages.mc.
#include "messages.h"

class CSvcBase {
 public:
  // pszDependencies: the services to start first, as CreateService takes
  // them (each name zero-terminated, the list ended by another zero); null
  // for none.
  explicit CSvcBase(const char* pszName, const char* pszDependencies = nullptr);
  virtual ~CSvcBase();

  // Overridable operations, in this order.
  virtual void Run();
  virtual BOOL Prepare();
  virtual void HandleStop();
  virtual void HandleInterrogate();
  virtual void HandlePause();
  virtual void HandleContinue();
  virtual void HandleShutdown();
  virtual BOOL HandleUserControl(DWORD dwControl);

  // Writes one event; the strings are counted from the left, nulls skipped.
  void ReportToEventLog(WORD wType, DWORD dwEventId, const char* s1 = nullptr,
                        const char* s2 = nullptr, const char* s3 = nullptr);

  // While a stop takes time: STOP_PENDING again, with the next checkpoint
  // and the time (ms) within which the next report or the end will come.
  // Nothing is sent when no stop is pending. Any thread may call it.
  void ReportStopProgress(DWORD dwWaitHintMs);

  BOOL RunDispatcher();
  static void WINAPI ServiceEntry(DWORD dwArgc, LPSTR* lpszArgv);
  static void WINAPI ControlHandler(DWORD dwControl);
  // The handler registered with the SCM: ControlHandler for every code
  // (the extended handler is needed for SERVICE_CONTROL_PRESHUTDOWN).
  static DWORD WINAPI ControlHandlerEx(DWORD dwControl, DWORD dwEventType, LPVOID pEventData,
                                       LPVOID pContext);
  BOOL StartUp();

  // Command line, installation and removal.
  BOOL HandleCommandLine(int argc, char** argv);
  BOOL IsServiceInstalled();
  BOOL InstallService();
  BOOL RemoveService();

  CSvcBase(const CSvcBase&) = delete;
  CSvcBase& operator=(const CSvcBase&) = delete;

  static CSvcBase* s_pInstance;

  char m_szName[64];
  const char* m_pszDependencies;
  SERVICE_STATUS_HANDLE m_hStatus;
  SERVICE_STATUS m_status;
  volatile BOOL m_bRunning;   // shared with the control handler's thread
  HANDLE m_hEventLog;

 protected:
  void SendStatus();
  // STOP_PENDING with the first checkpoint, sent at once.
  void EnterStopPending();
  // A shutdown or pre-shutdown notice the service accepts: the stop
  // sequence, with HandleShutdown in place of HandleStop.
  void ShutdownStop();

 private:
  // The status record is changed and sent by the control handler's thread
  // and by the service's threads: one at a time.
  std::mutex m_statusLock;
};
