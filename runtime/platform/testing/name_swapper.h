#ifndef WEIGH_RUNTIME_PLATFORM_TESTING_NAME_SWAPPER_H_
#define WEIGH_RUNTIME_PLATFORM_TESTING_NAME_SWAPPER_H_

#include <memory>
#include <string>

namespace runtime::platform {

// For tests: another process that swaps the two entries `first` and
// `second` of the current folder (a folder and a link to somewhere else,
// say) over and over, each swap one atomic exchange, until it is stopped.
// Between swaps it removes the file `take` from the folder that was `first`
// when it started, found by that folder itself and never by name, as a
// consuming program takes each value. Run by root, it acts as the
// unprivileged user 65534, as an attacker who may write the folder would;
// the folders must then let that user do so.
class NameSwapper {
 public:
  // Starts swapping and returns once the first swap was made. Returns
  // nullptr, with the reason in `why_not`, where it cannot swap.
  static std::unique_ptr<NameSwapper> Start(const std::string& first, const std::string& second,
                                            const std::string& take, std::string* why_not);

  // Stops swapping, waits for the process to end and returns how many times
  // it removed `take`; -1 when that cannot be told.
  virtual int Stop() = 0;

  // Stops the process if Stop was not called.
  virtual ~NameSwapper() = default;
};

}  // namespace runtime::platform

#endif  // WEIGH_RUNTIME_PLATFORM_TESTING_NAME_SWAPPER_H_
