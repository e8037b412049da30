#include "entry_names.h"

#include <cstdio>
#include <cstring>

namespace {

bool equal_ignoring_ascii_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string entry_name_for_path(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string entry_name_problem(const std::string& name) {
  if (name.size() > MAX_ENTRY_NAME_LENGTH) {
    return "file name is " + std::to_string(name.size()) + " characters; at most " +
           std::to_string(MAX_ENTRY_NAME_LENGTH) + " fit in the installer's paths";
  }
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    // The installer reads names in the Windows ANSI code page, so other bytes would change meaning,
    // and only ASCII letters can be compared ignoring case the way Windows will.
    if (byte < 0x20 || byte > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", byte);
      return std::string("file name has the byte ") + hex +
             "; only printable ASCII names are kept as written on Windows";
    }
    if (std::strchr("<>\"|?*", c) != nullptr) {
      return std::string("file name has the character '") + c + "', which Windows does not allow in file names";
    }
  }
  return "";
}

std::string launch_name_hint(const std::string& launch_name, const std::vector<std::string>& names) {
  if (launch_name.empty()) return "";
  const std::string bare = entry_name_for_path(launch_name);
  for (const std::string& name : names) {
    if (name == launch_name) return "";
  }
  for (const std::string& name : names) {
    if (equal_ignoring_ascii_case(name, bare)) {
      return "launch name \"" + launch_name + "\" matches no entry; did you mean \"" + name + "\"?";
    }
  }
  return "";
}
