// Placeholder until the special folder lookup lands.
#include "windows_operations.h"

PathText WindowsOperations::SpecialFolderPath(int) { return PathText(); }
