// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Window elements carry their member names as Qt object names, so that
// they can be found by name (findChild) and read in diagnostics.
#pragma once

#include <QObject>

#define FOLIO_NAME(member) (member)->setObjectName(QStringLiteral(#member))
