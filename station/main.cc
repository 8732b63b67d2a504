// weigh: one weighing per start. No arguments, no environment, exit code 0.
#include "runtime/process.h"
#include "station/station.h"

int main() {
  runtime::PrepareProcess();
  station::RunStation();
  runtime::EndProcess(0);
}
