// Placeholder until the folder operations land.
#include "windows_operations.h"

int WindowsOperations::FolderIsListable(const WideChar*) { return 0; }
int WindowsOperations::MakeFolder(const WideChar*) { return 0; }
int WindowsOperations::RemoveFile(const WideChar*) { return 0; }
int WindowsOperations::EnterFolder(const WideChar*) { return 0; }
void WindowsOperations::ReleaseListing() {}
