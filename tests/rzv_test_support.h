// Small helpers shared by the tests: what an RzvException thrown by a call
// carries (its native code, its text with or without the native error
// suffix), expectations on both, and values as little-endian bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/storage/byte_order.h"
#include "engine/storage/exception.h"

namespace rzv::testing {

// Native code of the RzvException f throws, 0 when it throws none. When
// message is given it receives the exception's Message().
inline int32_t CodeOf(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const RzvException& e) {
    if (message) *message = e.Message();
    return e.NativeError();
  }
  return 0;
}

// Message() of the RzvException f throws (without the native error suffix),
// "" when it throws none.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RzvException& e) {
    return e.Message();
  }
  return "";
}

// what() of the RzvException f throws: the text ending in " - Native error: "
// and the code; "" when it throws none.
inline std::string WhatOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RzvException& e) {
    return e.what();
  }
  return "";
}

// Expects f to throw an RzvException with this native code and Message().
template <typename F>
void ExpectError(F f, int32_t code, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const RzvException& e) {
    EXPECT_EQ(e.NativeError(), code);
    EXPECT_EQ(e.Message(), message);
  }
}

// For tables of refused calls: expects f to throw an RzvException with this
// native code and, unless message is null, this Message(); `what` names the
// case in every failure.
template <typename F>
void ExpectError(F f, int32_t code, const char* message, const std::string& what) {
  try {
    f();
    ADD_FAILURE() << what << ": no exception";
  } catch (const RzvException& e) {
    EXPECT_EQ(e.NativeError(), code) << what;
    if (message) {
      EXPECT_EQ(e.Message(), message) << what;
    }
  }
}

// The little-endian bytes of v, as records and files store it.
template <typename T>
std::vector<uint8_t> LeBytes(T v) {
  std::vector<uint8_t> b(sizeof v);
  StoreLE<T>(b.data(), v);
  return b;
}

}  // namespace rzv::testing
