// Holds a file open without sharing, the way another program that has it open does, until the
// test lets go:  hold_file <path> <ready event> <release event>
// Opens the file read-write with share mode 0, signals the ready event, then waits for the
// release event (at most a minute, so that a failed test leaves nothing running). Exit code 0
// when it held the file, 2 when it could not open it, 1 on a bad command line.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 1;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (ready == nullptr || release == nullptr) return 1;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  SetEvent(ready);
  WaitForSingleObject(release, 60000);
  CloseHandle(file);
  return 0;
}
