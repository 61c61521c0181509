/* pontix.exe: what Horalia starts when it runs under Wine. Wine starts a native program for a
   Windows one but gives the caller no process handle to wait on, and the host's window handle
   means nothing to X11; this launcher bridges both. It takes the same arguments as the
   converter, turns the host's window handle into that window's X11 id, starts the native
   converter "pontix" from its own folder, does not end before the converter has, and exits
   with the result flag the converter left in Horalia.ini. */

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#define TITLE L"Pontix"
/* How long the converter may take to start before the launcher gives up on it. */
#define START_LIMIT_MS 120000
#define NOT_DONE (-1)

static void tell(const wchar_t* text, const wchar_t* detail) {
  wchar_t message[2048];
  _snwprintf(message, 2047, L"%ls%ls", text, detail ? detail : L"");
  message[2047] = 0;
  MessageBoxW(NULL, message, TITLE, MB_OK | MB_ICONERROR);
}

/* As the converter reads it: hexadecimal digits only, at most eight after leading zeros. */
static int parseHandle(const char* text, unsigned long* value) {
  unsigned long v = 0;
  int significant = 0;
  if (!*text) return 0;
  for (; *text; ++text) {
    int digit;
    if (*text >= '0' && *text <= '9')
      digit = *text - '0';
    else if (*text >= 'a' && *text <= 'f')
      digit = *text - 'a' + 10;
    else if (*text >= 'A' && *text <= 'F')
      digit = *text - 'A' + 10;
    else
      return 0;
    if (significant || digit) ++significant;
    if (significant > 8) return 0;
    v = (v << 4) | (unsigned long)digit;
  }
  *value = v;
  return 1;
}

/* The X11 window of a Wine window: its own, else that of its top-level window. */
static unsigned long x11WindowOf(HWND window) {
  HANDLE id = GetPropA(window, "__wine_x11_whole_window");
  if (!id) {
    HWND top = GetAncestor(window, GA_ROOT);
    if (top && top != window) id = GetPropA(top, "__wine_x11_whole_window");
  }
  return (unsigned long)(ULONG_PTR)id;
}

/* The argument for the converter: the host window's X11 id, or the text unchanged when it
   names no window, so that the converter says so. */
static void hostArgument(const char* text, char* out, size_t size) {
  unsigned long value;
  snprintf(out, size, "%s", text);
  if (!parseHandle(text, &value)) return;
  HWND window = (HWND)(LONG_PTR)(LONG)value; /* handles are 32-bit, sign-extended */
  if (!IsWindow(window)) return;
  unsigned long x11 = x11WindowOf(window);
  if (x11) snprintf(out, size, "%lX", x11);
}

typedef char*(CDECL* UnixNameFn)(const WCHAR*);

/* The Linux name of a Windows path, through Wine's own mapping; NULL outside Wine. */
static wchar_t* unixNameOf(const wchar_t* path) {
  UnixNameFn unixName =
      (UnixNameFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  if (!unixName) return NULL;
  char* utf8 = unixName(path);
  if (!utf8) return NULL;
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, NULL, 0);
  wchar_t* wide = length > 0 ? malloc(sizeof(wchar_t) * (size_t)length) : NULL;
  if (wide) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, length);
  HeapFree(GetProcessHeap(), 0, utf8);
  return wide;
}

/* Appends an argument to a command line, quoted when it needs it. */
static void appendArgument(wchar_t* line, size_t size, const wchar_t* argument) {
  size_t used = wcslen(line);
  int quote = !*argument || wcspbrk(argument, L" \t\"") != NULL;
  _snwprintf(line + used, size - used - 1, quote ? L"%ls\"%ls\"" : L"%ls%ls", used ? L" " : L"", argument);
  line[size - 1] = 0;
}

/* Whether the converter has ended: its marker is gone, or it has started (written into the
   marker) and holds the marker's lock no longer, having ended without removing it. */
static int converterEnded(const wchar_t* marker, int* started) {
  HANDLE file =
      CreateFileW(marker, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  LARGE_INTEGER size;
  int ended = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) *started = 1;
  if (*started && LockFile(file, 0, 0, 1, 0)) {
    UnlockFile(file, 0, 0, 1, 0);
    ended = 1;
  }
  CloseHandle(file);
  return ended;
}

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    tell(L"No se puede saber la carpeta de Pontix", NULL);
    return NOT_DONE;
  }
  /* The native converter beside it: the same name without ".exe". */
  wchar_t native[MAX_PATH + 1];
  wcscpy(native, self);
  wchar_t* dot = wcsrchr(native, L'.');
  wchar_t* slash = wcsrchr(native, L'\\');
  if (dot && (!slash || dot > slash) && _wcsicmp(dot, L".exe") == 0) *dot = 0;
  if (GetFileAttributesW(native) == INVALID_FILE_ATTRIBUTES) {
    tell(L"No se encuentra el programa ", native);
    return NOT_DONE;
  }
  wchar_t ini[MAX_PATH + 16];
  wcscpy(ini, self);
  slash = wcsrchr(ini, L'\\');
  wcscpy(slash ? slash + 1 : ini, L"Horalia.ini");

  wchar_t tempFolder[MAX_PATH + 1], marker[MAX_PATH + 1];
  if (!GetTempPathW(MAX_PATH + 1, tempFolder) || !GetTempFileNameW(tempFolder, L"ptx", 0, marker)) {
    tell(L"No se puede crear el archivo temporal de Pontix en ", tempFolder);
    return NOT_DONE;
  }
  wchar_t* markerOnLinux = unixNameOf(marker);
  if (!markerOnLinux) {
    DeleteFileW(marker);
    tell(L"Este Pontix funciona solo con Wine, junto al programa pontix de Linux", NULL);
    return NOT_DONE;
  }
  SetEnvironmentVariableW(L"PONTIX_MARCA_FIN", markerOnLinux);
  free(markerOnLinux);

  static wchar_t line[8192];
  line[0] = 0;
  appendArgument(line, 8192, native);
  for (int i = 1; i < argc; ++i) {
    if (argc == 3 && i == 2) {
      char text[64], x11[64];
      wchar_t wide[64];
      if (WideCharToMultiByte(CP_ACP, 0, argv[i], -1, text, sizeof text, NULL, NULL) > 0) {
        hostArgument(text, x11, sizeof x11);
        MultiByteToWideChar(CP_ACP, 0, x11, -1, wide, 64);
        appendArgument(line, 8192, wide);
        continue;
      }
    }
    appendArgument(line, 8192, argv[i]);
  }

  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&startup, sizeof startup);
  ZeroMemory(&process, sizeof process);
  startup.cb = sizeof startup;
  /* The application name given in full: a search would find this launcher first. */
  if (!CreateProcessW(native, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    DeleteFileW(marker);
    tell(L"No se pudo iniciar el programa ", native);
    return NOT_DONE;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) { /* on Windows proper; Wine gives none for a native program */
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
  }
  int started = 0;
  DWORD waited = 0;
  while (!converterEnded(marker, &started)) {
    if (!started && waited > START_LIMIT_MS) {
      DeleteFileW(marker);
      tell(L"El programa no ha arrancado: ", native);
      return NOT_DONE;
    }
    Sleep(50);
    waited += 50;
  }
  DeleteFileW(marker);
  return (int)GetPrivateProfileIntW(L"Transformadores", L"Transformado", 0, ini);
}
