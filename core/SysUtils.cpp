#include "core/SysUtils.h"

#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <limits>

#include "core/Consts.h"
#include "platform/Platform.h"
#include "platform/System.h"

namespace detail {

std::string FormatImpl(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(&out[0], out.size(), fmt, ap2);
    out.resize(static_cast<std::size_t>(n));
  }
#pragma GCC diagnostic pop
  va_end(ap2);
  va_end(ap);
  return out;
}

}  // namespace detail

void RaiseLastOSError() {
  RaiseLastOSError(plat::Sys().GetLastError());
}

void RaiseLastOSError(std::uint32_t code) {
  throw EOSError(Format(SOSError, static_cast<int>(code), plat::SysErrorMessage(code)), code);
}

std::string ExpandFileName(const std::string& name) {
  if (name.empty()) return name;
  std::error_code ec;
  auto p = std::filesystem::absolute(std::filesystem::path(name), ec);
  if (ec) return name;
  return p.lexically_normal().string();
}

std::string ErrorReportText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
    return message + ".";
  return message;
}

std::int32_t RoundHalfEven(double v) {
  if (!(v > -9.2e18 && v < 9.2e18)) return 0;
  // v - floor(v) is exact, so the half is seen exactly.
  double f = std::floor(v);
  const double fraction = v - f;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
  const auto whole = static_cast<std::uint64_t>(static_cast<std::int64_t>(f));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(whole));
}

bool CheckedMul(std::size_t a, std::size_t b, std::size_t& out) {
  if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return false;
  out = a * b;
  return true;
}

bool CheckedAdd(std::size_t a, std::size_t b, std::size_t& out) {
  if (b > std::numeric_limits<std::size_t>::max() - a) return false;
  out = a + b;
  return true;
}
