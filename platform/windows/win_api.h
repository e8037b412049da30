// The one header product code includes for Windows services and file streams: on Windows, the real ones.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
