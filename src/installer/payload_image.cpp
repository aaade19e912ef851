// The payload of this image, from the boundaries that payload.S lays down.
#include "payload.h"

extern "C" const unsigned char solvarine_payload_0[], solvarine_payload_1[], solvarine_payload_2[],
    solvarine_payload_3[], solvarine_payload_4[], solvarine_payload_5[], solvarine_payload_6[];

Payload ImagePayload() {
  return {{solvarine_payload_0, solvarine_payload_1}, {solvarine_payload_1, solvarine_payload_2},
          {solvarine_payload_2, solvarine_payload_3}, {solvarine_payload_3, solvarine_payload_4},
          {solvarine_payload_4, solvarine_payload_5}, {solvarine_payload_5, solvarine_payload_6}};
}
