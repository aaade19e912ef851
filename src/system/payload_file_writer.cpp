// Placeholder until the payload file writer lands.
#include "windows_operations.h"

int WindowsOperations::WritePayloadItem(const WideChar*, PayloadItem) { return 0; }
