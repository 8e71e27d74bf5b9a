// Exceptions with message texts, printf-style formatting, and the small system helpers the framework uses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

namespace detail {
inline const char* FormatArg(const std::string& s) {
  return s.c_str();
}
inline const char* FormatArg(const char* s) {
  return s;
}
template <typename T>
T FormatArg(T v) {
  static_assert(std::is_arithmetic<T>::value || std::is_pointer<T>::value,
                "Format takes numbers and strings");
  return v;
}
std::string FormatImpl(const char* fmt, ...);
}  // namespace detail

// printf-style formatting that also takes std::string for %s. With no arguments the format's text is
// returned with "%%" folded, as a format with arguments would print it.
template <typename... Args>
std::string Format(const char* fmt, const Args&... args) {
  return detail::FormatImpl(fmt, detail::FormatArg(args)...);
}

// Base of every error the program raises; Message is what the user sees.
class Exception : public std::exception {
 public:
  explicit Exception(std::string msg) : Message(std::move(msg)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  // The class name shown in diagnostics and compared by tests.
  virtual const char* ClassName() const { return "Exception"; }
  std::string Message;
};

#define DS_DECLARE_EXCEPTION(Name, Base)                     \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

// The silent abort: unwinds like any error but is never reported to the user.
DS_DECLARE_EXCEPTION(EAbort, Exception);
DS_DECLARE_EXCEPTION(EConvertError, Exception);
DS_DECLARE_EXCEPTION(EInvalidOperation, Exception);
DS_DECLARE_EXCEPTION(EInvalidPointer, Exception);
DS_DECLARE_EXCEPTION(EListError, Exception);
DS_DECLARE_EXCEPTION(EOutOfMemory, Exception);
DS_DECLARE_EXCEPTION(EStreamError, Exception);
DS_DECLARE_EXCEPTION(EFilerError, EStreamError);
DS_DECLARE_EXCEPTION(EReadError, EFilerError);
DS_DECLARE_EXCEPTION(EWriteError, EFilerError);
DS_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
DS_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);
DS_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);

class EOSError : public Exception {
 public:
  EOSError(std::string msg, std::uint32_t code) : Exception(std::move(msg)), ErrorCode(code) {}
  const char* ClassName() const override { return "EOSError"; }
  std::uint32_t ErrorCode;
};

// Raises EOSError "System Error.  Code: %d.\r\n%s" for the calling thread's last-error code.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(std::uint32_t code);

// Absolute form of a file name, as error texts show it.
std::string ExpandFileName(const std::string& name);

// Text of the message box the application shows for an error: the message with "." appended when it is
// not empty and its last character's code is greater than that of ".".
std::string ErrorReportText(const std::string& message);

// The nearest integer to v with halves to even, whatever the floating-point rounding mode; the low 32 bits
// of the 64-bit result. 0 for NaN and values beyond the 64-bit range.
std::int32_t RoundHalfEven(double v);

// Checked size arithmetic for allocations driven by file data; false on overflow of size_t or the limit.
bool CheckedMul(std::size_t a, std::size_t b, std::size_t& out);
bool CheckedAdd(std::size_t a, std::size_t b, std::size_t& out);
