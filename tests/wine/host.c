/* A stand-in for Horalia: a window of its own, the converter started through the launcher
   with an operation and the window's handle, and a wait on the process handle, as the
   timetabling program does. Prints "ventana <handle> <X11 id>" once the window shows, then
   "fin <exit code> <flag in Horalia.ini when the wait ended>".
     host.exe LAUNCHER OPERATION [HANDLE]   (HANDLE in place of the window's own) */

#include <stdio.h>
#include <windows.h>

static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, w, l);
}

static void pump(void) {
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  WNDCLASSA type;
  ZeroMemory(&type, sizeof type);
  type.lpfnWndProc = procedure;
  type.hInstance = GetModuleHandleA(NULL);
  type.lpszClassName = "Anfitrion";
  type.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  RegisterClassA(&type);
  HWND window = CreateWindowA("Anfitrion", "Anfitrion", WS_OVERLAPPEDWINDOW, 40, 40, 800, 600, NULL, NULL,
                              type.hInstance, NULL);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  for (int i = 0; i < 20; ++i) {
    pump();
    Sleep(25);
  }
  printf("ventana %lX %lX\n", (unsigned long)(ULONG_PTR)window,
         (unsigned long)(ULONG_PTR)GetPropA(window, "__wine_x11_whole_window"));
  fflush(stdout);

  char handle[32], line[1024], ini[MAX_PATH];
  snprintf(handle, sizeof handle, "%lX", (unsigned long)(ULONG_PTR)window);
  snprintf(line, sizeof line, "\"%s\" %s %s", argv[1], argv[2], argc > 3 ? argv[3] : handle);
  snprintf(ini, sizeof ini, "%s", argv[1]);
  char* slash = strrchr(ini, '\\');
  snprintf(slash ? slash + 1 : ini, sizeof ini - (size_t)(slash ? slash + 1 - ini : 0), "Horalia.ini");

  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&startup, sizeof startup);
  ZeroMemory(&process, sizeof process);
  startup.cb = sizeof startup;
  if (!CreateProcessA(argv[1], line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    printf("no arranca %lu\n", GetLastError());
    return 1;
  }
  if (!process.hProcess) {
    printf("sin proceso\n");
    return 1;
  }
  while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    pump();
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("fin %ld %d\n", (long)(LONG)code,
         (int)GetPrivateProfileIntA("Transformadores", "Transformado", 999, ini));
  fflush(stdout);
  DestroyWindow(window);
  return 0;
}
