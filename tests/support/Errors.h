// What a call raises, as text, so that a test can compare the error it expects in one line.
#pragma once

#include <functional>
#include <string>

#include "core/SysUtils.h"

// The message of the error of class E that f raises; "<no exception>" when f returns normally. An error of
// another class passes through and fails the test.
template <typename E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message;
  }
  return "<no exception>";
}

// "Class: message" of the error f raises; "no error" when f returns normally.
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "no error";
}
