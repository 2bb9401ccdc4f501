// The rules by which Windows programs cut a command line into arguments (those of
// CommandLineToArgvW and the C runtime): the controller quotes every argument it starts a
// host with by them, and the host cuts its own command line by them, so that an argument
// arrives whole, whatever it holds, and no text inside one can become an option of its
// own. Win32-free; any thread.
//
// Outside quotes, spaces and tabs separate arguments. A double quote opens or closes a
// quoted part (two in a row inside one stand for one quote). Backslashes are taken as they
// are, except right before a double quote: 2n of them then stand for n backslashes and
// the quote opens or closes a part, 2n + 1 for n backslashes and a literal quote.
#pragma once

#include <string>
#include <vector>

// The arguments of `text`, which holds what follows the program's name.
std::vector<std::string> SplitArguments(const std::string& text);

// `argument` written so that SplitArguments gives it back unchanged: as it is when it
// needs no quotes, else quoted; an option's name stays before the quotes
// (--ndiName="STUDIO (Camera 1)").
std::string QuoteArgument(const std::string& argument);
