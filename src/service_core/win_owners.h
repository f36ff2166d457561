// Owners of Win32 resources: each holds one resource and gives it back once,
// on whichever path its scope ends. None of them can be copied; all of them
// can be moved. A null (or, for kernel handles, INVALID_HANDLE_VALUE) value
// means "nothing held".
#pragma once

#include <windows.h>
#include <lmcons.h>
#include <lmapibuf.h>
#include <objbase.h>
#include <winspool.h>

#include <utility>

namespace owners {

// The common part: a value and the one call that gives it back.
template <class T, class Traits>
class Owner {
 public:
  Owner() noexcept : m_value(Traits::Empty()) {}
  explicit Owner(T value) noexcept : m_value(value) {}
  ~Owner() { reset(); }
  Owner(Owner&& other) noexcept : m_value(other.release()) {}
  // The new value is taken before the old one is given back, so that moving
  // a freshly loaded module over the old one never unloads it in between.
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;

  T get() const noexcept { return m_value; }
  explicit operator bool() const noexcept { return Traits::Held(m_value); }
  // Gives up ownership without giving the resource back.
  T release() noexcept {
    T value = m_value;
    m_value = Traits::Empty();
    return value;
  }
  void reset(T value = Traits::Empty()) noexcept {
    T old = m_value;
    m_value = value;
    if (Traits::Held(old)) Traits::Free(old);
  }
  // For functions that return the resource through an out parameter: gives
  // back what is held and hands out the empty slot.
  T* put() noexcept {
    reset();
    return &m_value;
  }

 private:
  T m_value;
};

struct KernelHandleTraits {
  static HANDLE Empty() { return nullptr; }
  static bool Held(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { CloseHandle(h); }
};
struct RegKeyTraits {
  static HKEY Empty() { return nullptr; }
  static bool Held(HKEY h) { return h != nullptr; }
  static void Free(HKEY h) { RegCloseKey(h); }
};
struct ScHandleTraits {
  static SC_HANDLE Empty() { return nullptr; }
  static bool Held(SC_HANDLE h) { return h != nullptr; }
  static void Free(SC_HANDLE h) { CloseServiceHandle(h); }
};
struct ModuleTraits {
  static HMODULE Empty() { return nullptr; }
  static bool Held(HMODULE h) { return h != nullptr; }
  static void Free(HMODULE h) { FreeLibrary(h); }
};
struct PrinterTraits {
  static HANDLE Empty() { return nullptr; }
  static bool Held(HANDLE h) { return h != nullptr; }
  static void Free(HANDLE h) { ClosePrinter(h); }
};
// FindFirstPrinterChangeNotification reports failure as INVALID_HANDLE_VALUE.
struct ChangeNotificationTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool Held(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { FindClosePrinterChangeNotification(h); }
};
struct MappedViewTraits {
  static const void* Empty() { return nullptr; }
  static bool Held(const void* p) { return p != nullptr; }
  static void Free(const void* p) { UnmapViewOfFile(p); }
};
struct NetApiBufferTraits {
  static LPBYTE Empty() { return nullptr; }
  static bool Held(LPBYTE p) { return p != nullptr; }
  static void Free(LPBYTE p) { NetApiBufferFree(p); }
};
struct LocalMemoryTraits {
  static HLOCAL Empty() { return nullptr; }
  static bool Held(HLOCAL h) { return h != nullptr; }
  static void Free(HLOCAL h) { LocalFree(h); }
};

}  // namespace owners

// A kernel object handle (event, mutex, thread, process, file, mapping).
using UniqueHandle = owners::Owner<HANDLE, owners::KernelHandleTraits>;
// An open registry key.
using RegKey = owners::Owner<HKEY, owners::RegKeyTraits>;
// A handle of the Service Control Manager or of one of its services.
using ScHandle = owners::Owner<SC_HANDLE, owners::ScHandleTraits>;
// A loaded library module.
using ModuleHandle = owners::Owner<HMODULE, owners::ModuleTraits>;
// A printer opened with OpenPrinter.
using PrinterHandle = owners::Owner<HANDLE, owners::PrinterTraits>;
// A printer change notification.
using ChangeNotification = owners::Owner<HANDLE, owners::ChangeNotificationTraits>;
// A view of a file mapping (MapViewOfFile).
using MappedView = owners::Owner<const void*, owners::MappedViewTraits>;
// A buffer that a network management function allocated (NetSessionEnum, ...).
using NetApiBuffer = owners::Owner<LPBYTE, owners::NetApiBufferTraits>;

// A buffer that the system allocated for the caller to LocalFree
// (FormatMessage, GetSecurityInfo, ...), seen as a T*.
template <class T>
class LocalBuffer {
 public:
  LocalBuffer() noexcept = default;
  explicit LocalBuffer(T* p) noexcept : m_owner(static_cast<HLOCAL>(p)) {}
  T* get() const noexcept { return static_cast<T*>(m_owner.get()); }
  explicit operator bool() const noexcept { return static_cast<bool>(m_owner); }
  T* release() noexcept { return static_cast<T*>(m_owner.release()); }
  void reset(T* p = nullptr) noexcept { m_owner.reset(static_cast<HLOCAL>(p)); }
  // For out parameters typed as T** (or, cast, as the API's own type).
  T** put() noexcept {
    m_owner.reset();
    return reinterpret_cast<T**>(m_owner.put());
  }

 private:
  owners::Owner<HLOCAL, owners::LocalMemoryTraits> m_owner;
};

// COM on the calling thread for the length of a scope: CoUninitialize is
// called exactly when CoInitialize succeeded (S_FALSE included).
class ComApartment {
 public:
  ComApartment() noexcept : m_hr(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(m_hr)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT Result() const noexcept { return m_hr; }

 private:
  HRESULT m_hr;
};

// COM on the calling thread from the first call until the thread ends. For
// work that runs again and again on one thread (accounting calls): under
// Wine one CoInitialize/CoUninitialize pair costs about 2.5 ms, more than
// the rest of an accounted job together.
inline void EnsureThreadComApartment() {
  thread_local ComApartment apartment;
  (void)apartment;
}

// Keeps the error of a failed step as the thread's last error after the
// owners of the operation have given their resources back (which may change
// it). Declare it before them.
class LastErrorKeeper {
 public:
  LastErrorKeeper() = default;
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
  ~LastErrorKeeper() {
    if (m_bSet) SetLastError(m_dwError);
  }
  void Capture() { Capture(GetLastError()); }
  void Capture(DWORD dwError) {
    m_dwError = dwError;
    m_bSet = true;
  }

 private:
  DWORD m_dwError = 0;
  bool m_bSet = false;
};
