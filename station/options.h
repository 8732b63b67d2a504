#ifndef WEIGH_STATION_OPTIONS_H_
#define WEIGH_STATION_OPTIONS_H_

// The command line. Programs that start a weighing may pass arguments, which
// were always ignored: only arguments beginning with "--" (and "/?") mean
// something, and a misspelt one stops the program before anything happens.

#include <string>
#include <vector>

#include "runtime/diagnosis.h"
#include "station/check.h"

namespace station {

// What a start of the program is asked to do.
enum class Command {
  kWeigh,       // the weighing: no option among the arguments
  kHelp,        // --help or /?
  kVersion,     // --version
  kCheck,       // --check
  kListPorts,   // --list-ports
  kUsageError,  // an unknown option, or two different ones
};

// The exit status of a usage error.
constexpr int EXIT_USAGE_ERROR = 2;

// The command and, for a usage error, the argument at fault.
struct Invocation {
  Command command = Command::kWeigh;
  std::string offending;
};

// Reads the arguments after the program name.
Invocation ParseArguments(const std::vector<std::string>& arguments);

// The program's name and version, one line.
std::string VersionText();

// The exit status of --version when the program file's SHA-256 cannot be
// shown.
constexpr int EXIT_NO_DIGEST = 1;

// What --help shows.
std::string HelpText();

// The one line of a usage error about `offending`.
std::string UsageErrorText(const std::string& offending);

// What --list-ports shows for `ports`.
std::string PortListText(const std::vector<runtime::SerialPortEntry>& ports);

// Carries out any command but kWeigh, shows its report and returns the exit
// status. Writes no file and sends nothing but the one request of --check.
int RunCommand(const Invocation& invocation);

}  // namespace station

#endif  // WEIGH_STATION_OPTIONS_H_
