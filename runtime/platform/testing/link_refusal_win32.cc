// Windows moves a file without replacing with MoveFileEx alone: there is no
// fallback for a refusal to reach.
#include "runtime/platform/testing/link_refusal.h"

namespace runtime::platform {

LinkRefusal::LinkRefusal(bool /*no_rename_flags*/) {}

LinkRefusal::~LinkRefusal() = default;

int LinkRefusal::refused_links() const { return 0; }

int LinkRefusal::refused_renames() const { return 0; }

}  // namespace runtime::platform
