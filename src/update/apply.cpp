#include "update/apply.h"

namespace korvanta {

// Placeholder until the apply engine lands.
bool apply_update(const std::wstring&, std::string& reason) {
  reason = "not_implemented";
  return false;
}

}  // namespace korvanta
