#pragma once
// The exception classes of the system. Every failure is one of these, carrying
// a message from the message table; ClassName is the name the failure report
// prints. Each exception records the code address it was raised from.
#include <cstdint>
#include <exception>
#include <string>

#include "bleedborder/core/messages.h"
#include "bleedborder/export.h"

namespace bleedborder {

class BLEEDBORDER_EXPORT Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "Exception"; }
  // The code address the exception was raised from.
  const void* RaiseAddress() const { return raiseAddress_; }
  void SetRaiseAddress(const void* address) { raiseAddress_ = address; }

 private:
  std::string message_;
  const void* raiseAddress_;
};

#define BLEED_EXCEPTION_CLASS(Name, Base)                                 \
  class BLEEDBORDER_EXPORT Name : public Base {                           \
   public:                                                                \
    using Base::Base;                                                     \
    const char* ClassName() const override { return #Name; }             \
  }

BLEED_EXCEPTION_CLASS(EOutOfMemory, Exception);
BLEED_EXCEPTION_CLASS(EOutOfResources, EOutOfMemory);
BLEED_EXCEPTION_CLASS(EInvalidPointer, Exception);
BLEED_EXCEPTION_CLASS(EInvalidGraphic, Exception);
BLEED_EXCEPTION_CLASS(EInvalidOperation, Exception);
BLEED_EXCEPTION_CLASS(EConvertError, Exception);
BLEED_EXCEPTION_CLASS(EInvalidCast, Exception);
BLEED_EXCEPTION_CLASS(EStreamError, Exception);
BLEED_EXCEPTION_CLASS(EFileStreamError, EStreamError);
BLEED_EXCEPTION_CLASS(EFOpenError, EFileStreamError);
BLEED_EXCEPTION_CLASS(EFCreateError, EFileStreamError);
BLEED_EXCEPTION_CLASS(EReadError, EStreamError);
BLEED_EXCEPTION_CLASS(EWriteError, EStreamError);
BLEED_EXCEPTION_CLASS(EExternal, Exception);
BLEED_EXCEPTION_CLASS(EIntError, EExternal);
BLEED_EXCEPTION_CLASS(EDivByZero, EIntError);
BLEED_EXCEPTION_CLASS(ERangeError, EIntError);
BLEED_EXCEPTION_CLASS(EIntOverflow, EIntError);
BLEED_EXCEPTION_CLASS(EMathError, EExternal);
BLEED_EXCEPTION_CLASS(EInvalidOp, EMathError);
BLEED_EXCEPTION_CLASS(EZeroDivide, EMathError);
BLEED_EXCEPTION_CLASS(EOverflow, EMathError);
BLEED_EXCEPTION_CLASS(EUnderflow, EMathError);
BLEED_EXCEPTION_CLASS(EAccessViolation, EExternal);
BLEED_EXCEPTION_CLASS(EPrivilege, EExternal);
BLEED_EXCEPTION_CLASS(EControlC, EExternal);
BLEED_EXCEPTION_CLASS(EStackOverflow, EExternal);
BLEED_EXCEPTION_CLASS(EExternalException, EExternal);

#undef BLEED_EXCEPTION_CLASS

// Exceptions that also carry an error code.
class BLEEDBORDER_EXPORT EOSError : public Exception {
 public:
  EOSError(std::string message, std::uint32_t errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
  const char* ClassName() const override { return "EOSError"; }
  std::uint32_t ErrorCode() const { return errorCode_; }

 private:
  std::uint32_t errorCode_;
};

class BLEEDBORDER_EXPORT EInOutError : public Exception {
 public:
  EInOutError(std::string message, int errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

// Raises E with the text of a message number, filled with args. Kept out of
// line so that the address it records is its caller's: the raise site.
template <class E>
[[noreturn]] __attribute__((noinline)) void RaiseMsg(Msg id, std::initializer_list<FormatArg> args = {}) {
  E error(FormatMsg(id, args));
  error.SetRaiseAddress(__builtin_return_address(0));
  throw error;
}

// Raises error, recording its caller as the raise site.
template <class E>
[[noreturn]] __attribute__((noinline)) void Raise(E error) {
  error.SetRaiseAddress(__builtin_return_address(0));
  throw error;
}

}  // namespace bleedborder
