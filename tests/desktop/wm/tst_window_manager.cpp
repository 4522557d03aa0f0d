// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The windows under a real window manager (openbox on a private X server,
// started by run-under-wm.sh): the manager maps a window on its own time and
// gives a newly mapped window the focus, which the offscreen platform never
// does. Each check first waits until the manager has handled everything
// asked of it so far, so a focus it hands out late cannot slip past.
#include "DesktopTestSupport.h"

#include "TAboutBox.h"
#include "TFaxForm.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace desktoptest;

namespace {

xcb_connection_t* connection() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(const char* name) {
    xcb_connection_t* c = connection();
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

// The 32-bit values of a window property, empty when it is not set.
QList<quint32> windowProperty(xcb_window_t window, const char* name) {
    xcb_connection_t* c = connection();
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom(name), XCB_ATOM_ANY, 0, 1024), nullptr);
    QList<quint32> values;
    if (r && r->format == 32) {
        const auto* v = static_cast<const quint32*>(xcb_get_property_value(r));
        for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
            values.append(v[i]);
    }
    std::free(r);
    return values;
}

// Waits until the window manager has handled every request made so far: it
// handles them in order, so once it has answered a frame-extents request
// for a window of ours, every earlier map and focus request is done.
void waitForTheManager() {
    xcb_connection_t* c = connection();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root(), 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(c, 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
    QTRY_VERIFY_WITH_TIMEOUT(!windowProperty(window, "_NET_FRAME_EXTENTS").isEmpty(), 20000);
    xcb_destroy_window(c, window);
    xcb_flush(c);
}

// The top-level window that holds the X input focus, as the server has it.
QWidget* focusedWindow() {
    xcb_connection_t* c = connection();
    xcb_get_input_focus_reply_t* r = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    const xcb_window_t focus = r ? r->focus : 0;
    std::free(r);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->internalWinId() == focus)
            return w;
    return nullptr;
}

// Whether the manager stacks `upper` above `lower` (its client list runs
// from the bottom of the stack to the top).
bool stackedAbove(const QWidget& upper, const QWidget& lower) {
    const QList<quint32> stack = windowProperty(root(), "_NET_CLIENT_LIST_STACKING");
    const qsizetype lowerAt = stack.indexOf(quint32(lower.internalWinId()));
    return lowerAt >= 0 && stack.indexOf(quint32(upper.internalWinId())) > lowerAt;
}

constexpr int kWait = 20000; // ms; a loaded machine may be slow to map

} // namespace

class TestWindowManager : public QObject, RunningProgram {
    Q_OBJECT

