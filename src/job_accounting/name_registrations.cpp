#include "job_accounting/name_registrations.h"

#include <memory>
#include <new>
#include <utility>

#include "database/registration.h"
#include "service_core/quillon_service.h"
#include "service_core/win_owners.h"

struct CNameRegistrations::REQUEST {
  CWorkCount::Ticket work;   // given back last
  CNameRegistrations* pOwner = nullptr;
  std::string printer;
  std::string user;
  std::shared_ptr<UniqueHandle> done;   // the waiter may have gone
};

void CNameRegistrations::Register(const std::string& printer, const std::string& user,
                                  DWORD dwWaitMs) {
  std::unique_ptr<REQUEST> request(new REQUEST());
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!printer.empty() && m_pending.insert("P" + printer).second) request->printer = printer;
    if (!user.empty() && m_pending.insert("U" + user).second) request->user = user;
  }
  if (request->printer.empty() && request->user.empty()) return;   // under way already
  request->work = m_service.EnterWork();
  request->pOwner = this;
  request->done = std::make_shared<UniqueHandle>(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const std::shared_ptr<UniqueHandle> done = request->done;
  UniqueHandle thread(CreateThread(nullptr, 0, Routine, request.get(), 0, nullptr));
  if (!thread) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_pending.erase("P" + request->printer);
    m_pending.erase("U" + request->user);
    return;
  }
  request.release();   // the thread owns it now
  if (*done) WaitForSingleObject(done->get(), dwWaitMs);
}

DWORD WINAPI CNameRegistrations::Routine(LPVOID pParam) {
  std::unique_ptr<REQUEST> request(static_cast<REQUEST*>(pParam));
  CQuillonService& service = request->pOwner->m_service;
  {
    ComApartment apartment;   // the driver's diagnostics travel as COM error info
    try {
      if (!request->printer.empty()) {
        int32_t idPrinter = -1;
        const int hr = RegisterPrinter(service.pConnection, service.m_registrations,
                                       request->printer.c_str(), idPrinter, 1);
        // A row whose id did not come back resolves nothing; caching -1
        // would make it a rule for every printer.
        if (hr >= 0 && idPrinter >= 0) service.mapPrinters.Store(request->printer.c_str(), idPrinter);
      }
      if (!request->user.empty()) {
        int32_t idUser = 0;
        service.AddUser(request->user.c_str(), idUser);
      }
    } catch (const std::bad_alloc&) {
      // Registered again by the next job of the name.
    } catch (const _com_error&) {
    }
  }
  {
    std::lock_guard<std::mutex> lock(request->pOwner->m_lock);
    if (!request->printer.empty()) request->pOwner->m_pending.erase("P" + request->printer);
    if (!request->user.empty()) request->pOwner->m_pending.erase("U" + request->user);
  }
  if (*request->done) SetEvent(request->done->get());
  return 0;
}
