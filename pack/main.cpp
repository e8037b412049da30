#include "cli.h"

int main(int argc, char** argv) { return run_cli(argc, argv); }
