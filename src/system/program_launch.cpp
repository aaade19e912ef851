// Placeholder until program launch lands.
#include "windows_operations.h"

int WindowsOperations::LaunchProgram(const WideChar*, const WideChar*, const WideChar*) {
  return 0;
}
