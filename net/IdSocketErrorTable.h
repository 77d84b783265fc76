#pragma once

// The socket failures the transport knows by name, in one table: the system's error number,
// the transport's number for it (the same on every platform) and the text of that number. The
// errno translation of the POSIX stack and the common error texts both read it.

#include <array>
#include <cerrno>
#include <cstdint>

struct TIdSocketErrorEntry {
  int errnum;
  int32_t code;
  // The text of code; null on every row after the first one for the same code.
  const char* text;
};

inline constexpr std::array kSocketErrors = std::to_array<TIdSocketErrorEntry>({
    {EINTR, 10004, "Interrupted system call."},
    {EBADF, 10009, "Bad file number."},
    {EACCES, 10013, "Access denied."},
    {EPERM, 10013, nullptr},
    {EFAULT, 10014, "Buffer fault."},
    {EINVAL, 10022, "Invalid argument."},
    {EMFILE, 10024, "Too many open files."},
    {ENFILE, 10024, nullptr},
    {EWOULDBLOCK, 10035, "Operation would block."},
    {EINPROGRESS, 10036, "Operation now in progress."},
    {EALREADY, 10037, "Operation already in progress."},
    {ENOTSOCK, 10038, "Socket operation on non-socket."},
    {EDESTADDRREQ, 10039, "Destination address required."},
    {EMSGSIZE, 10040, "Message too long."},
    {EPROTOTYPE, 10041, "Protocol wrong type for socket."},
    {ENOPROTOOPT, 10042, "Bad protocol option."},
    {EPROTONOSUPPORT, 10043, "Protocol not supported."},
    {ESOCKTNOSUPPORT, 10044, "Socket type not supported."},
    {EOPNOTSUPP, 10045, "Operation not supported on socket."},
    {EPFNOSUPPORT, 10046, "Protocol family not supported."},
    {EAFNOSUPPORT, 10047, "Address family not supported by protocol family."},
    {EADDRINUSE, 10048, "Address already in use."},
    {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
    {ENETDOWN, 10050, "Network is down."},
    {ENETUNREACH, 10051, "Network is unreachable."},
    {ENETRESET, 10052, "Net dropped connection or reset."},
    {ECONNABORTED, 10053, "Software caused connection abort."},
    {ECONNRESET, 10054, "Connection reset by peer."},
    {ENOBUFS, 10055, "No buffer space available."},
    {ENOMEM, 10055, nullptr},
    {EISCONN, 10056, "Socket is already connected."},
    {ENOTCONN, 10057, "Socket is not connected."},
    {EPIPE, 10058, "Cannot send or receive after socket is closed."},
    {ESHUTDOWN, 10058, nullptr},
    {ETOOMANYREFS, 10059, "Too many references, cannot splice."},
    {ETIMEDOUT, 10060, "Connection timed out."},
    {ECONNREFUSED, 10061, "Connection refused."},
    {ELOOP, 10062, "Too many levels of symbolic links."},
    {ENAMETOOLONG, 10063, "File name too long."},
    {EHOSTDOWN, 10064, "Host is down."},
    {EHOSTUNREACH, 10065, "No route to host."},
    {ENOTEMPTY, 10066, "Directory not empty"},
});

// The row of the system error number errnum; null when it has no counterpart. Never raises.
constexpr const TIdSocketErrorEntry* FindSocketErrorByErrno(int errnum) noexcept {
  for (const TIdSocketErrorEntry& entry : kSocketErrors) {
    if (entry.errnum == errnum) {
      return &entry;
    }
  }
  return nullptr;
}

// The text of the transport's number code; null for a number not in the table. Never raises.
constexpr const char* SocketErrorCodeText(int32_t code) noexcept {
  for (const TIdSocketErrorEntry& entry : kSocketErrors) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return nullptr;
}

// Each number gets its text from its first row, so that row must carry one.
static_assert(
    [] {
      for (const TIdSocketErrorEntry& entry : kSocketErrors) {
        if (SocketErrorCodeText(entry.code) == nullptr) {
          return false;
        }
      }
      return true;
    }(),
    "the first row of every transport number carries its text");
