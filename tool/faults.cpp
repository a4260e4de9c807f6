#include "tool/faults.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "bleedborder/core/messages.h"
#include "tool/report.h"

namespace bleedborder::tool {
namespace {

constexpr int kHandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGINT};

// Exit codes of the runtime error line.
constexpr int kRuntimeDivByZero = 200;
constexpr int kRuntimeRangeError = 201;
constexpr int kRuntimeStackOverflow = 202;
constexpr int kRuntimeOverflow = 205;
constexpr int kRuntimeUnderflow = 206;
constexpr int kRuntimeInvalidOp = 207;
constexpr int kRuntimeIntOverflow = 215;
constexpr int kRuntimeAccessViolation = 216;
constexpr int kRuntimeControlC = 217;
constexpr int kRuntimePrivilege = 218;
constexpr int kRuntimeUnknownFault = 255;

// How one fault is reported.
struct FaultRow {
  const char* className;
  Msg message;
  int runtimeError;
};

constexpr FaultRow kDivByZero{"EDivByZero", Msg::DivByZero, kRuntimeDivByZero};
constexpr FaultRow kRangeError{"ERangeError", Msg::RangeError, kRuntimeRangeError};
constexpr FaultRow kIntOverflow{"EIntOverflow", Msg::IntOverflow, kRuntimeIntOverflow};
constexpr FaultRow kInvalidOp{"EInvalidOp", Msg::InvalidOp, kRuntimeInvalidOp};
constexpr FaultRow kZeroDivide{"EZeroDivide", Msg::ZeroDivide, kRuntimeDivByZero};
constexpr FaultRow kOverflow{"EOverflow", Msg::Overflow, kRuntimeOverflow};
constexpr FaultRow kUnderflow{"EUnderflow", Msg::Underflow, kRuntimeUnderflow};
constexpr FaultRow kAccessViolation{"EAccessViolation", Msg::AccessViolation, kRuntimeAccessViolation};
constexpr FaultRow kStackOverflow{"EStackOverflow", Msg::StackOverflow, kRuntimeStackOverflow};
constexpr FaultRow kPrivilege{"EPrivilege", Msg::PrivilegedInstruction, kRuntimePrivilege};
constexpr FaultRow kControlC{"EControlC", Msg::ControlC, kRuntimeControlC};
constexpr FaultRow kExternal{"EExternalException", Msg::ExternalException, kRuntimeUnknownFault};

std::atomic<bool> reporting{false};
bool installed = false;

// The handlers' own stack: a fault caused by running out of stack could not
// run a handler on the exhausted one.
constexpr std::size_t kHandlerStackSize = 128 * 1024;
alignas(16) char handlerStack[kHandlerStackSize];

// A fault within this distance of the stack pointer is taken for the stack's
// guard page being hit.
constexpr std::uintptr_t kStackReach = 1024 * 1024;

struct FaultContext {
  std::uintptr_t instruction = 0;
  std::uintptr_t stackPointer = 0;
  bool knowsAccess = false;
  bool write = false;
};

FaultContext ReadContext(void* context) {
  FaultContext result;
  const auto* user = static_cast<const ucontext_t*>(context);
  if (!user) return result;
#if defined(__x86_64__)
  result.instruction = static_cast<std::uintptr_t>(user->uc_mcontext.gregs[REG_RIP]);
  result.stackPointer = static_cast<std::uintptr_t>(user->uc_mcontext.gregs[REG_RSP]);
  result.knowsAccess = true;
  result.write = (user->uc_mcontext.gregs[REG_ERR] & 2) != 0;  // page-fault error code: write access
#elif defined(__aarch64__)
  result.instruction = static_cast<std::uintptr_t>(user->uc_mcontext.pc);
  result.stackPointer = static_cast<std::uintptr_t>(user->uc_mcontext.sp);
#endif
  return result;
}

bool NearStackPointer(std::uintptr_t address, std::uintptr_t stackPointer) {
  if (stackPointer == 0) return false;
  const std::uintptr_t distance = address > stackPointer ? address - stackPointer : stackPointer - address;
  return distance < kStackReach;
}

FaultRow ClassifyFpe(int code) {
  switch (code) {
    case FPE_INTDIV: return kDivByZero;
    case FPE_INTOVF: return kIntOverflow;
    case FPE_FLTDIV: return kZeroDivide;
    case FPE_FLTOVF: return kOverflow;
    case FPE_FLTUND: return kUnderflow;
    case FPE_FLTRES:
    case FPE_FLTINV: return kInvalidOp;
    case FPE_FLTSUB: return kRangeError;
    default: return kExternal;
  }
}

FaultRow Classify(int signal, const siginfo_t& info, const FaultContext& context) {
  switch (signal) {
    case SIGFPE: return ClassifyFpe(info.si_code);
    case SIGSEGV:
      return NearStackPointer(reinterpret_cast<std::uintptr_t>(info.si_addr), context.stackPointer) ? kStackOverflow
                                                                                                  : kAccessViolation;
    case SIGILL: return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG ? kPrivilege : kExternal;
    case SIGINT: return kControlC;
    default: return kExternal;
  }
}

// The message of the report, filled for the fault at hand.
void FormatFaultMessage(ReportText& out, const FaultRow& row, int signal, const siginfo_t& info,
                        const FaultContext& context) {
  if (row.message == Msg::ExternalException) {
    out.AppendFormat(LoadResString(row.message), {std::int64_t{signal}});
  } else if (row.message == Msg::AccessViolation) {
    const CodeLocation where = LocateCaptured(context.instruction);
    const std::string_view access = LoadResString(context.knowsAccess && context.write ? Msg::WriteAccess : Msg::ReadAccess);
    const ReportArg accessed = ReportArg::Address(reinterpret_cast<std::uintptr_t>(info.si_addr));
    if (where.inModule)
      out.AppendFormat(LoadResString(Msg::ModuleAccessViolation),
                       {ReportArg::Address(where.offset), where.module, access, accessed});
    else
      out.AppendFormat(LoadResString(Msg::AccessViolation), {ReportArg::Address(context.instruction), access, accessed});
  } else {
    out.Append(LoadResString(row.message));
  }
}

void OnFault(int signal, siginfo_t* info, void* context) {
  const FaultContext fault = ReadContext(context);
  // The code address where the fault happened; faults of arithmetic and
  // illegal instructions name it themselves.
  std::uintptr_t address = fault.instruction;
  if (address == 0 && (signal == SIGFPE || signal == SIGILL)) address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const FaultRow row = Classify(signal, *info, fault);
  ReportText report;
  if (reporting.load()) {
    ReportText message;
    FormatFaultMessage(message, row, signal, *info, fault);
    FormatExceptionReport(report, row.className, LocateCaptured(address), message.View());
    WriteAll(STDERR_FILENO, report.View());
    _exit(1);
  }
  FormatRuntimeError(report, row.runtimeError, LocateCaptured(address).offset);
  WriteAll(STDOUT_FILENO, report.View());
  _exit(row.runtimeError);
}

}  // namespace

void InstallFaultHandlers() {
  CaptureModules();
  stack_t stack{};
  stack.ss_sp = handlerStack;
  stack.ss_size = kHandlerStackSize;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kHandledSignals) sigaction(signal, &action, nullptr);
  // A report to a closed pipe fails quietly instead of ending the process.
  signal(SIGPIPE, SIG_IGN);
  // A write past the file-size limit (ulimit -f) fails with EFBIG and is
  // reported as every failed write is, instead of the signal ending the
  // process silently and leaving a partial file.
  signal(SIGXFSZ, SIG_IGN);
  installed = true;
}

void SetFaultReporting(bool enabled) { reporting.store(enabled); }

void RemoveFaultHandlers() {
  if (!installed) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : kHandledSignals) sigaction(signal, &action, nullptr);
  installed = false;
}

}  // namespace bleedborder::tool
