#pragma once

namespace bleedborder {

// The outermost fault handler: the faults the platform signals (division by
// zero, access violations, stack overflow, Control-C and the like) end the
// process with a report, since they cannot become exceptions here. While the
// error-reporting layer runs the report is the exception report of the fault
// on standard error and the exit code 1; before it starts and after it stops
// it is the runtime error line on standard output, whose number is the exit
// code.
namespace tool {

// Installs the handlers, in fallback mode, on a stack of their own so that a
// stack overflow is reported too.
void InstallFaultHandlers();
// Switches between the exception report (true) and the runtime error line.
void SetFaultReporting(bool enabled);
// Gives the signals back to their default handling.
void RemoveFaultHandlers();

}  // namespace tool

}  // namespace bleedborder
