#include "runtime/platform/testing/name_swapper.h"

namespace runtime::platform {

std::unique_ptr<NameSwapper> NameSwapper::Start(const std::string& /*first*/,
                                                const std::string& /*second*/,
                                                const std::string& /*take*/, std::string* why_not) {
  // Windows swaps no two names in one step, and a held folder cannot be
  // renamed at all (the platform tests show that).
  *why_not = "Windows has no atomic exchange of two names";
  return nullptr;
}

}  // namespace runtime::platform
