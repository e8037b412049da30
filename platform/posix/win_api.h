// The packer's build on Linux: it needs only the standard file streams, on real files.
#pragma once

#include <cstdio>
