// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Measures the command window's live preview on the real windows (run it on
// the offscreen platform: QT_QPA_PLATFORM=offscreen bin/preview_bench):
//  - the time from a keystroke to the preview of a three-page letter on the
//    screen, split into the pause the window waits for (the debounce) and
//    the build, scaling and painting after it;
//  - the longest time the GUI thread does not return to its event loop
//    while a 5,000-line macro is typed into, in bursts with pauses in which
//    previews are built: a 1 ms timer notes every gap between its ticks, and
//    how much of the gap the thread was working rather than waiting for a
//    core (on a loaded machine the second is what the program costs).
// The settings go to a temporary folder; nothing else is written.
#include "PreviewPane.h"
#include "Program.h"
#include "TCommandForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

void typeKey(QWidget* editor, QChar c) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(editor, &press);
    QApplication::sendEvent(editor, &release);
}

// Runs the event loop for `ms` milliseconds.
void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

QString letter(int paragraphs) {
    QString text = QStringLiteral(":FAX:FONT=Arial,12\nBrackwell & Sons\n14 Quay Street\n\n");
    for (int p = 0; p < paragraphs; ++p) {
        text += QStringLiteral("Paragraph %1 of the letter: the goods ordered on the fourth "
                               "arrived in good order and were checked against the list.\n")
                    .arg(p + 1);
        text += QStringLiteral("The invoice follows under separate cover; payment is due "
                               "within thirty days of its date.\n\n");
    }
    return text;
}

// The calling thread's processor time, in milliseconds.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store.path());
    QApplication app(argc, argv);
    Program program({});
    TCommandForm& window = *program.CommandForm;
    window.resize(1200, 800);
    window.show();
    folio::ui::PreviewPane& pane = *window.pnlPreview;
    QPlainTextEdit& editor = *window.memoCommand;

    QElapsedTimer clock;
    clock.start();
    qint64 fired = 0, shownAt = 0;
    int shownPages = 0;
    double buildMs = 0;
    QObject::connect(window.tmrPreview, &QTimer::timeout, [&] { fired = clock.nsecsElapsed(); });
    QObject::connect(&pane, &folio::ui::PreviewPane::shown,
                     [&](const folio::ui::PreviewResult& r) {
                         pane.ScrollArea()->viewport()->repaint();
                         shownAt = clock.nsecsElapsed();
                         shownPages = r.pageCount;
                         buildMs = r.buildMs;
                     });

    // The three-page letter.
    int paragraphs = 20;
    editor.setPlainText(letter(paragraphs));
    spin(1500);
    while (shownPages < 3 && paragraphs < 200) {
        paragraphs += 4;
        editor.setPlainText(letter(paragraphs));
        spin(1000);
    }
    editor.moveCursor(QTextCursor::End);
    std::vector<double> total, afterPause, build;
    for (int i = 0; i < 20; ++i) {
        const quint64 before = pane.ShownGeneration();
        const qint64 key = clock.nsecsElapsed();
        typeKey(&editor, QChar('a' + i % 26));
        while (pane.ShownGeneration() == before)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        total.push_back((shownAt - key) / 1e6);
        afterPause.push_back((shownAt - fired) / 1e6);
        build.push_back(buildMs);
    }
    std::printf("letter of %d pages (%d macro lines), median of %zu keystrokes:\n", shownPages,
                int(editor.document()->blockCount()), total.size());
    std::printf("  keystroke to preview shown: %.1f ms (%d ms pause + %.1f ms)\n",
                median(total), TCommandForm::kPreviewDelayMs, median(afterPause));
    std::printf("  of which the build and scaling on the builder thread: %.1f ms\n",
                median(build));

    // Typing into 5,000 lines.
    QString big;
    for (int i = 0; i < 5000; ++i)
        big += i % 50 == 0 ? QStringLiteral(":FAX:FONT=Arial,%1\n").arg(8 + i % 7)
                           : QStringLiteral("Line %1 of a long macro with some words on it.\n").arg(i);
    editor.setPlainText(big);
    spin(3000);
    // The same typing with the preview on and off: what the machine itself
    // costs (other processes, the scheduler) shows in the second.
    for (const bool preview : {true, false}) {
        window.mnuViewPreview->setChecked(preview);
        editor.moveCursor(QTextCursor::Start);
        // Wall time between ticks, and the GUI thread's own processor time
        // in that gap: a gap the thread spent waiting for a core (a loaded
        // machine) shows in the first only.
        std::vector<double> gaps, busy;
        qint64 lastTick = clock.nsecsElapsed();
        double lastCpu = threadCpuMs();
        QTimer ticker;
        ticker.setInterval(1);
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            const double cpu = threadCpuMs();
            gaps.push_back((now - lastTick) / 1e6);
            busy.push_back(cpu - lastCpu);
            lastTick = now;
            lastCpu = cpu;
        });
        const quint64 firstGeneration = pane.ShownGeneration();
        lastTick = clock.nsecsElapsed();
        lastCpu = threadCpuMs();
        ticker.start();
        int keys = 0;
        for (int burst = 0; burst < 10; ++burst) {
            for (int k = 0; k < 15; ++k, ++keys) {
                typeKey(&editor, QChar('a' + k));
                spin(60);
            }
            spin(1200); // a pause: the preview is built and shown
        }
        ticker.stop();
        std::sort(gaps.begin(), gaps.end());
        std::sort(busy.begin(), busy.end());
        std::printf("5,000-line macro, preview %s (%d pages), %d keystrokes in 10 bursts, "
                    "%llu previews shown:\n",
                    preview ? "on" : "off", pane.PageCount(), keys,
                    static_cast<unsigned long long>(pane.ShownGeneration() - firstGeneration));
        std::printf("  event-loop stall: longest %.1f ms, 99.9th percentile %.1f ms\n",
                    gaps.empty() ? 0 : gaps.back(),
                    gaps.empty() ? 0 : gaps[std::size_t(double(gaps.size()) * 0.999)]);
        std::printf("  of it the GUI thread busy: longest %.1f ms, 99.9th percentile %.1f ms\n",
                    busy.empty() ? 0 : busy.back(),
                    busy.empty() ? 0 : busy[std::size_t(double(busy.size()) * 0.999)]);
    }
    return 0;
}
