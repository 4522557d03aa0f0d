// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Symbol visibility for the shared libraries. Everything is built hidden;
// FOLIO_EXPORT marks the few names a library hands to its clients.
#pragma once

#define FOLIO_EXPORT __attribute__((visibility("default")))
