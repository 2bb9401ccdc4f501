// Run-time loading of a receiving library from known folders only: the executable's own
// folder first, then the system's search with the current folder taken out of it (the
// current folder is whatever the starting program had, and anyone who can write there
// could plant a library of the same name). PATH still counts, so a runtime installed on
// it is found. Main thread, at start-up.
#pragma once

#include "win_types.h"

// `tag` names the component in the diagnostic lines ("[NDI]").
UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag);
