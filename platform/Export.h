// Symbol visibility for the shared libraries. Everything is built hidden;
// FOLIO_EXPORT marks the few names a library hands to its clients.
#pragma once

#define FOLIO_EXPORT __attribute__((visibility("default")))
