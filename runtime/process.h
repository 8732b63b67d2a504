#ifndef WEIGH_RUNTIME_PROCESS_H_
#define WEIGH_RUNTIME_PROCESS_H_

#include <cstdint>

namespace runtime {

// Readies the process for a run nobody watches: the standard streams exist,
// so files opened later never take their place, and a closed standard error
// can never end the process. Runs first thing at start.
void PrepareProcess();

// Ends the process at once with `code`, without running destructors.
[[noreturn]] void EndProcess(int code);

// The identifier of this process.
uint32_t ProcessId();

// A number nobody can guess in advance, for names others must not predict.
uint64_t UnpredictableNumber();

}  // namespace runtime

#endif  // WEIGH_RUNTIME_PROCESS_H_
