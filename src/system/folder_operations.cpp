// Folder tests, folder creation, file removal and the current directory: thin layers over one
// Windows call each, and the one listing slot that a folder test leaves open.
#include <windows.h>

#include "folder_text.h"
#include "windows_operations.h"

namespace {

// The listing slot. Zero-initialised (nothing runs constructors in the image): null is an empty
// slot, INVALID_HANDLE_VALUE marks a folder that listed no entry, anything else is an open
// search handle.
HANDLE listing_slot;

void EmptyListingSlot() {
  if (listing_slot != nullptr && listing_slot != INVALID_HANDLE_VALUE) FindClose(listing_slot);
  listing_slot = nullptr;
}

}  // namespace

int WindowsOperations::FolderIsListable(const WideChar* folder) {
  EmptyListingSlot();
  HANDLE heap = GetProcessHeap();
  auto* search =
      static_cast<WideChar*>(HeapAlloc(heap, 0, ListingBufferLength(folder) * sizeof(WideChar)));
  if (search == nullptr) return 0;
  BuildListingPath(folder, search);
  // The first entry is never read: it lives on the stack rather than as 592 zero bytes in the
  // image's data.
  WIN32_FIND_DATAW entry;
  HANDLE found = FindFirstFileW(AsWide(search), &entry);
  int listable = 1;
  if (found != INVALID_HANDLE_VALUE) {
    listing_slot = found;
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    listing_slot = INVALID_HANDLE_VALUE;  // the folder is there, nothing in it matches
  } else {
    listable = 0;
  }
  HeapFree(heap, 0, search);
  return listable;
}

int WindowsOperations::MakeFolder(const WideChar* path) {
  if (path == nullptr) return 0;
  WideChar copy[kMakeFolderLimit + 1];
  MakeFolderCopy(path, copy);
  return CreateDirectoryW(AsWide(copy), nullptr);
}

int WindowsOperations::RemoveFile(const WideChar* path) {
  if (path == nullptr) return 0;
  return DeleteFileW(AsWide(path));
}

int WindowsOperations::EnterFolder(const WideChar* path) {
  if (path == nullptr) return 0;
  return SetCurrentDirectoryW(AsWide(path));
}

void WindowsOperations::ReleaseListing() { EmptyListingSlot(); }
