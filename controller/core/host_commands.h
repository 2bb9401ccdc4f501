// The controller's side of the conversation as text: the command lines it writes to the
// pipe and the command line it starts a host with. Win32-free; any thread.
#pragma once

#include <string>
#include <vector>

// Why a value cannot go into a command, or "" when it can. The host hands names to its
// receiving library as C strings, so a NUL byte would silently cut the value short; an
// empty source name would make the host do nothing at all.
std::string CheckSourceName(const std::string& name);
std::string CheckQuality(const std::string& quality);
// A host is started from its absolute path only, as the application name: a bare or
// relative name would be looked for in the application's current folder (where anyone
// who can write there could plant a program), and only a .exe is run as itself (a .bat
// would run through the command interpreter). Quotes cannot be in a Windows path and
// would break the command line.
std::string CheckHostExecutable(const std::string& path);
// The folder of an executable checked by CheckHostExecutable, with its trailing separator.
std::string HostFolder(const std::string& executable);

// One command each, as JSON without the trailing LF; values are escaped as the host's
// reader expects. The first set_source form carries no quality, so the host falls back
// on its remembered quality.
std::string SetSourceCommand(const std::string& name);
std::string SetSourceCommand(const std::string& name, const std::string& quality);
std::string SetQualityCommand(const std::string& quality);
std::string ShutdownCommand();
std::string ListSourcesCommand();
// window_size: the view keeps the host window's size (keep) or gives it back (follow).
std::string WindowSizeCommand(bool kept);

// "executable" --pipeName=NAME args..., each argument quoted by the rules that the host
// (and CommandLineToArgvW) cut a command line by (command_line.h), so that it arrives
// whole and no text inside one can become an option of its own. An empty pipeName leaves
// the option out.
std::string HostCommandLine(const std::string& executable, const std::string& pipeName,
                            const std::vector<std::string>& arguments);
