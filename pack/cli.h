// The brimsole-pack command line.
#pragma once

constexpr int EXIT_INPUT_ERROR = 1;  // the files or the payload are refused or unreadable
constexpr int EXIT_USAGE_ERROR = 2;  // the command line itself is wrong

int run_cli(int argc, char** argv);