    // Waits until the manager has handled all that was asked of it, then
    // until `window` holds the focus both for the server and for Qt.
    void expectFocusIn(QWidget& window) {
        waitForTheManager();
        QTRY_COMPARE_WITH_TIMEOUT(focusedWindow(), &window, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(window.isActiveWindow(), kWait);
    }
    void showCommandWindow() {
        cmd().show();
        cmd().activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&cmd(), kWait));
        expectFocusIn(cmd());
    }

  private slots:
    void initTestCase() {
        QVERIFY2(connection(), "needs the xcb platform: run through run-under-wm.sh");
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init() { StartProgram(); }
    void cleanup() { StopProgram(); }

    // The viewer was shown and the focus handed back before the manager
    // had mapped it; the manager then gave the viewer the focus.
    void processWithTheViewerHiddenLeavesTheFocusInTheEditor() {
        showCommandWindow();
        cmd().memoCommand->setPlainText(QStringLiteral("Hello"));
        cmd().btnProcess->click();
        QVERIFY(QTest::qWaitForWindowExposed(&fax(), kWait));
        expectFocusIn(cmd());
        QVERIFY(stackedAbove(fax(), cmd()));
        QVERIFY(cmd().memoCommand->hasFocus());
        QTest::keyClicks(nullptr, "!"); // to the focus widget, as typing goes
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("!Hello"));
    }

    // Keys as the server delivers them: to the window, then to its active
    // popup (a menu, a completion list) or its focus widget.
    static void type(QWidget& window, const QString& keys) {
        for (const QChar c : keys)
            QTest::keyClick(window.windowHandle(), c.toLatin1());
    }

    // Enter on a typed name left the name field's completion list open
    // over the closed dialog: it took the next key, so Alt+P or the first
    // letter typed after File > Open was lost.
    void theFirstKeyAfterFileOpenReachesTheEditor() {
        const QString macro = file("macro.txt");
        QVERIFY(WriteBytes(macro, "Hello\r\n"));
        QVERIFY(WriteBytes(file("macro2.txt"), "other\r\n")); // so that the name completes
        showCommandWindow();
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(cmd().dlgFileOpen->isVisible(), kWait);
            QFileDialog& dialog = *cmd().dlgFileOpen;
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QVERIFY(QTest::qWaitForWindowExposed(&dialog, kWait));
            name->setFocus();
            type(dialog, macro.chopped(5)); // "...macro" completes to both files
            QTRY_VERIFY_WITH_TIMEOUT(QApplication::activePopupWidget(), kWait);
            type(dialog, macro.right(5));
            QTest::keyClick(dialog.windowHandle(), Qt::Key_Return);
            answered = true;
        });
        cmd().mnuFileOpen->trigger();
        QVERIFY(answered);
        QCOMPARE(cmd().MacroFileName(), macro);
        expectFocusIn(cmd());
        type(cmd(), QStringLiteral("x"));
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("xHello\n"));
        QVERIFY(!QApplication::activePopupWidget());
    }

    // File > Close chosen from the keyboard on an unchanged text left the
    // focus on the menu bar, where the next letter opened a menu.
    void fileCloseFromTheKeyboardGivesTheFocusToTheEditor() {
        QVERIFY(WriteBytes(file("macro.txt"), "Hello\r\n"));
        showCommandWindow();
        QVERIFY(cmd().LoadMacroFile(file("macro.txt")));
        // As after a dialog that left no widget with the focus: the menu
        // bar then has no widget to hand it back to.
        if (QWidget* focus = QApplication::focusWidget())
            focus->clearFocus();
        QTest::keyClick(cmd().windowHandle(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY_WITH_TIMEOUT(cmd().mnuFile->isVisible(), kWait);
        type(cmd(), QStringLiteral("c"));
        QCOMPARE(cmd().State(), TCommandForm::DocumentState::Closed);
        expectFocusIn(cmd());
        type(cmd(), QStringLiteral("h"));
        QVERIFY(!cmd().mnuHelp->isVisible());
        QVERIFY(cmd().memoCommand->hasFocus());
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("h"));
    }

    void showViewerLeavesTheFocusInTheCommandWindow() {
        showCommandWindow();
        cmd().mnuOptionsShow->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(&fax(), kWait));
        expectFocusIn(cmd());
        QVERIFY(stackedAbove(fax(), cmd()));
        // Shown again while behind: it comes to the front, the focus stays.
        cmd().raise();
        cmd().mnuOptionsShow->trigger();
        expectFocusIn(cmd());
        QVERIFY(stackedAbove(fax(), cmd()));
    }

    void showCommandWindowLeavesTheFocusInTheViewer() {
        fax().show();
        fax().activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&fax(), kWait));
        expectFocusIn(fax());
        fax().mnuOptionsShow->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(&cmd(), kWait));
        expectFocusIn(fax());
        QVERIFY(stackedAbove(cmd(), fax()));
    }

    // The About box offered to minimise and maximise although its size is
    // fixed: it asks for neither, and the manager allows neither resizing
    // nor maximising. (Openbox keeps its minimise button on every dialog
    // whatever the window asks; other managers follow the hints.)
    void aboutBoxIsAFixedDialog() {
        TAboutBox& about = *program_->AboutBox;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about, kWait));
        waitForTheManager();
        // Motif hints: flags, functions, decorations (minimise 0x8 and
        // maximise 0x10 among the functions, 0x20 and 0x40 among the
        // decorations).
        const QList<quint32> motif =
            windowProperty(xcb_window_t(about.internalWinId()), "_MOTIF_WM_HINTS");
        QCOMPARE(motif.size(), 5);
        QVERIFY(motif[0] & 1);
        QCOMPARE(motif[1] & 0x18u, 0u);
        QCOMPARE(motif[2] & 0x60u, 0u);
        const QList<quint32> allowed =
            windowProperty(xcb_window_t(about.internalWinId()), "_NET_WM_ALLOWED_ACTIONS");
        QVERIFY(!allowed.isEmpty());
        for (const char* action : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ",
                                   "_NET_WM_ACTION_MAXIMIZE_VERT"})
            QVERIFY2(!allowed.contains(atom(action)), action);
        QCOMPARE(about.size(), QSize(298, 213));
        about.hide();
    }

    // The help window opened partly below the bottom of the screen, where
    // the manager found no free room for it.
    void helpWindowOpensOnTheScreen() {
        showCommandWindow();
        cmd().mnuOptionsShow->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(&fax(), kWait));
        program_->ShowHelpContents();
        auto* help = qobject_cast<QMainWindow*>(QApplication::activeWindow());
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->windowTitle().endsWith(QStringLiteral("Help")) && w->isVisible())
                help = qobject_cast<QMainWindow*>(w);
        QVERIFY(help);
        QVERIFY(QTest::qWaitForWindowExposed(help, kWait));
        waitForTheManager();
        const QRect screen = help->screen()->availableGeometry();
        QCOMPARE(screen.size(), QSize(1280, 1024)); // the size the fault was seen at
        QTRY_VERIFY2_WITH_TIMEOUT(screen.contains(help->frameGeometry()),
                                  qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                 .arg(help->frameGeometry().x())
                                                 .arg(help->frameGeometry().y())
                                                 .arg(help->frameGeometry().width())
                                                 .arg(help->frameGeometry().height())),
                                  kWait);
    }
};

QTEST_MAIN(TestWindowManager)
#include "tst_window_manager.moc"
