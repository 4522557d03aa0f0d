// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The command window driven as a user would: the File menu through open,
// type, save and close; the close query's three answers; loading and saving
// macro files byte for byte; Process building pages in the viewer; settings
// fields that are not whole numbers.
#include "DesktopTestSupport.h"

#include "ErrorBox.h"
#include "FindBar.h"
#include "PreviewPane.h"
#include "PrefixOffer.h"
#include "ProblemList.h"

#include "Program.h"
#include "TCommandForm.h"
#include "TFaxForm.h"
#include "TSettingsForm.h"
#include "TSplashForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QToolButton>
#include <QTreeWidget>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace desktoptest;
using State = TCommandForm::DocumentState;

namespace {

// The editor's lines as the program counts them: an empty last line is none.
QStringList editorLines(const QPlainTextEdit& editor) {
    QStringList lines;
    for (QTextBlock b = editor.document()->begin(); b.isValid(); b = b.next())
        lines.append(b.text());
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int blackPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelIndex(x, y) == 1;
    return n;
}

} // namespace

class TestCommandForm : public QObject, protected RunningProgram {
    Q_OBJECT
    QList<bool> fileMenu() {
        return {cmd().mnuFileOpen->isEnabled(), cmd().mnuFileClose->isEnabled(),
                cmd().mnuFileSave->isEnabled(), cmd().mnuFileSaveAs->isEnabled()};
    }
    void setText(const QString& text) { cmd().memoCommand->setPlainText(text); }
    void open(const QString& path) { // File > Open, which records the name
        ModalScript script;
        script.File(path);
        cmd().mnuFileOpen->trigger();
    }
    QString page() { return fax().lblCurrentPg->text() + " of " + fax().lblLastPg->text(); }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() {
        StartProgram();
        cmd().show();
        QVERIFY(QTest::qWaitForWindowExposed(&cmd()));
    }
    void cleanup() { StopProgram(); }

