// The exception family every component raises: one base class with the
// system's message, and the stream and list errors the components name.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
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
