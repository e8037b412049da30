#include "cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "payload_builder.h"
#include "payload_listing.h"

namespace {

const char PROGRAM_HELP[] =
    "Usage: brimsole-pack COMMAND [OPTION]... [ARGUMENT]...\n"
    "Packs files into the payload of a Brimsole Setup installer.\n"
    "\n"
    "Commands:\n"
    "  payload   pack files into a payload: one zlib stream holding a merged data file\n"
    "  list      show what a payload holds\n"
    "\n"
    "Run 'brimsole-pack COMMAND --help' for the options of a command.\n";

const char PAYLOAD_HELP[] =
    "Usage: brimsole-pack payload -o OUT [--launch NAME] [--level N] FILE...\n"
    "Packs the files, in the order given, into one payload written to OUT.\n"
    "Each entry is named by the last component of its path and keeps the file's\n"
    "creation, last-access and last-write times. Files must not be empty, names must\n"
    "differ ignoring case, be printable ASCII and at most 100 characters, and the\n"
    "whole must stay under 4 GiB.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT  the payload file to write; it is replaced only on success\n"
    "  --launch NAME     the entry the installer runs once it has unpacked them all\n"
    "                    (by default it runs nothing)\n"
    "  --level N         compression level, 0 (none) to 9 (smallest); by default 6\n"
    "  -h, --help        show this help\n";

const char LIST_HELP[] =
    "Usage: brimsole-pack list PAYLOAD\n"
    "Inflates PAYLOAD and prints its launch name and every entry: name, size in\n"
    "bytes, and its creation, last-access and last-write times as UTC dates.\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n";

int usage_error(const char* command, const std::string& message) {
  std::fprintf(stderr, "brimsole-pack: %s\n", message.c_str());
  std::fprintf(stderr, "Try 'brimsole-pack%s%s --help'.\n", command[0] ? " " : "", command);
  return EXIT_USAGE_ERROR;
}

int input_error(const std::string& message) {
  std::fprintf(stderr, "brimsole-pack: %s\n", message.c_str());
  return EXIT_INPUT_ERROR;
}

bool is_help(const char* arg) { return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0; }

// Walks a command's arguments: options with a value as "--name VALUE" or "--name=VALUE".
class ArgumentReader {
 public:
  ArgumentReader(int argc, char** argv) : argc_(argc), argv_(argv) {}

  bool done() const { return next_ >= argc_; }
  const char* take() { return argv_[next_++]; }

  // True when arg is the option long_name (or short_name); value then holds its value, or error is set.
  bool option(const char* arg, const char* short_name, const char* long_name, std::string* value) {
    const std::size_t length = std::strlen(long_name);
    if (std::strncmp(arg, long_name, length) == 0 && arg[length] == '=') {
      *value = arg + length + 1;
      return true;
    }
    if (std::strcmp(arg, long_name) != 0 && (short_name == nullptr || std::strcmp(arg, short_name) != 0)) return false;
    if (done()) {
      error = std::string("option ") + arg + " needs a value";
    } else {
      *value = take();
    }
    return true;
  }

  std::string error;

 private:
  int argc_;
  char** argv_;
  int next_ = 0;
};

bool parse_level(const std::string& text, int* level) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') return false;
  *level = text[0] - '0';
  return true;
}

// Shows progress only on a terminal, and only once the work has taken a second.
ProgressFn terminal_progress() {
  if (!isatty(STDERR_FILENO)) return nullptr;
  const auto start = std::chrono::steady_clock::now();
  return [start, shown = -1](int percent) mutable {
    if (percent == shown || std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) return;
    shown = percent;
    std::fprintf(stderr, "\rcompressing %3d%%%s", percent, percent == 100 ? "\n" : "");
  };
}

int run_payload(int argc, char** argv) {
  ArgumentReader args(argc, argv);
  PayloadRequest request;
  std::string out_path, level_text;
  bool options_done = false;
  while (!args.done()) {
    const char* arg = args.take();
    if (options_done || arg[0] != '-' || arg[1] == '\0') {
      request.paths.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      options_done = true;
    } else if (is_help(arg)) {
      std::fputs(PAYLOAD_HELP, stdout);
      return 0;
    } else if (!args.option(arg, "-o", "--output", &out_path) &&
               !args.option(arg, nullptr, "--launch", &request.launch_name) &&
               !args.option(arg, nullptr, "--level", &level_text)) {
      return usage_error("payload", std::string("unknown option ") + arg);
    }
    if (!args.error.empty()) return usage_error("payload", args.error);
  }
  if (out_path.empty()) return usage_error("payload", "no output file: give -o OUT");
  if (request.paths.empty()) return usage_error("payload", "no files to pack");
  if (!level_text.empty() && !parse_level(level_text, &request.level)) {
    return usage_error("payload", "--level takes a number from 0 to 9, not \"" + level_text + "\"");
  }

  const std::string problem = write_payload(request, out_path, terminal_progress());
  if (!problem.empty()) return input_error(problem);
  struct stat info {};
  stat(out_path.c_str(), &info);
  std::printf("%s: %zu %s, %lld bytes\n", out_path.c_str(), request.paths.size(),
              request.paths.size() == 1 ? "entry" : "entries", static_cast<long long>(info.st_size));
  return 0;
}

int run_list(int argc, char** argv) {
  std::vector<std::string> positional;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_done || arg[0] != '-' || arg[1] == '\0') {
      positional.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      options_done = true;
    } else if (is_help(arg)) {
      std::fputs(LIST_HELP, stdout);
      return 0;
    } else {
      return usage_error("list", std::string("unknown option ") + arg);
    }
  }
  if (positional.size() != 1) return usage_error("list", "give exactly one payload file");

  std::string listing;
  std::vector<std::string> warnings;
  const std::string problem = list_payload(positional[0], &listing, &warnings);
  if (!problem.empty()) return input_error(problem);
  std::fputs(listing.c_str(), stdout);
  for (const std::string& warning : warnings) std::fprintf(stderr, "brimsole-pack: warning: %s\n", warning.c_str());
  return 0;
}

int dispatch(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(PROGRAM_HELP, stderr);
    return EXIT_USAGE_ERROR;
  }
  const char* command = argv[1];
  if (is_help(command)) {
    std::fputs(PROGRAM_HELP, stdout);
    return 0;
  }
  if (std::strcmp(command, "payload") == 0) return run_payload(argc - 2, argv + 2);
  if (std::strcmp(command, "list") == 0) return run_list(argc - 2, argv + 2);
  return usage_error("", std::string("unknown command \"") + command + "\"");
}

}  // namespace

int run_cli(int argc, char** argv) {
  try {
    return dispatch(argc, argv);
  } catch (const std::bad_alloc&) {
    return input_error("out of memory");
  } catch (const std::exception& error) {
    return input_error(error.what());
  }
}
