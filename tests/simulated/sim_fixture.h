// Test-side ownership of a simulated piece: created with the fixture, so a
// test starts from an empty record, and checked for leaks when the fixture
// ends, so that a handle left open or a block freed twice fails the test
// that caused it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace sim {

template <class T>
class Owned {
 public:
  template <class... Args>
  explicit Owned(Args&&... args) : m_piece(new T(std::forward<Args>(args)...)) {}
  ~Owned() {
    EXPECT_EQ(m_piece->Leaks(), "") << "the code under test did not give back "
                                       "everything the simulated platform handed out";
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  T* operator->() const { return m_piece.get(); }
  T& operator*() const { return *m_piece; }

 private:
  std::unique_ptr<T> m_piece;
};

}  // namespace sim
