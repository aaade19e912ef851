// Folder tests, folder creation, file removal and the current directory: thin layers over one
// Windows call each, and the one listing slot that a folder test leaves open.
#include <windows.h>

#include "folder_text.h"
#include "windows_operations.h"

namespace {

// The listing slot: the search handle and the first entry, which is filled in and never read.
// Zero at start (nothing runs constructors in the image): a null handle is an empty slot,
// INVALID_HANDLE_VALUE marks a folder that listed no entry, anything else is an open search.
// With -fdata-sections GCC would put it into .data$, where its zeros take room in the file.
struct ListingSlot {
  HANDLE handle;
  WIN32_FIND_DATAW entry;
};
__attribute__((section(".bss"))) ListingSlot listing_slot;

void EmptyListingSlot() {
  if (listing_slot.handle != nullptr && listing_slot.handle != INVALID_HANDLE_VALUE) {
    FindClose(listing_slot.handle);
  }
  listing_slot.handle = nullptr;
}

}  // namespace

int WindowsOperations::FolderIsListable(const WideChar* folder) {
  EmptyListingSlot();
  HANDLE heap = GetProcessHeap();
  auto* search =
      static_cast<WideChar*>(HeapAlloc(heap, 0, ListingBufferLength(folder) * sizeof(WideChar)));
  if (search == nullptr) return 0;
  BuildListingPath(folder, search);
  HANDLE found = FindFirstFileW(AsWide(search), &listing_slot.entry);
  int listable = 1;
  if (found != INVALID_HANDLE_VALUE) {
    listing_slot.handle = found;
  } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
    listing_slot.handle = INVALID_HANDLE_VALUE;  // the folder is there, nothing in it matches
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
