// Run-time loading of a receiving library: by bare name through the system's search
// order first, then from the executable's own directory. Main thread, at start-up.
#pragma once

#include "win_types.h"

// `tag` names the component in the diagnostic line of the second attempt ("[NDI]").
UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag);
