// weigh: one weighing per start. No arguments, no environment, exit code 0.
#include "runtime/platform/process.h"
#include "station/station.h"

int main() {
  station::RunStation();
  runtime::platform::EndProcess(0);
}
