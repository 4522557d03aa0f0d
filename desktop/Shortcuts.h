// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Shortcut keys for menu items. A standard key is the platform's own
// binding where Qt knows one (Ctrl+S, Ctrl+Shift+S, ...); where the platform
// has none, the common key given as the fallback takes its place. The keys
// belong to the window, not to the menu items: the menus show no shortcut
// keys, only their access keys, and the keys work all the same.
#pragma once

#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QWidget>

namespace folio::ui {

inline QList<QKeySequence> StandardKeys(QKeySequence::StandardKey key,
                                        const char* fallback = nullptr) {
    QList<QKeySequence> list = QKeySequence::keyBindings(key);
    if (list.isEmpty() && fallback)
        list.append(QKeySequence(QString::fromLatin1(fallback)));
    return list;
}

// Gives `window` the keys that choose `item` while it is enabled.
inline void AddWindowKeys(QWidget* window, QAction* item, const QList<QKeySequence>& keys) {
    if (keys.isEmpty())
        return;
    auto* key = new QAction(window);
    key->setShortcuts(keys);
    key->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(key, &QAction::triggered, item, [item] {
        if (item->isEnabled())
            item->trigger();
    });
    window->addAction(key);
}

} // namespace folio::ui
