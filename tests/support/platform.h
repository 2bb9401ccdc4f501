// Which system the Windows tests run on: Wine or Windows itself. Tests that only Windows
// can run skip themselves under Wine and say why. Any thread.
#pragma once

// True under Wine, whose ntdll exports wine_get_version; false on Windows.
bool RunningUnderWine();