    void fileMenuFollowsTheDocument() {
        const QList<bool> closed{true, false, false, false}, clean{false, true, false, true},
            modified{false, true, true, true};
        QCOMPARE(fileMenu(), closed);
        QCOMPARE(cmd().State(), State::Closed);

        cmd().memoCommand->setFocus();
        QTest::keyClicks(cmd().memoCommand, "Hello");
        QCOMPARE(fileMenu(), modified);

        const QString first = file("first.txt");
        {
            ModalScript script;
            script.File(first);
            cmd().mnuFileSave->trigger();
            QVERIFY(script.Done());
            QVERIFY2(script.Unexpected().isEmpty(), qPrintable(script.Unexpected().join('\n')));
        }
        QCOMPARE(fileMenu(), clean);
        QCOMPARE(cmd().MacroFileName(), first);
        QCOMPARE(ReadBytes(first), QByteArray("Hello\r\n"));

        // A second Save writes to the same file without asking.
        QTest::keyClicks(cmd().memoCommand, " world");
        QCOMPARE(fileMenu(), modified);
        {
            ModalScript script;
            cmd().mnuFileSave->trigger();
            QVERIFY(script.Seen().isEmpty());
        }
        QCOMPARE(ReadBytes(first), QByteArray("Hello world\r\n"));
        QCOMPARE(fileMenu(), clean);

        // Save as always asks, and keeps the state Clean with the new name.
        const QString second = file("second");
        {
            ModalScript script;
            script.File(second);
            cmd().mnuFileSaveAs->trigger();
            QVERIFY(script.Done());
        }
        QCOMPARE(cmd().MacroFileName(), second + ".txt"); // the default extension
        QCOMPARE(fileMenu(), clean);

        cmd().mnuFileClose->trigger();
        QCOMPARE(fileMenu(), closed);
        QVERIFY(cmd().memoCommand->toPlainText().isEmpty());
        QVERIFY(cmd().MacroFileName().isEmpty());

        // After Close, typing and Save asks for a new name.
        QTest::keyClicks(cmd().memoCommand, "x");
        {
            ModalScript script;
            script.File(QString()); // cancelled: nothing changes
            cmd().mnuFileSave->trigger();
            QVERIFY(script.Done());
        }
        QCOMPARE(fileMenu(), modified);
        {
            ModalScript script;
            script.Box(QMessageBox::No);
            cmd().mnuFileClose->trigger();
            QVERIFY(script.Done());
        }

        {
            ModalScript script;
            script.File(first);
            cmd().mnuFileOpen->trigger();
            QVERIFY(script.Done());
        }
        QCOMPARE(fileMenu(), clean);
        QCOMPARE(cmd().MacroFileName(), first);
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("Hello world\n"));
    }

    void captionNeverShowsTheFile() {
        const auto shown = [this] { return cmd().windowHandle()->title(); };
        QTest::keyClicks(cmd().memoCommand, "Hello");
        {
            ModalScript script;
            script.File(file("first.txt"));
            cmd().mnuFileSave->trigger();
            QVERIFY(script.Done());
        }
        QTest::keyClicks(cmd().memoCommand, "!");
        QCOMPARE(shown(), QStringLiteral("Brackwell Folioset"));
        cmd().memoCommand->undo();
        ModalScript script; // Save writes without a dialog, Close asks nothing
        cmd().mnuFileSave->trigger();
        cmd().mnuFileClose->trigger();
        QVERIFY(script.Seen().isEmpty());
    }

    void closeQuery_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QByteArray>("fileAfter");
        QTest::newRow("Yes saves, then closes")
            << int(QMessageBox::Yes) << true << QByteArray("abc\r\ndef\r\n");
        QTest::newRow("No discards, then closes")
            << int(QMessageBox::No) << true << QByteArray("abc\r\n");
        QTest::newRow("Cancel keeps everything")
            << int(QMessageBox::Cancel) << false << QByteArray("abc\r\n");
    }
    void closeQuery() {
        QFETCH(int, answer);
        QFETCH(bool, closes);
        QFETCH(QByteArray, fileAfter);
        const QString path = file("macro.txt");
        QVERIFY(WriteBytes(path, "abc\r\n"));
        QVERIFY(cmd().LoadMacroFile(path));
        {
            ModalScript script;
            script.File(path);
            cmd().mnuFileSaveAs->trigger(); // records the name
        }
        cmd().memoCommand->moveCursor(QTextCursor::End);
        QTest::keyClicks(cmd().memoCommand, "def");
        QCOMPARE(cmd().State(), State::Modified);

        QSignalSpy ended(program_.get(), &Program::Ended);
        ModalScript script;
        script.Box(QMessageBox::StandardButton(answer));
        const bool closed = cmd().close();
        QVERIFY(script.Done());
        QCOMPARE(script.Seen().size(), 1);
        QCOMPARE(script.Seen()[0].title, QStringLiteral("Save Fax Macro"));
        QCOMPARE(script.Seen()[0].text, QStringLiteral("Save macro commands before closing?"));
        QCOMPARE(script.Seen()[0].icon, QMessageBox::Warning);

        QCOMPARE(closed, closes);
        QCOMPARE(ReadBytes(path), fileAfter);
        QCOMPARE(ended.size(), closes ? 1 : 0);
        if (closes) {
            QCOMPARE(ended[0][0].toInt(), 0);
            QCOMPARE(cmd().State(), State::Closed);
            QVERIFY(cmd().MacroFileName().isEmpty());
            QVERIFY(!program_->SplashForm->isVisible());
        } else {
            QCOMPARE(cmd().State(), State::Modified);
            QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("abc\ndef"));
            QCOMPARE(cmd().MacroFileName(), path);
            QVERIFY(cmd().isVisible());
        }
    }

    void exitAsksTheCloseQuery() {
        setText("typed");
        QSignalSpy ended(program_.get(), &Program::Ended);
        {
            ModalScript script;
            script.Box(QMessageBox::Cancel);
            cmd().mnuFileExit->trigger();
        }
        QCOMPARE(ended.size(), 0);
        {
            ModalScript script;
            script.Box(QMessageBox::No);
            cmd().mnuFileExit->trigger();
            QVERIFY(script.Done());
        }
        QCOMPARE(ended.size(), 1);
    }

    void loadMacroFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        const QByteArray x499(499, 'x');
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("CR LF, last line unterminated")
            << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("LF, last line terminated") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("CR and an empty line")
            << QByteArray("a\rb\r\n\r\n") << QStringList{"a", "b", ""};
        QTest::newRow("499 characters are one line")
            << (x499 + "\r\nz") << QStringList{QString(x499), "z"};
        QTest::newRow("500 characters are two lines")
            << (x499 + "yz\r\n") << QStringList{QString(x499), "yz"};
        QTest::newRow("1000 characters are three lines")
            << QByteArray(1000, 'q')
            << QStringList{QString(499, 'q'), QString(499, 'q'), QString(2, 'q')};
        QTest::newRow("code page 1252") << QByteArray("\x80 \xA0\xE9\x93")
                                        << QStringList{QStringLiteral("\u20AC \u00A0\u00E9\u201C")};
        // 498 bytes, then a two-byte character across the 499-byte cut.
        QTest::newRow("UTF-8 cut keeps a character whole")
            << (QByteArray(498, 'a') + "\xC3\xA9" "b")
            << QStringList{QString(498, 'a'), QStringLiteral("\u00E9b")};
    }
    void loadMacroFile() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        const QString path = file("in.txt");
        QVERIFY(WriteBytes(path, bytes));
        setText("processing");
        cmd().btnProcessClick();
        QVERIFY(fax().mnuFileSave->isEnabled());
        cmd().memoCommand->clear();

        QVERIFY(cmd().LoadMacroFile(path));
        QCOMPARE(editorLines(*cmd().memoCommand), lines);
        QCOMPARE(cmd().State(), State::Clean);
        QVERIFY(cmd().MacroFileName().isEmpty()); // only File > Open records it
        // The viewer's page was cleared.
        QVERIFY(!fax().mnuFileSave->isEnabled());
        QVERIFY(!fax().mnuFileSaveAs->isEnabled());
    }

    void loadAndSaveKeepEveryByte() {
        QByteArray bytes;
        for (int b = 1; b < 256; ++b)
            if (b != '\r' && b != '\n')
                bytes.append(char(b));
        bytes += "\r\n\r\nlast\r\n";
        const QString in = file("bytes.txt"), out = file("copy.txt");
        QVERIFY(WriteBytes(in, bytes));
        QVERIFY(cmd().LoadMacroFile(in));
        QVERIFY(cmd().WriteMacroFile(out));
        QCOMPARE(ReadBytes(out), bytes);

        // Lines without a break and LF breaks come back with CR LF.
        QVERIFY(WriteBytes(in, "one\ntwo"));
        cmd().memoCommand->clear();
        QVERIFY(cmd().LoadMacroFile(in));
        QVERIFY(cmd().WriteMacroFile(out));
        QCOMPARE(ReadBytes(out), QByteArray("one\r\ntwo\r\n"));
    }

    void encodingsRoundTrip_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<bool>("utf8");
        const QString greeting = QStringLiteral("Gr\u00FC\u00DFe aus K\u00F6ln \u2013 5 \u20AC");
        QTest::newRow("code page 1252") << QByteArray("caf\xE9 \x80\r\n:FAX:X=1\r\n")
                                        << QStringLiteral("caf\u00E9 \u20AC") << false;
        QTest::newRow("UTF-8") << (greeting.toUtf8() + "\r\n") << greeting << true;
        QTest::newRow("UTF-8 with mark")
            << ("\xEF\xBB\xBF" + greeting.toUtf8() + "\r\n\r\n") << greeting << true;
        QTest::newRow("ASCII") << QByteArray("plain\r\n") << QStringLiteral("plain") << false;
    }
    void encodingsRoundTrip() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, firstLine);
        QFETCH(bool, utf8);
        const QString in = file("enc.txt"), out = file("enc-copy.txt");
        QVERIFY(WriteBytes(in, bytes));
        QVERIFY(cmd().LoadMacroFile(in));
        QCOMPARE(editorLines(*cmd().memoCommand).value(0), firstLine);
        QCOMPARE(folio::ui::IsUtf8(cmd().Encoding()), utf8);
        QVERIFY(cmd().WriteMacroFile(out));
        QCOMPARE(ReadBytes(out), bytes);
    }

    void newTextTakesTheEncodingSetting() {
        program_->SettingsForm->cbNewFileEncoding->setCurrentIndex(1);
        cmd().mnuFileCloseClick();
        setText(QStringLiteral("\u00E9"));
        const QString out = file("new.txt");
        QVERIFY(cmd().WriteMacroFile(out));
        QCOMPARE(ReadBytes(out), QByteArray("\xC3\xA9\r\n"));
    }

    void loadOfWhatIsNoFileFails_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.txt";
        QTest::newRow("folder") << ".";
    }
    void loadOfWhatIsNoFileFails() {
        QFETCH(QString, name);
        ModalScript script;
        QVERIFY(!cmd().LoadMacroFile(file(name)));
        QCOMPARE(cmd().State(), State::Closed);
        QVERIFY(script.Seen().isEmpty()); // nothing is reported
    }

    void failedWriteIsReportedAndChangesNothing() {
        const QString path = file("kept.txt");
        QVERIFY(WriteBytes(path, "old\r\n"));
        QVERIFY(cmd().LoadMacroFile(path));
        setText("new text");
        ModalScript script;
        script.Box(QMessageBox::Ok);
        QVERIFY(!cmd().WriteMacroFile(file("no such folder/out.txt")));
        QVERIFY(script.Done());
        QCOMPARE(script.Seen()[0].title, QStringLiteral("Write Error"));
        QCOMPARE(script.Seen()[0].text, QStringLiteral("Cannot open file."));
        QCOMPARE(script.Seen()[0].icon, QMessageBox::Critical);
        QCOMPARE(cmd().State(), State::Modified);
        QCOMPARE(ReadBytes(path), QByteArray("old\r\n"));
        // A successful save replaces the whole file, never appends to it,
        // and keeps its mode, owner and group (the owner where allowed).
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(::chmod(name.constData(), 0640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
        QVERIFY(cmd().WriteMacroFile(path));
        QCOMPARE(ReadBytes(path), QByteArray("new text\r\n"));
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0640);
        if (root) {
            QCOMPARE(unsigned(st.st_uid), 65534u);
            QCOMPARE(unsigned(st.st_gid), 65534u);
        }
        QCOMPARE(QDir(files_->path()).entryList(QDir::Files).size(), 1); // no temporary left
    }

    // A full disk was reported as "Unknown error": the reason is the
    // system's own. The full disk is a node of the "full" device (1, 7)
    // made in the test's folder.
    void saveOntoAFullDeviceNamesTheReason() {
        const QString full = file("full");
        if (::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0600, makedev(1, 7)) != 0)
            QSKIP("no permission to make a device node");
        setText("text");
        ModalScript script;
        script.Box(QMessageBox::Ok);
        QVERIFY(!cmd().WriteMacroFile(full));
        QVERIFY(script.Done());
        QCOMPARE(script.Seen()[0].title, QStringLiteral("Write Error"));
        QVERIFY2(script.Seen()[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))),
                 qPrintable(script.Seen()[0].text));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(full).constData(), &st), 0);
        QVERIFY(S_ISCHR(st.st_mode)); // written into, never replaced
    }

    // Saving over a file kept its permissions but gave it to the saving
    // user; a new file gets the mode the umask gives.
    void saveKeepsTheModeAndOwnerOfTheFileItReplaces() {
        const QString path = file("kept.txt");
        const QByteArray name = QFile::encodeName(path);
        QVERIFY(WriteBytes(path, "old\r\n"));
        QCOMPARE(::chmod(name.constData(), 02640), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
        setText("new");
        QVERIFY(cmd().WriteMacroFile(path));
        QCOMPARE(ReadBytes(path), QByteArray("new\r\n"));
        struct stat st;
        QCOMPARE(::stat(name.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(02640));
        if (root) {
            QCOMPARE(st.st_uid, uid_t(65534));
            QCOMPARE(st.st_gid, gid_t(65534));
        }
        const mode_t mask = ::umask(022);
        ::umask(mask);
        QVERIFY(cmd().WriteMacroFile(file("new.txt")));
        QCOMPARE(::stat(QFile::encodeName(file("new.txt")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0666 & ~mask));
    }

    // The boxes were as narrow as their text, and the window manager cut
    // their captions short ("Wri...rror", "Brackw...Folioset"). A caption
    // needs its width in a bold title font of 10 points and room for the
    // frame's four buttons.
    void messageBoxesAreWideEnoughForTheirCaption() {
        QList<int> widths;
        const auto measure = [&widths](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box)
                return false;
            widths.append(box->width());
            box->button(box->standardButtons() & QMessageBox::Cancel ? QMessageBox::Cancel
                                                                     : QMessageBox::Ok)
                ->click();
            return true;
        };
        ModalScript script;
        script.Then(measure).Then(measure).Then(measure);
        QVERIFY(!cmd().WriteMacroFile(file("no such folder/out.txt")));
        folio::ui::ShowError(&cmd(), QStringLiteral("Short."));
        setText("changed");
        cmd().mnuFileCloseClick();
        QVERIFY(script.Done());
        QFont font = QApplication::font();
        font.setBold(true);
        font.setPointSize(10);
        const QFontMetrics title(font);
        const QStringList captions{"Write Error", "Brackwell Folioset", "Save Fax Macro"};
        for (int i = 0; i < 3; ++i)
            QVERIFY2(widths[i] >= title.horizontalAdvance(captions[i]) + 4 * 20,
                     qPrintable(captions[i] + ": " + QString::number(widths[i])));
    }

    void processBuildsPagesAndCounter() {
        QVERIFY(!fax().isVisible());
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        setText(":FAX:LINE=100,100,1000,100\n:FAX:PAGEBREAK\n\n:FAX:PAGEBREAK\n"
                ":FAX:BOX=10,10,50,50\n");
        cmd().btnProcessClick();
        QVERIFY(fax().isVisible());
        QCOMPARE(page(), QStringLiteral("3 of 3"));
        QVERIFY(fax().mnuFileSave->isEnabled());
        QVERIFY(fax().mnuFileSaveAs->isEnabled());
        QCOMPARE(blackPixels(fax().pageView->Picture()), 4 * 50); // the box outline
        QCOMPARE(fax().pageView->size(), QSize(1728, 2200));

        const QStringList back{"2 of 3", "1 of 3", "1 of 3"};
        for (const QString& expected : back) {
            fax().btnPrevPg->click();
            QCOMPARE(page(), expected);
        }
        QCOMPARE(blackPixels(fax().pageView->Picture()), 900); // the line, end point unset
        const QStringList forward{"2 of 3", "3 of 3", "3 of 3"};
        for (const QString& expected : forward) {
            fax().btnNextPg->click();
            QCOMPARE(page(), expected);
        }

        // A shorter run: the spare pages stay hidden and Next does nothing.
        setText("one page");
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        fax().btnNextPg->click();
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        QVERIFY(blackPixels(fax().pageView->Picture()) > 0);
    }

    void previewShowsOnlyTheNewestText() {
        QList<int> shownCounts;
        connect(cmd().pnlPreview, &folio::ui::PreviewPane::shown, this,
                [&](const folio::ui::PreviewResult& r) { shownCounts.append(r.pageCount); });
        // A long text whose build the next edit overtakes, then three pages.
        QString slow;
        for (int i = 0; i < 4000; ++i)
            slow += QStringLiteral("line %1 of a long text\n").arg(i);
        setText(slow);
        cmd().RequestPreview();
        setText(":FAX:LINE=100,100,1000,100\n:FAX:PAGEBREAK\n:FAX:PAGEBREAK\n:FAX:BOX=10,10,50,50");
        cmd().RequestPreview();
        QTRY_VERIFY_WITH_TIMEOUT(!shownCounts.isEmpty(), 20000);
        QTest::qWait(2 * TCommandForm::kPreviewDelayMs);
        QCOMPARE(shownCounts, QList<int>{3});
        // The preview's pages are the viewer's after a Process.
        const QList<QImage> pages = cmd().pnlPreview->Pages();
        QCOMPARE(pages.size(), 3);
        cmd().btnProcessClick();
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(blackPixels(pages[2 - i]), blackPixels(fax().pageView->Picture()));
            QCOMPARE(pages[2 - i], fax().pageView->Picture());
            fax().btnPrevPg->click();
        }
        // Turned off, no build is made.
        cmd().mnuViewPreview->trigger();
        QVERIFY(!cmd().pnlPreview->isVisible());
        setText("changed");
        QTest::qWait(2 * TCommandForm::kPreviewDelayMs);
        QCOMPARE(shownCounts.size(), 1);
    }

    void previewKeepsItsPlaceAcrossRebuilds() {
        cmd().resize(1000, 600);
        QString text;
        for (int i = 0; i < 3; ++i)
            text += QStringLiteral("page %1\n:FAX:PAGEBREAK\n").arg(i + 1);
        setText(text);
        cmd().RequestPreview();
        QTRY_COMPARE_WITH_TIMEOUT(cmd().pnlPreview->PageCount(), 4, 20000);
        QScrollBar* bar = cmd().pnlPreview->ScrollArea()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum() / 2);
        const int place = bar->value();
        cmd().memoCommand->moveCursor(QTextCursor::Start);
        QTest::keyClicks(cmd().memoCommand, "x"); // the debounced rebuild
        const quint64 before = cmd().pnlPreview->ShownGeneration();
        QTRY_VERIFY_WITH_TIMEOUT(cmd().pnlPreview->ShownGeneration() > before, 20000);
        QCOMPARE(bar->value(), place);
    }

    void textOutsideCp1252IsListed() {
        const QString path = file("u.txt");
        QVERIFY(WriteBytes(path, QStringLiteral("caf\u00E9 \u0416uk\r\n").toUtf8()));
        cmd().OpenDroppedFile(path);
        cmd().btnProcessClick();
        ProblemList& list = *cmd().lstProblems;
        QCOMPARE(list.topLevelItemCount(), 1);
        QCOMPARE(list.topLevelItem(0)->text(ProblemList::ColKind), QStringLiteral("no-glyph"));
        QVERIFY(list.topLevelItem(0)->text(ProblemList::ColMessage).contains("U+0416"));
    }

    void replaceAll_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replace");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<QString>("result");
        QTest::newRow("any case") << "Fax fax\nFAX" << "fax" << "X" << false << "X X\nX";
        QTest::newRow("match case") << "Fax fax\nFAX" << "fax" << "X" << true << "Fax X\nFAX";
        QTest::newRow("replacement holds the text") << "a-b-a" << "a" << "aa" << false << "aa-b-aa";
        QTest::newRow("none") << "abc" << "x" << "y" << false << "abc";
    }
    void replaceAll() {
        QFETCH(QString, text);
        QFETCH(QString, find);
        QFETCH(QString, replace);
        QFETCH(bool, matchCase);
        QFETCH(QString, result);
        setText(text);
        cmd().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&cmd()));
        QTest::keyClick(cmd().memoCommand, Qt::Key_H, Qt::ControlModifier);
        folio::ui::FindBar& bar = *cmd().barFind;
        QVERIFY(bar.isVisible() && bar.efReplace->isVisible());
        bar.efFind->setText(find);
        bar.efReplace->setText(replace);
        bar.cbMatchCase->setChecked(matchCase);
        bar.btnReplaceAll->click();
        QCOMPARE(cmd().memoCommand->toPlainText(), result);
        cmd().memoCommand->undo(); // one step
        QCOMPARE(cmd().memoCommand->toPlainText(), text);
    }

    void findNextWrapsAndReplaceTakesTheMatch() {
        setText("one two\none two");
        cmd().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&cmd()));
        cmd().memoCommand->moveCursor(QTextCursor::End);
        QTest::keyClick(cmd().memoCommand, Qt::Key_F, Qt::ControlModifier);
        folio::ui::FindBar& bar = *cmd().barFind;
        QVERIFY(bar.efFind->hasFocus() && !bar.efReplace->isVisible());
        bar.efFind->setText("TWO");
        QTest::keyClick(cmd().memoCommand, Qt::Key_F3); // past the end: from the top
        QCOMPARE(cmd().memoCommand->textCursor().selectionStart(), 4);
        QTest::keyClick(cmd().memoCommand, Qt::Key_F3);
        QCOMPARE(cmd().memoCommand->textCursor().selectionStart(), 12);
        bar.efReplace->setText("2");
        QVERIFY(bar.ReplaceOne()); // the selected one, then on to the next
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("one two\none 2"));
        QCOMPARE(cmd().memoCommand->textCursor().selectionStart(), 4);
        bar.efFind->setText("three");
        QVERIFY(!bar.FindNext());
        QCOMPARE(bar.lblResult->text(), QStringLiteral("Not found"));
    }

    void linesAreColouredAsTheEngineReadsThem_data() {
        QTest::addColumn<QString>("commentStart");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        using H = folio::ui::MacroHighlighter;
        QTest::newRow("command") << "#" << ":FAX:X=1" << int(H::Command);
        QTest::newRow("command in any case") << "#" << ":fax:font" << int(H::Command);
        QTest::newRow("comment") << "#" << "# note" << int(H::Comment);
        QTest::newRow("text") << "#" << "Dear Sir, #1" << int(H::Text);
        QTest::newRow("prefix not at the start") << "#" << " :FAX:X=1" << int(H::Text);
        QTest::newRow("same start: the command wins") << ":" << ":FAX:X=1" << int(H::Command);
        QTest::newRow("comment prefix from the settings") << ":" << ":note" << int(H::Comment);
    }
    void linesAreColouredAsTheEngineReadsThem() {
        QFETCH(QString, commentStart);
        QFETCH(QString, line);
        QFETCH(int, kind);
        program_->SettingsForm->efCommentStart->setText(commentStart);
        ModalScript script;
        script.Then([](QWidget* w) { return static_cast<QDialog*>(w)->close(); });
        cmd().mnuOptionsSettingsClick(); // the colours follow the settings
        setText(line);
        QCOMPARE(cmd().memoCommand->document()->firstBlock().userState(), kind);
    }

    void recentFilesKeepFiveAndDropWhatHasGone() {
        const auto shown = [this] {
            QStringList texts;
            for (QAction* item : cmd().mnuFileRecent)
                if (item->isVisible())
                    texts.append(item->text());
            return texts;
        };
        for (int i = 1; i <= 6; ++i) {
            QVERIFY(WriteBytes(file(QStringLiteral("m%1.txt").arg(i)), "text\r\n"));
            cmd().OpenDroppedFile(file(QStringLiteral("m%1.txt").arg(i)));
        }
        cmd().OpenDroppedFile(file("m3.txt")); // again: to the top, not twice
        QCOMPARE(shown(), (QStringList{"&1 m3.txt", "&2 m6.txt", "&3 m5.txt", "&4 m4.txt",
                                       "&5 m2.txt"}));
        QVERIFY(QFile::remove(file("m5.txt")));
        {
            ModalScript script;
            script.Box(QMessageBox::Ok);
            cmd().mnuFileRecent[2]->trigger();
            QVERIFY(script.Done());
            QVERIFY(script.Seen().value(0).text.contains("m5.txt"));
        }
        QCOMPARE(shown(), (QStringList{"&1 m3.txt", "&2 m6.txt", "&3 m4.txt", "&4 m2.txt"}));
        cmd().mnuFileRecent[2]->trigger(); // opens m4
        QCOMPARE(cmd().MacroFileName(), file("m4.txt"));
        // Stored with the settings, for the next start.
        program_.reset();
        program_ = std::make_unique<::Program>(QStringList{});
        QCOMPARE(shown(), (QStringList{"&1 m4.txt", "&2 m3.txt", "&3 m6.txt", "&4 m2.txt"}));
    }

    void undoBackToTheSavedTextClearsTheChange() {
        const QString path = file("saved.txt");
        QVERIFY(WriteBytes(path, "abc\r\n"));
        cmd().OpenDroppedFile(path);
        QCOMPARE(cmd().State(), State::Clean);
        cmd().memoCommand->moveCursor(QTextCursor::End);
        QTest::keyClicks(cmd().memoCommand, "xy");
        QCOMPARE(cmd().State(), State::Modified);
        cmd().memoCommand->undo();
        QCOMPARE(cmd().State(), State::Clean);
        cmd().memoCommand->redo();
        QCOMPARE(cmd().State(), State::Modified);
    }

    void exportPdfWritesTheTextsPages_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pages"); // 0: nothing written
        QTest::newRow("three pages") << ":FAX:PAGEBREAK\n:FAX:PAGEBREAK\nend" << 3;
        QTest::newRow("an error ends the run") << ":FAX:FILE=%1,BMP\n" << 0;
    }
    void exportPdfWritesTheTextsPages() {
        QFETCH(QString, text);
        QFETCH(int, pages);
        QVERIFY(WriteBytes(file("bad.bmp"), "BM not a picture"));
        setText(text.arg(file("bad.bmp")));
        const QString out = file("out.pdf");
        ModalScript script;
        script.File(out);
        if (pages == 0)
            script.Box(QMessageBox::Ok);
        cmd().mnuFileExportPdf->trigger();
        QVERIFY(script.Done() && script.Unexpected().isEmpty());
        const QByteArray pdf = ReadBytes(out);
        if (pages == 0) {
            QVERIFY(pdf.isEmpty());
            return;
        }
        QVERIFY(pdf.startsWith("%PDF-"));
        QVERIFY(pdf.contains("/Count " + QByteArray::number(pages)));
        QCOMPARE(pdf.count("/CCITTFaxDecode"), qsizetype(pages));
    }

    // The preview's pages in grey: each screen pixel the share of black of
    // the page pixels it covers.
    void previewPagesReduceToTheirShareOfBlack_data() {
        QTest::addColumn<int>("blackColumns"); // of every 4 page columns, from the left
        QTest::addColumn<bool>("inverted");    // colour table white at index 1
        QTest::addColumn<int>("grey");
        QTest::newRow("white") << 0 << false << 255;
        QTest::newRow("black") << 4 << false << 0;
        QTest::newRow("a quarter") << 1 << false << 191;
        QTest::newRow("half, inverted table") << 2 << true << 127;
    }
    void previewPagesReduceToTheirShareOfBlack() {
        QFETCH(int, blackColumns);
        QFETCH(bool, inverted);
        QFETCH(int, grey);
        QImage page(1728, 40, QImage::Format_Mono);
        page.setColorTable(inverted ? QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)}
                                    : QList<QRgb>{qRgb(255, 255, 255), qRgb(0, 0, 0)});
        const int black = inverted ? 0 : 1;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                page.setPixel(x, y, x % 4 < blackColumns ? black : 1 - black);
        const QImage reduced = folio::ui::ReducedPage(page, 432); // 4 to 1
        QCOMPARE(reduced.size(), QSize(432, 10));
        for (const QPoint at : {QPoint(0, 0), QPoint(431, 9), QPoint(200, 5)})
            QCOMPARE(qGray(reduced.pixel(at)), grey);
    }

    void processStopsAtEnd() {
        setText(":FAX:END\n:FAX:PAGEBREAK\n:FAX:PAGEBREAK");
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        QVERIFY(fax().mnuFileSave->isEnabled());
        QCOMPARE(cmd().State(), State::Modified); // Process leaves the document alone
    }

    void emptyEditorGivesBlankPage() {
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        QVERIFY(fax().mnuFileSave->isEnabled());
        QCOMPARE(blackPixels(fax().pageView->Picture()), 0);
    }

    void clearPageDisablesViewerSave() {
        setText(":FAX:LINE=0,0,500,500");
        cmd().btnProcessClick();
        QVERIFY(fax().mnuFileSave->isEnabled());
        cmd().mnuOptionsClearPage->trigger();
        QVERIFY(!fax().mnuFileSave->isEnabled());
        QVERIFY(!fax().mnuFileSaveAs->isEnabled());
        QCOMPARE(blackPixels(fax().pageView->Picture()), 0);
    }

    void settingsPrefixesApplyToTheNextRun() {
        setText("@@LINE=0,0,100,0\n:FAX:LINE=0,10,100,10");
        program_->SettingsForm->efMacroStart->setText("@@");
        cmd().btnProcessClick();
        const QImage page = fax().pageView->Picture();
        QCOMPARE(page.pixelIndex(50, 0), 1);  // a command under the new prefix
        QCOMPARE(page.pixelIndex(50, 10), 0); // the old prefix is text now
    }

    void fieldThatIsNoWholeNumberEndsTheAction_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("width with letters") << "efWidth"
                                            << "12a";
        QTest::newRow("empty height") << "efHeight"
                                      << "";
        QTest::newRow("left margin with a point") << "efLeftMargin"
                                                  << "1.5";
        QTest::newRow("top margin beyond 32 bits") << "efTopMargin"
                                                   << "99999999999";
        QTest::newRow("font size with blanks") << "efFontSize"
                                               << " 10";
    }
    void fieldThatIsNoWholeNumberEndsTheAction() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        const QString path = file("letter.fax");
        QVERIFY(WriteBytes(path, ":FAX:PAGEBREAK\r\n"));
        open(path);
        auto* edit = program_->SettingsForm->findChild<QLineEdit*>(field);
        QVERIFY(edit);
        const QString valid = edit->text();
        edit->setText(text);
        {
            ModalScript script;
            script.Box(QMessageBox::Ok);
            cmd().btnProcessClick();
            QVERIFY(script.Done());
            QCOMPARE(script.Seen()[0].title, QStringLiteral("Brackwell Folioset"));
            QCOMPARE(script.Seen()[0].text,
                     QStringLiteral("'%1' is not a valid integer value.").arg(text));
            QCOMPARE(script.Seen()[0].icon, QMessageBox::Critical);
            QVERIFY(!fax().mnuFileSave->isEnabled()); // the run never ended
        }
        QCOMPARE(page(), QStringLiteral("1 of 1"));

        // File > Close ends the same way, before anything is emptied: an
        // emptied editor that kept the name let the next Save overwrite it.
        ModalScript again;
        again.Box(QMessageBox::Ok);
        cmd().mnuFileCloseClick();
        QVERIFY(again.Done() && cmd().isVisible());
        QCOMPARE(again.Seen()[0].text,
                 QStringLiteral("'%1' is not a valid integer value.").arg(text));
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral(":FAX:PAGEBREAK\n"));
        QCOMPARE(cmd().MacroFileName(), path);
        QCOMPARE(cmd().State(), State::Clean);
        edit->setText(valid);
        cmd().mnuFileCloseClick(); // a Close that empties forgets the name
        QVERIFY(cmd().MacroFileName().isEmpty() && cmd().State() == State::Closed);
    }

    // "Yes, save" with a save that is cancelled or fails stops the closing.
    void unsavedTextStopsTheClosing_data() {
        QTest::addColumn<int>("how"); // File > Close, File > Exit, the window's close box
        QTest::addColumn<bool>("writeFails");
        for (int how : {0, 1, 2})
            for (bool fails : {false, true})
                QTest::addRow("%d %s", how, fails ? "write fails" : "dialog cancelled")
                    << how << fails;
    }
    void unsavedTextStopsTheClosing() {
        QFETCH(int, how);
        QFETCH(bool, writeFails);
        if (writeFails) { // a name recorded in a folder that is gone by the save
            QVERIFY(QDir().mkpath(file("gone")) && WriteBytes(file("gone/m.txt"), "a\r\n"));
            open(file("gone/m.txt"));
            QVERIFY(QDir(file("gone")).removeRecursively());
        }
        ModalScript script;
        setText("typed");
        script.Box(QMessageBox::Yes);
        writeFails ? script.Box(QMessageBox::Ok) : script.File(QString());
        QSignalSpy ended(program_.get(), &Program::Ended);
        how == 0   ? cmd().mnuFileClose->trigger()
        : how == 1 ? cmd().mnuFileExit->trigger()
                   : void(cmd().close());
        QVERIFY(script.Done() && script.Unexpected().isEmpty());
        QCOMPARE(ended.size(), 0);
        QVERIFY(cmd().isVisible() && cmd().State() == State::Modified);
        QCOMPARE(cmd().memoCommand->toPlainText(), QStringLiteral("typed"));
        QVERIFY(!writeFails || script.Seen().last().info.contains("does not exist"));
    }

    // Relative FILE names are found beside the macro, wherever the program runs.
    void fileCommandsLookBesideTheMacro() {
        QVERIFY(QDir().mkpath(file("m")));
        QImage logo(16, 16, QImage::Format_RGB32);
        logo.fill(Qt::black);
        QVERIFY(logo.save(file("m/logo.bmp"), "BMP"));
        QVERIFY(WriteBytes(file("m/a.fax"), ":FAX:FILE=logo.bmp,BMP\r\n"));
        open(file("m/a.fax"));
        cmd().btnProcessClick(); // the working folder is the test's run folder
        QCOMPARE(blackPixels(fax().pageView->Picture()), 16 * 16);
    }

    // What a run loses is listed by line; choosing an entry shows its line.
    void processListsProblemsByLine() {
        QVERIFY(WriteBytes(file("bad.png"), "not a picture"));
        QVERIFY(WriteBytes(file("m.fax"),
                           "Dear reader,\r\n:FAX:FILE=missing.png,PNG\r\n\r\n"
                           ":FAX:FROBNICATE=1\r\n:FAX:FILE=bad.png,PNG\r\nnot run\r\n"));
        open(file("m.fax"));
        ModalScript script;
        script.Box(QMessageBox::Ok);
        cmd().btnProcessClick();
        QVERIFY(script.Done());
        QCOMPARE(script.Seen()[0].text, QStringLiteral("Bitmap image is not valid."));
        const QString info = script.Seen()[0].info;
        QVERIFY2(info.startsWith("Line 5: \"bad.png\"") && info.contains("PNG"), qPrintable(info));

        ProblemList& list = *cmd().lstProblems;
        QVERIFY(list.isVisible());
        QStringList rows;
        for (int i = 0; i < list.topLevelItemCount(); ++i)
            rows << list.topLevelItem(i)->text(0) + " " + list.topLevelItem(i)->text(1);
        QCOMPARE(rows, QStringList({"2 file-missing", "4 unknown-command", "5 bitmap-invalid"}));

        const auto cursorLine = [this] {
            return cmd().memoCommand->textCursor().blockNumber() + 1;
        };
        list.setFocus();
        list.setCurrentItem(list.topLevelItem(1));
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(cursorLine(), 4);
        QCOMPARE(cmd().focusWidget(), cmd().memoCommand); // the window need not be active
        list.scrollToItem(list.topLevelItem(0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.topLevelItem(0)).center());
        QCOMPARE(cursorLine(), 2);

        setText("plain text");
        cmd().btnProcessClick(); // a clean run empties and hides the list
        QCOMPARE(list.topLevelItemCount(), 0);
        QVERIFY(!list.isVisible());
    }

    // A macro for foliobuild, opened: accepted, the offer changes the
    // prefix in the editor as one step of undo and leaves the file alone;
    // undone, Process sets the lines as text and lists why, asking nothing.
    void otherPrefixIsOfferedWhenOpened() {
        const QByteArray bytes = "@CONVERT:LINE=0,900,99,900\r\nDear reader,\r\n"
                                 "# @CONVERT:X=5\r\n@convert:PAGEBREAK\r\n";
        QVERIFY(WriteBytes(file("lib.fax"), bytes));
        ModalScript script;
        script.File(file("lib.fax")).Box(QMessageBox::Yes);
        cmd().mnuFileOpen->trigger();
        QVERIFY(script.Done() && script.Seen().last().title == "Command Prefix");
        QVERIFY(script.Seen().last().text.contains(":FAX:\", but 2 start with \"@CONVERT:\""));
        QCOMPARE(editorLines(*cmd().memoCommand),
                 QStringList({":FAX:LINE=0,900,99,900", "Dear reader,", "# @CONVERT:X=5",
                              ":FAX:PAGEBREAK"}));
        QCOMPARE(ReadBytes(file("lib.fax")), bytes);
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("2 of 2"));

        cmd().memoCommand->undo();
        QCOMPARE(cmd().State(), State::Clean);
        cmd().btnProcessClick();
        QCOMPARE(page(), QStringLiteral("1 of 1"));
        QCOMPARE(script.Seen().size(), 2);
        const QTreeWidgetItem* note = cmd().lstProblems->topLevelItem(0);
        QVERIFY(note && cmd().lstProblems->topLevelItemCount() == 1);
        QCOMPARE(note->text(0) + " " + note->text(1), "1 " + QString(folio::ui::kOtherPrefixKind));
        QVERIFY(note->text(2).startsWith("2 lines start with \"@CONVERT:\", the command prefix"));
    }

    void openDialogOffersFaxMacros() {
        const QString filter = cmd().dlgFileOpen->nameFilters().first();
        const QStringList patterns = filter.section('(', 1).chopped(1).split(' ');
        QVERIFY2(QDir::match(patterns, "letter.fax") && QDir::match(patterns, "A.TXT"),
                 qPrintable(filter));
    }
};

QTEST_MAIN(TestCommandForm)
#include "tst_command_form.moc"
