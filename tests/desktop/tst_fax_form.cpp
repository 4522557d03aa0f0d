// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The viewer window: the blank first page, the pointer position in page
// pixels whatever the scroll position, saving the fax file (asking once,
// then reusing the name; Save As always asking), a failed save that is
// reported and keeps Save enabled, and hiding and showing the window.
#include "DesktopTestSupport.h"

#include "Program.h"
#include "SaveFailure.h"
#include "TCommandForm.h"
#include "TFaxForm.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeView>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace desktoptest;

class TestFaxForm : public QObject, protected RunningProgram {
    Q_OBJECT
    QString page() { return fax().lblCurrentPg->text() + " of " + fax().lblLastPg->text(); }
    void process(const QString& text) {
        cmd().memoCommand->setPlainText(text);
        cmd().btnProcessClick();
    }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() { StartProgram(); }
    void cleanup() { StopProgram(); }

    void startsWithABlankPageOneOfOne() {
        QVERIFY(!fax().isVisible());
        QCOMPARE(fax().windowTitle(), QStringLiteral("Brackwell Folioset Viewer"));
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        QVERIFY(!fax().mnuFileSave->isEnabled());
        QVERIFY(!fax().mnuFileSaveAs->isEnabled());
        QVERIFY(fax().mnuFileClose->isEnabled());
        const QImage& picture = fax().pageView->Picture();
        QCOMPARE(picture.size(), QSize(1728, 2200));
        QCOMPARE(picture.pixelIndex(0, 0), 0);
        QCOMPARE(picture.pixel(0, 0), qRgb(255, 255, 255));
        QVERIFY(fax().PointerText().isEmpty()); // empty until the first movement
    }

    void pageSizeComesFromTheSettings() {
        program_.reset();
        settings_->WriteRaw("[General]\nImageWidth=800\nImageHeight=600\n");
        program_ = std::make_unique<Program>(QStringList{});
        QCOMPARE(fax().pageView->Picture().size(), QSize(800, 600));
    }

    // The panels had no frames between them and a five-digit position was
    // cut off.
    void statusPanelsAreFramedAndHoldFiveDigits() {
        for (QLabel* panel : {fax().pnlPointer, fax().pnlSecond})
            QCOMPARE(panel->frameShape(), QFrame::Panel);
        emit fax().pageView->PointerMoved(99999, 99999);
        const QString text = fax().PointerText();
        QCOMPARE(text, QStringLiteral("X: 99999  Y: 99999"));
        QVERIFY(fax().pnlPointer->contentsRect().width() >=
                fax().pnlPointer->fontMetrics().horizontalAdvance(text));
    }

