#include "station/options.h"

#include "station/version.h"
#include "station/visible_text.h"

namespace station {

Invocation ParseArguments(const std::vector<std::string>& arguments) {
  Invocation invocation;
  for (const std::string& argument : arguments) {
    Command command;
    if (argument == "--help" || argument == "/?") {
      command = Command::kHelp;
    } else if (argument == "--version") {
      command = Command::kVersion;
    } else if (argument == "--check") {
      command = Command::kCheck;
    } else if (argument == "--list-ports") {
      command = Command::kListPorts;
    } else if (argument.compare(0, 2, "--") == 0) {
      // A misspelt option must never let a weighing through.
      return Invocation{Command::kUsageError, argument};
    } else {
      continue;
    }
    if (invocation.command != Command::kWeigh && invocation.command != command) {
      return Invocation{Command::kUsageError, argument};
    }
    invocation.command = command;
  }
  return invocation;
}

std::string VersionText() { return std::string("weigh ") + WEIGH_VERSION + "\n"; }

std::string HelpText() {
  return VersionText() +
         "Usage: weigh [--check | --list-ports | --help | --version]\n"
         "\n"
         "Without an option: one weighing in the current folder. The port named on\n"
         "the first line of Kavrin.inf is asked for the weight; the run is logged in\n"
         "log.txt and the weight handed over in raspuns\\cant.txt, unless a value is\n"
         "still waiting there (then the message \"Eroare\" is shown). Exit status 0.\n"
         "Arguments that do not begin with -- are ignored, as they always were.\n"
         "\n"
         "  --check       a dry run of one weighing, step by step: Kavrin.inf, the\n"
         "                port, one request and every byte of the answer, the files\n"
         "                a weighing would touch; writes no file\n"
         "  --list-ports  the serial ports present\n"
         "  --help, /?    this text\n"
         "  --version     the version, and the SHA-256 of this program's file as\n"
         "                sha256sum prints it (exit status 1 when it cannot be had)\n"
         "Any other argument beginning with -- is a usage error (exit status 2):\n"
         "nothing is weighed, written or sent.\n"
         "\n"
         "Exit status of --check:\n"
         "  0  a stable weight was read\n"
         "  3  no configuration: Kavrin.inf is missing, unreadable or names no port\n"
         "  4  the port cannot be opened\n"
         "  5  no answer from the scale\n"
         "  6  no stable answer\n"
         "  7  a stable answer, but the value handed over would be empty\n";
}

std::string UsageErrorText(const std::string& offending) {
  return "weigh: unknown or conflicting option " + VisibleBytes(offending) +
         " (nothing was done; see weigh --help)\n";
}

std::string PortListText(const std::vector<runtime::SerialPortEntry>& ports) {
  if (ports.empty()) return "No serial ports found.\n";
  std::string text;
  for (const runtime::SerialPortEntry& port : ports) {
    text += VisibleBytes(port.name) + "  (" + VisibleBytes(port.detail) + ")\n";
  }
  return text;
}

int RunCommand(const Invocation& invocation) {
  std::string report;
  int status = 0;
  switch (invocation.command) {
    case Command::kHelp:
      report = HelpText();
      break;
    case Command::kVersion: {
      const runtime::FileDigest program = runtime::Sha256OfProgramFile();
      report = VersionText() + IdentificationText(program);
      if (!HasDigest(program)) status = EXIT_NO_DIGEST;
      break;
    }
    case Command::kListPorts:
      report = PortListText(runtime::ListSerialPorts());
      break;
    case Command::kCheck:
      status = RunCheck(&report, WaitLimits());
      break;
    case Command::kUsageError:
    case Command::kWeigh:
      report = UsageErrorText(invocation.offending);
      status = EXIT_USAGE_ERROR;
      break;
  }
  runtime::ShowReport(report);
  return status;
}

}  // namespace station
