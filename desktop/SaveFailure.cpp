// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The cause of a failed save, from the failed call's own reason.
#include "SaveFailure.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

namespace folio::ui {

QString SaveFailureCause(const QString& path, const QString& writerReason, int systemError) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder %1 does not exist")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    if (file.isDir())
        return QStringLiteral("it is a folder");
    if (!writerReason.isEmpty())
        return writerReason;
    if (systemError != 0)
        return QString::fromLocal8Bit(std::strerror(systemError));
    return QStringLiteral("the pages could not be written");
}

} // namespace folio::ui
