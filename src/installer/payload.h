// The six carried files, back to back in the image's read-only data. Seven boundary symbols,
// laid down by payload.S, delimit them; an item is two neighbouring boundaries.
#ifndef SOLVARINE_INSTALLER_PAYLOAD_H_
#define SOLVARINE_INSTALLER_PAYLOAD_H_

struct PayloadItem {
  const unsigned char* start;
  const unsigned char* end;  // the next item's start

  // Below 2^31 by construction: the build refuses larger inputs.
  int Length() const { return static_cast<int>(end - start); }
};

// The carried files in the order they lie in the image and are written.
struct Payload {
  PayloadItem AppExecutable;
  PayloadItem ArchiverExecutable;
  PayloadItem DesktopShortcut;
  PayloadItem UserGuide;
  PayloadItem LightwaveChecklist;
  PayloadItem TerragenChecklist;
};

// The payload built into this image (payload.S); only the image defines it.
Payload ImagePayload();

#endif  // SOLVARINE_INSTALLER_PAYLOAD_H_
