/* A Windows program locking a file as dBase programs do, with LockFile.
     locker.exe FILE SECONDS   locks the whole file, says "bloqueado", holds it that long
     locker.exe FILE           only tries: "bloqueado" or "rechazado" */

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    printf("no se abre %lu\n", GetLastError());
    return 2;
  }
  BOOL locked = LockFile(file, 0, 0, MAXDWORD, 0);
  printf("%s\n", locked ? "bloqueado" : "rechazado");
  fflush(stdout);
  if (locked && argc > 2) Sleep((DWORD)atoi(argv[2]) * 1000);
  return locked ? 0 : 1;
}
