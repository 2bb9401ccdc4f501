// Run-time loading of a receiving library from known folders only: the executable's own
// folder first, then the system's search with the current folder taken out of it (the
// current folder is whatever the starting program had, and anyone who can write there
// could plant a library of the same name). PATH still counts, so a runtime installed on
// it is found. Main thread, at start-up.
#pragma once

#include <string>

#include "startup_failure.h"
#include "win_types.h"

// `tag` names the component in the diagnostic lines ("[NDI]"). On failure, `problem` (when
// given) says whether the library was not found or found and not loaded, and where.
UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag,
                                  StartupProblem* problem = nullptr);
// Where a loaded library was found, in UTF-8; "" for none.
std::string LibraryPath(const UniqueModule& library);
