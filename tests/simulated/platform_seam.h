// How a simulated platform piece takes the place of Win32 functions in a
// test program, while the code under test calls the API by its own name and
// the product links the real DLLs.
//
// Which form depends on how mingw-w64's headers declare the function:
//
// 1. Declared dllimport (advapi32: the event log, the SCM status channel).
//    The code calls through the import pointer __imp_<name>. The test
//    program defines that pointer itself with SIM_REPLACE_IMPORT; the import
//    library's member is then never pulled in.
//
// 2. Declared without dllimport (winspool.h: the spooler; lmshare.h and
//    lmapibuf.h: network sessions). The code calls <name> directly, which the
//    import library provides as a thunk that jumps through __imp_<name>.
//    Defining __imp_<name> here would collide with that library member
//    ("multiple definition"), so the function itself is defined, with
//    SIM_DEFINE_FUNCTION, under the header's own declaration. The same
//    definitions, exported by a .def file, make the native DLL that Wine
//    loads in place of its own for end-to-end tests.
//
// Both forms are checked by the compiler against the platform header's
// declaration (decltype(&::name)): a simulation with another signature does
// not build. A build step (quillon_check_no_imports in
// tests/simulated/CMakeLists.txt) then makes sure that no replaced function
// is still imported from the real DLL.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <type_traits>

// Form 1: `impl` (a function with the platform's signature) is what the code
// under test reaches when it calls `name`.
#define SIM_REPLACE_IMPORT(name, impl)                                        \
  static_assert(std::is_same<decltype(&::name), decltype(&impl)>::value,      \
                #impl " must have the signature of the platform's " #name);   \
  extern "C" {                                                                \
  decltype(&::name) __imp_##name = &impl;                                     \
  }

// Form 2: opens the definition of `name` itself, e.g.
//   SIM_DEFINE_FUNCTION(OpenPrinterA, BOOL, (LPSTR p, LPHANDLE ph, LPPRINTER_DEFAULTSA d)) {
//     return sim::Spooler::Call(...);
//   }
// The definition is checked twice: a C function of the same name with other
// parameters conflicts with the header's declaration, and the static_assert
// compares the whole type, calling convention and result included.
#define SIM_DEFINE_FUNCTION(name, result, params)                             \
  extern "C" result WINAPI name params;                                       \
  static_assert(std::is_same<decltype(&::name), result(WINAPI*) params>::value, \
                #name " must have the platform's signature");                 \
  extern "C" result WINAPI name params

namespace sim {

// Base of every simulated piece. A test fixture owns the piece (see
// sim_fixture.h); while the object lives, the replaced functions reach it
// through Current(). Two pieces of one kind at once are a fault of the test
// program, which then ends at once rather than mixing their records.
template <class T>
class Piece {
 public:
  Piece() {
    T* expected = nullptr;
    if (!Slot().compare_exchange_strong(expected, static_cast<T*>(this))) {
      std::abort();
    }
  }
  virtual ~Piece() { Slot().store(nullptr); }
  Piece(const Piece&) = delete;
  Piece& operator=(const Piece&) = delete;

  // The piece now installed, or null between tests.
  static T* Current() { return Slot().load(); }

  // Empty when everything the piece handed out was given back exactly once;
  // otherwise says what was not, with the counts.
  virtual std::string Leaks() const = 0;

 private:
  static std::atomic<T*>& Slot() {
    static std::atomic<T*> current{nullptr};
    return current;
  }
};

}  // namespace sim
