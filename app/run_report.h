// The "/report" document of this process's run: what the start-up, the run and the dry run
// note down, and the writing at the end.
#pragma once
#include <string>
#include <vector>

#include "app/residue.h"
#include "catalog/probe.h"

// The start time and the arguments as given.
void NoteReportStart(const std::vector<std::wstring>& arguments);
void NoteReportSelfProtection(bool enabled);
// The probes before and after the run (a dry run passes its one probe as both) and the
// refusals.
void NoteReportProbes(const ResidueList& before, const ResidueCheck& after, const RefusalList& refused);

// Exit code for an unattended run whose report could not be written (ERROR_WRITE_FAULT).
constexpr int kExitReportNotWritten = 29;

// Writes the report to the "/report" path, if any. A report that cannot be written is one line
// in the log and on the console; unattended, when the run's own code was 0 or 3010, the exit
// code becomes kExitReportNotWritten (a failure code of the run stays: it says more).
// Returns the exit code.
int FinishReport(int exitCode);
