// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Why a save failed, in the system's own words: the reason of the call that
// failed (strerror of its errno), never a guess from a look at the folder's
// permissions, which cannot tell a read-only file system or a full disk
// from a missing write permission.
#pragma once

#include <QString>

namespace folio::ui {

// The cause of a failed save of `path`, for "... could not be saved: CAUSE.".
// `writerReason` is what the writer said (it names the failed step and the
// system's reason), `systemError` the errno left by the save; either may be
// empty or 0. A missing folder and a folder in place of the file are named
// as such; otherwise the writer's reason, else the errno's text.
QString SaveFailureCause(const QString& path, const QString& writerReason, int systemError);

} // namespace folio::ui
