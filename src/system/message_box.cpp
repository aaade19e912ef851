// Placeholder until the notice box lands.
#include "windows_operations.h"

int WindowsOperations::ShowNotice(const WideChar*, const WideChar*, unsigned) { return 0; }
