// The packer's rules for entry names, on top of the writer's (bare, unique ignoring case, fits its field).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The installer joins each name to its run folder (the user's temp folder plus 17 characters) in a
// 260-byte path buffer. Capping names at 100 characters keeps every path in that buffer for a run
// folder of up to 159 characters, a temp folder of up to 142: 159 + 100 + the NUL = 260.
constexpr std::size_t MAX_ENTRY_NAME_LENGTH = 100;

// The last component of a path: the name the entry gets.
std::string entry_name_for_path(const std::string& path);

// Empty when the name is short enough and made of characters Windows keeps as written, else why not.
std::string entry_name_problem(const std::string& name);

// For a launch name that is not one of names but nearly is (other case, or given as a path), a
// message that suggests the entry meant; else empty. The writer refuses every other mismatch.
std::string launch_name_hint(const std::string& launch_name, const std::vector<std::string>& names);
