#include "tool/process_frame.h"

#include <cxxabi.h>

#include <cfenv>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <typeinfo>

#include "bleedborder/canvas/graphics_lib.h"
#include "bleedborder/core/exceptions.h"
#include "bleedborder/core/messages.h"
#include "bleedborder/platform/process.h"
#include "tool/faults.h"
#include "tool/report.h"

namespace bleedborder::tool {
namespace {

// Runtime error numbers of an escaped exception and of exhausted memory.
constexpr int kRuntimeEscapedException = 217;
constexpr int kRuntimeOutOfMemory = 203;

struct FrameState {
  int exitCode = 0;
  // Set only for the runtime error line.
  bool hasErrorAddress = false;
  std::uintptr_t errorAddress = 0;
  bool runtimeStarted = false;
  bool errorLayerStarted = false;
  bool graphicsStarted = false;
  // Made when the error layer starts, so that exhausted memory is reported
  // without allocating.
  std::string outOfMemoryReport;
};

FrameState frame;

void StartRuntime(int argc, char** argv) {
  InstallFaultHandlers();
  frame.runtimeStarted = true;
  // The command's rounding takes exact halves to the even neighbour.
  std::fesetround(FE_TONEAREST);
  sys::SetCommandLine(argc, argv);
}

void StartErrorLayer() {
  frame.outOfMemoryReport = ExceptionReport("EOutOfMemory", LoadResString(Msg::OutOfMemory), 0);
  sys::PlatformId = sys::GetPlatformId();
  SetFaultReporting(true);
  frame.errorLayerStarted = true;
}

void StopErrorLayer() {
  SetFaultReporting(false);
  frame.errorLayerStarted = false;
  std::string().swap(frame.outOfMemoryReport);
}

// The name of the type of the exception being handled, readable.
std::string CurrentExceptionTypeName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) return "Exception";
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                  std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(type->name());
}

// Reports the exception being handled and answers the exit code it ends the
// process with. Only an Exception carries a message and a raise address;
// std::bad_alloc is the ready-made EOutOfMemory.
int ReportCurrentException() {
  try {
    throw;
  } catch (const Exception& exception) {
    const auto address = reinterpret_cast<std::uintptr_t>(exception.RaiseAddress());
    if (!frame.errorLayerStarted) {
      frame.hasErrorAddress = true;
      frame.errorAddress = address;
      return kRuntimeEscapedException;
    }
    ReportException(exception);
  } catch (const std::bad_alloc&) {
    if (!frame.errorLayerStarted) {
      frame.hasErrorAddress = true;
      frame.errorAddress = 0;
      return kRuntimeOutOfMemory;
    }
    WriteReport(frame.outOfMemoryReport);
  } catch (...) {
    if (!frame.errorLayerStarted) {
      frame.hasErrorAddress = true;
      frame.errorAddress = 0;
      return kRuntimeEscapedException;
    }
    ReportException(CurrentExceptionTypeName(), {}, 0);
  }
  return 1;
}

}  // namespace

void RunProcess(int argc, char** argv, Command command) {
  int code = 0;
  try {
    StartRuntime(argc, argv);
    StartErrorLayer();
    GraphicsStartup();
    frame.graphicsStarted = true;
    command();
  } catch (...) {
    code = ReportCurrentException();
  }
  EndProcess(code);
}

void EndProcess(int code) {
  frame.exitCode = code;
  if (frame.hasErrorAddress) {
    frame.hasErrorAddress = false;
    WriteRuntimeError(frame.exitCode, frame.errorAddress);
  }
  if (frame.graphicsStarted) {
    frame.graphicsStarted = false;
    try {
      GraphicsShutdown();
    } catch (...) {
      // The error layer is still running here, so this is a report.
      const int failure = ReportCurrentException();
      if (frame.exitCode == 0) frame.exitCode = failure;
    }
  }
  if (frame.errorLayerStarted) StopErrorLayer();
  if (frame.runtimeStarted) {
    frame.runtimeStarted = false;
    RemoveFaultHandlers();
  }
  std::fflush(stdout);
  sys::ExitProcess(frame.exitCode);
}

}  // namespace bleedborder::tool
