// A fixture that runs each test in a single-threaded COM apartment of its own, entered
// before the test and left after it. Header-only, so that programs that link neither the
// test helpers nor the object can use it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

namespace test_support {

class ComApartment : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  // Fixtures that hold interface pointers release them before calling this.
  void TearDown() override { CoUninitialize(); }
};

}  // namespace test_support
