#include "pipe_intake/pipe_connection.h"

#include <cstring>
#include <memory>
#include <utility>

#include "pipe_intake/pipe_message.h"
#include "pipe_intake/pipe_protocol.h"
#include "pipe_intake/pipe_reader.h"
#include "service_core/exc.h"
#include "service_core/quillon_service.h"

namespace {

constexpr char kSizeText[] = "CQuillonService::ExtractDataFromPipe() sPipeData.dwSize - %d is wrong\n";

void HandleMessage(PIPE_CONN_PARAM& conn, const PIPE_DATA& header, const uint8_t* pPayload,
                   DWORD cbReceived) {
  CQuillonService& service = *conn.pService;
  switch (header.dwType) {
    case PIPE_JOB: {
      const JOB_DATA job = JobFromPayload(pPayload, cbReceived);
      CJobKeeper::CTicket ticket = service.TakeJob(job);
      // The client waits for the connection to end: once the journal holds
      // the job, that is its acknowledgment, whatever the database is
      // doing. A job the journal could not take is answered only when it
      // is settled, as before the journal.
      if (ticket.Durable()) conn.hPipe.reset();
      service.SettleJob(std::move(ticket));
      return;
    }
    case PIPE_PERMISSION: {
      PERMISSION_ENTRY entry;
      if (!PermissionFromPayload(pPayload, cbReceived, entry)) {
        FailConnection(kSizeText, static_cast<int>(cbReceived));
      }
      // A rule changes job control for every user of the machine.
      const auto pfnMayChange = service.m_settings.pipeIntake.pfnMayChangeRules;
      if (!pfnMayChange || !pfnMayChange(conn.hPipe.get())) {
        FailConnection("CQuillonService::ExtractDataFromPipe() the client may not change "
                       "permissions\n");
      }
      service.SetPermission(&entry);
      return;
    }
    default:
      FailConnection("CQuillonService::ExtractDataFromPipe() sPipeData.dwType - %d is unknown\n",
                     static_cast<int>(header.dwType));
  }
}

}  // namespace

DWORD ServePipeConnection(PIPE_CONN_PARAM& conn, std::string* pFailure) {
  if (!conn.pService) return static_cast<DWORD>(-1);
  try {
    CPipeReader reader(conn.hPipe.get(), conn.hStopEvent.get(),
                       conn.pService->m_settings.pipeIntake.dwReadTimeoutMs);
    PIPE_DATA header = {};
    const DWORD cbHeader = reader.Read(sizeof(header));
    std::memcpy(&header, reader.Data(), cbHeader);
    // Checked before anything is allocated for the payload.
    if (header.dwSize == 0 || header.dwSize > kMaxPipePayload) {
      FailConnection(kSizeText, static_cast<int>(header.dwSize));
    }
    const DWORD cbReceived = reader.Read(header.dwSize);
    HandleMessage(conn, header, reader.Data(), cbReceived);
    return 0;
  } catch (CExc* pExc) {
    if (pFailure) *pFailure = pExc->Message();
    delete pExc;
  } catch (...) {
    // Nothing may leave the thread; the connection just ends.
    if (pFailure) *pFailure = "unexpected exception";
  }
  return static_cast<DWORD>(-1);
}

DWORD WINAPI ExtractDataFromPipe(LPVOID pParam) {
  std::unique_ptr<PIPE_CONN_PARAM> conn(static_cast<PIPE_CONN_PARAM*>(pParam));
  if (!conn) return static_cast<DWORD>(-1);
  return ServePipeConnection(*conn, nullptr);
}
