// The one header product code includes for Windows services and file streams: on the host, our
// simulated Windows. Only what the product calls is here, written from what it relies on; the
// behaviour lives in platform/sim/*.cpp and the test controls in sim_control.h.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Calling conventions mean nothing on the host.
#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef size_t SIZE_T;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;

typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;

// Kernel objects share one handle type; window, module, icon and resource handles are distinct
// types so that passing one where another belongs fails to compile, as it does on Windows.
typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
struct SimWindow;
struct SimModule;
struct SimIcon;
struct SimResource;
typedef SimWindow* HWND;
typedef SimModule* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef SimIcon* HICON;
typedef SimResource* HRSRC;

// Only ever passed as null by the product.
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr DWORD MAX_PATH = 260;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
typedef MSG* LPMSG;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  char cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

// The fields the product sets or reads; the size is this record's own.
struct SHELLEXECUTEINFOA {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  LPCSTR lpVerb;
  LPCSTR lpFile;
  LPCSTR lpParameters;
  LPCSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  HANDLE hProcess;
};
typedef SHELLEXECUTEINFOA* LPSHELLEXECUTEINFOA;

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD MAKELANGID(WORD primary, WORD sub) { return static_cast<WORD>((sub << 10) | primary); }

constexpr LPARAM MAKELPARAM(unsigned low, unsigned high) {
  return static_cast<LPARAM>(static_cast<DWORD>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16)));
}

inline LPSTR MAKEINTRESOURCEA(WORD id) { return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(id)); }
inline LPSTR MAKEINTRESOURCE(WORD id) { return MAKEINTRESOURCEA(id); }

// Window messages.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETICON = 0x0080;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PBM_SETRANGE = WM_USER + 1;
constexpr UINT PBM_SETPOS = WM_USER + 2;
constexpr WPARAM ICON_BIG = 1;

constexpr DWORD ICC_PROGRESS_CLASS = 0x00000020;

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONWARNING = 0x00000030;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWDEFAULT = 10;

// Files.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

// Waits, threads, processes.
constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
constexpr DWORD WAIT_TIMEOUT = 0x00000102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD SEE_MASK_NOCLOSEPROCESS = 0x00000040;

// Memory and system texts.
constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_ICON_HANDLE = 1414;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CONTROL_ID_NOT_FOUND = 1421;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// User interface.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure, LPARAM init);
BOOL GetMessageA(LPMSG message, HWND window, UINT first, UINT last);
BOOL IsDialogMessageA(HWND dialog, LPMSG message);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
void PostQuitMessage(int exit_code);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL SetWindowTextA(HWND window, LPCSTR text);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
BOOL DestroyIcon(HICON icon);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wparam, LPARAM lparam);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Resources of the module.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);

// Files and folders.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* last_access, const FILETIME* last_write);
BOOL DeleteFileA(LPCSTR path);
BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL fail_if_exists);
HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found);
BOOL FindClose(HANDLE search);

// Handles, events, threads, time, processes.
BOOL CloseHandle(HANDLE handle);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state, LPCSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* request);

// Errors, system texts, local memory.
DWORD GetLastError();
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD code, DWORD language, LPSTR buffer, DWORD size,
                     va_list* arguments);
int lstrlenA(LPCSTR text);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
SIZE_T LocalSize(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);

// Bounded formatting, as the real platform header provides it (there by msvcrt's _vsnprintf).
inline int vformat_bounded(char* buffer, size_t size, const char* format, va_list arguments) {
  return vsnprintf(buffer, size, format, arguments);
}

// The standard file streams open files of the simulated file system: sim_fopen hands back a real
// FILE* whose reads, writes and seeks go to the simulated file, so fread, fwrite, fseek, ftell,
// fflush and fclose work unchanged. Include this header before any header whose inline code calls
// fopen.
FILE* sim_fopen(const char* path, const char* mode);
// So that std::fopen, which the macro below turns into std::sim_fopen, finds it too.
namespace std {
using ::sim_fopen;
}  // namespace std
#define fopen sim_fopen
