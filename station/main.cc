// weigh: one weighing per start, exit code 0. Arguments that do not begin
// with "--" are ignored, as they always were; the few options answer an
// installer's questions instead of weighing.
#include <string>
#include <vector>

#include "runtime/process.h"
#include "station/options.h"
#include "station/station.h"

int main(int argc, char** argv) {
  runtime::PrepareProcess();
  const station::Invocation invocation =
      station::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (invocation.command != station::Command::kWeigh) {
    runtime::EndProcess(station::RunCommand(invocation));
  }
  station::RunStation();
  runtime::EndProcess(0);
}
