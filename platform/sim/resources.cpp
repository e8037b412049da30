// The module's resources: the payload a test installs as "SETUP" 2000. The dialog template and the
// icon are served by the dialog part.
#include <cctype>
#include <optional>
#include <string>

#include "sim_internal.h"

namespace sim {
namespace {

constexpr WORD PAYLOAD_ID = 2000;
const char* const PAYLOAD_TYPE = "SETUP";

std::optional<std::string> payload;
// The one resource there is to find; LoadResource then gives the address of its bytes, which stay
// put until the test installs others.
HRSRC const PAYLOAD_RESOURCE = reinterpret_cast<HRSRC>(static_cast<uintptr_t>(0x7D00));

bool is_integer_resource(LPCSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// Resource type names are compared without regard to case.
bool same_name(LPCSTR a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

bool names_payload(LPCSTR name, LPCSTR type) {
  return is_integer_resource(name) && reinterpret_cast<uintptr_t>(name) == PAYLOAD_ID && type &&
         !is_integer_resource(type) && same_name(type, PAYLOAD_TYPE);
}

}  // namespace

HINSTANCE module_handle() { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)); }

void set_payload(const std::string& bytes) { payload = bytes; }

void clear_payload() { payload.reset(); }

namespace detail {

bool is_module(HMODULE module) { return module == nullptr || module == sim::module_handle(); }

void reset_resources() { payload.reset(); }

}  // namespace detail
}  // namespace sim

using namespace sim::detail;

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (injected_failure("FindResourceA")) return nullptr;
  if (!is_module(module)) {
    set_error(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (!sim::payload || !sim::names_payload(name, type)) {
    set_error(sim::payload ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  return sim::PAYLOAD_RESOURCE;
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  if (injected_failure("SizeofResource")) return 0;
  if (!is_module(module) || resource != sim::PAYLOAD_RESOURCE || !sim::payload) {
    set_error(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(sim::payload->size());
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  if (injected_failure("LoadResource")) return nullptr;
  if (!is_module(module) || resource != sim::PAYLOAD_RESOURCE || !sim::payload) {
    set_error(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<char*>(sim::payload->data());
}

LPVOID LockResource(HGLOBAL loaded) { return loaded; }
