// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Shortcut keys of the menu items. A standard key is the platform's own
// binding where Qt knows one (Ctrl+S, Ctrl+Shift+S, ...); where the platform
// has none, the common key given as the fallback takes its place.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

namespace folio::ui {

inline QList<QKeySequence> StandardKeys(QKeySequence::StandardKey key,
                                        const char* fallback = nullptr) {
    QList<QKeySequence> list = QKeySequence::keyBindings(key);
    if (list.isEmpty() && fallback)
        list.append(QKeySequence(QString::fromLatin1(fallback)));
    return list;
}

} // namespace folio::ui
