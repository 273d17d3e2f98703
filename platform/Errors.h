// The exception family every component raises: one base class with the
// system's message, and the stream and list errors the components name.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  // osError: the system's error number behind the failure, when there is one.
  explicit Exception(std::string message, int osError = 0)
      : message_(std::move(message)), osError_(osError) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  int OsError() const noexcept { return osError_; }

 private:
  std::string message_;
  int osError_;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EListError : public Exception {
 public:
  using Exception::Exception;
};
class EUserCanceled : public Exception {
 public:
  using Exception::Exception;
};

// Replaces each "%s" and "%d" of a fixed message by the next argument, in order.
std::string FormatMessage(const std::string& pattern, std::initializer_list<std::string> args);