    // The columns of the file dialogs' detail view were cut at the dialogs'
    // first size.
    void fileDialogsShowTheirColumnsWhole() {
        QVERIFY(WriteBytes(file("a letter.txt"), "text\r\n"));
        for (QFileDialog* dialog : {cmd().dlgFileOpen, cmd().dlgFileSave, fax().dlgFileSave}) {
            dialog->setDirectory(files_->path());
            dialog->setViewMode(QFileDialog::Detail);
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            QAbstractItemView* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
            QVERIFY(view);
            QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) > 0);
            QHeaderView* header = static_cast<QTreeView*>(view)->header();
            for (int column = 0; column < 4; ++column) {
                const int width = header->sectionSize(column);
                QVERIFY2(width >= header->sectionSizeHint(column) &&
                             width >= view->sizeHintForColumn(column),
                         qPrintable(QStringLiteral("%1: column %2 is %3 wide, needs %4")
                                        .arg(dialog->windowTitle())
                                        .arg(column)
                                        .arg(width)
                                        .arg(view->sizeHintForColumn(column))));
            }
            QVERIFY2(header->length() <= view->viewport()->width(),
                     qPrintable(QStringLiteral("%1 %2 %3x%4")
                                    .arg(header->length())
                                    .arg(view->viewport()->width())
                                    .arg(dialog->width())
                                    .arg(dialog->height())));
            dialog->hide();
        }
    }

    void pointerPositionIsInPagePixels() {
        process(":FAX:LINE=0,0,10,10");
        QVERIFY(QTest::qWaitForWindowExposed(&fax()));
        fax().scrollPage->verticalScrollBar()->setValue(700);
        fax().scrollPage->horizontalScrollBar()->setValue(300);
        QVERIFY(fax().scrollPage->verticalScrollBar()->value() > 0);
        QTest::mouseMove(fax().pageView, QPoint(300, 700));
        QTRY_COMPARE(fax().PointerText(), QStringLiteral("X: 300  Y: 700"));
        QTest::mouseMove(fax().pageView, QPoint(317, 723));
        QTRY_COMPARE(fax().PointerText(), QStringLiteral("X: 317  Y: 723"));

        fax().scrollPage->verticalScrollBar()->setValue(0);
        fax().scrollPage->horizontalScrollBar()->setValue(0);
        // QTest takes the point (0, 0) for "the centre": the event is sent as it comes.
        QMouseEvent move(QEvent::MouseMove, QPointF(0, 0),
                         fax().pageView->mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(fax().pageView, &move);
        QTRY_COMPARE(fax().PointerText(), QStringLiteral("X: 0  Y: 0"));
    }

    void fitWidthShowsTheWholeWidthInPagePixels() {
        process(":FAX:LINE=0,0,10,10");
        QVERIFY(QTest::qWaitForWindowExposed(&fax()));
        fax().resize(900, 700);
        fax().mnuViewFitWidth->trigger();
        QCOMPARE(fax().pageView->width(), fax().scrollPage->viewport()->width());
        QCOMPARE(fax().scrollPage->horizontalScrollBar()->maximum(), 0);
        // The pointer over the view's last column is over the page's last
        // pixels (about two of them per screen pixel here), never beyond.
        QTest::mouseMove(fax().pageView, QPoint(fax().pageView->width() - 1, 0));
        QTRY_VERIFY(!fax().PointerText().isEmpty());
        const int x = fax().PointerText().split(' ', Qt::SkipEmptyParts).value(1).toInt();
        QVERIFY2(x >= 1724 && x <= 1727, qPrintable(fax().PointerText()));
    }

    void saveAsksOnceThenReusesTheName() {
        process("Page one\n:FAX:PAGEBREAK\nPage two");
        const QString first = file("fax");
        {
            ModalScript script;
            script.File(first);
            fax().mnuFileSave->trigger();
            QVERIFY(script.Done());
            QVERIFY2(script.Unexpected().isEmpty(), qPrintable(script.Unexpected().join('\n')));
            QCOMPARE(script.Seen()[0].title, QStringLiteral("Save Fax File"));
        }
        QVERIFY(IsTiff(ReadBytes(first + ".tif"))); // the default extension
        QVERIFY(!fax().mnuFileSave->isEnabled());
        QVERIFY(fax().mnuFileSaveAs->isEnabled());
        QCOMPARE(QString::fromLocal8Bit(fax().Engine().SaveName), first + ".tif");

        // After the next run Save writes to the same file without asking.
        QVERIFY(QFile::remove(first + ".tif"));
        process("Another text");
        QVERIFY(fax().mnuFileSave->isEnabled());
        {
            ModalScript script;
            fax().mnuFileSave->trigger();
            QVERIFY(script.Seen().isEmpty());
        }
        QVERIFY(IsTiff(ReadBytes(first + ".tif")));
        QVERIFY(!fax().mnuFileSave->isEnabled());

        // Save As always asks.
        {
            ModalScript script;
            script.File(file("other.tif"));
            fax().mnuFileSaveAs->trigger();
            QVERIFY(script.Done());
        }
        QVERIFY(IsTiff(ReadBytes(file("other.tif"))));
        QCOMPARE(QString::fromLocal8Bit(fax().Engine().SaveName), file("other.tif"));
    }

    void cancelledSaveChangesNothing() {
        process("text");
        ModalScript script;
        script.File(QString());
        fax().mnuFileSaveAs->trigger();
        QVERIFY(script.Done());
        QVERIFY(fax().mnuFileSave->isEnabled());
        QVERIFY(fax().Engine().SaveName == nullptr);
    }

    void failedSaveIsReportedAndKeepsSaveEnabled() {
        process("text");
        const QString target = file("no such folder/out.tif");
        const QByteArray name = QFile::encodeName(target);
        fax().Engine().SaveName = new char[std::size_t(name.size()) + 1];
        std::memcpy(fax().Engine().SaveName, name.constData(), std::size_t(name.size()) + 1);
        ModalScript script;
        script.Box(QMessageBox::Ok);
        fax().mnuFileSave->trigger();
        QVERIFY(script.Done());
        const SeenBox& box = script.Seen()[0];
        QCOMPARE(box.title, QStringLiteral("Brackwell Folioset"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(box.text.contains(target), qPrintable(box.text));
        QVERIFY2(box.text.contains("does not exist"), qPrintable(box.text));
        QVERIFY(fax().mnuFileSave->isEnabled());
        QVERIFY(fax().mnuFileSaveAs->isEnabled());
        QVERIFY(!QFile::exists(target));
    }

    // A read-only file system was reported as "permission denied", a guess
    // from the folder's permissions: the cause is the failed call's own.
    // The writer's answer is injected, since a test may not mount a
    // read-only file system.
    void saveFailureNamesTheSystemsReason_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("cause");
        const auto text = [](int e) { return QString::fromLocal8Bit(std::strerror(e)); };
        QTest::newRow("read-only file system")
            << "out.tif"
            << "cannot create a file in F: " + text(EROFS) << EROFS
            << "cannot create a file in F: " + text(EROFS);
        QTest::newRow("full disk, errno only") << "out.tif"
                                               << "" << ENOSPC << text(ENOSPC);
        QTest::newRow("missing folder") << "none/out.tif"
                                        << "x" << ENOENT << "does not exist";
        QTest::newRow("a folder") << "."
                                  << "x" << EISDIR << "it is a folder";
        QTest::newRow("nothing said") << "out.tif"
                                      << "" << 0 << "could not be written";
    }
    void saveFailureNamesTheSystemsReason() {
        QFETCH(QString, name);
        QFETCH(QString, writer);
        QFETCH(int, error);
        QFETCH(QString, cause);
        const QString path = file(name);
        // The folder refuses writing as a read-only file system would.
        QVERIFY(QFile::setPermissions(files_->path(), QFile::ReadOwner | QFile::ExeOwner));
        const QString got = folio::ui::SaveFailureCause(path, writer, error);
        QFile::setPermissions(files_->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(got.contains(cause), qPrintable(got));
        QVERIFY2(!got.contains("permission denied"), qPrintable(got));
    }

    void closeHidesAndShowViewerShowsTheSamePage() {
        process("one\n:FAX:PAGEBREAK\ntwo");
        fax().btnPrevPgClick();
        QCOMPARE(page(), QStringLiteral("1 of 2"));
        fax().mnuFileClose->trigger();
        QVERIFY(!fax().isVisible());
        QVERIFY(fax().mnuFileSave->isEnabled()); // pages and menu states stay
        cmd().mnuOptionsShow->trigger();
        QVERIFY(fax().isVisible());
        QCOMPARE(page(), QStringLiteral("1 of 2"));
        // Process starts over and ends on the last page.
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("2 of 2"));
    }

    void showCommandWindow() {
        QVERIFY(!cmd().isVisible());
        fax().mnuOptionsShow->trigger();
        QVERIFY(cmd().isVisible());
    }
};

QTEST_MAIN(TestFaxForm)
#include "tst_fax_form.moc"
