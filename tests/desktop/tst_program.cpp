// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The program as a whole: the five windows and their order, the splash and
// the two start timers, the command-line arguments, the batch run that
// writes the fax file and ends, the program's end, errors at start, the
// About box and the help window.
#include "DesktopTestSupport.h"

#include "Error.h"
#include "HelpWindow.h"
#include "Program.h"
#include "TAboutBox.h"
#include "TCommandForm.h"
#include "TFaxForm.h"
#include "TSettingsForm.h"
#include "TSplashForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolBar>
#include <memory>

#include <sys/stat.h>

using namespace desktoptest;
using State = TCommandForm::DocumentState;

namespace {

QStringList visibleWindows() {
    QStringList names;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            names.append(QString::fromLatin1(w->metaObject()->className()));
    return names;
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT
    std::unique_ptr<TempSettings> settings_;
    std::unique_ptr<QTemporaryDir> files_;

    QString file(const QString& name) { return files_->filePath(name); }
    // Runs the start as the event loop would: the splash tick, then the
    // command window's start timer.
    static void runStart(Program& p) {
        p.Start();
        QVERIFY(p.SplashForm->isVisible());
        p.SplashForm->Timer1->stop();
        p.SplashForm->Timer1Timer();
        QVERIFY(p.CommandForm->Timer1->isActive());
        QVERIFY(visibleWindows().isEmpty()); // a second with nothing on screen
        p.CommandForm->Timer1->stop();
        p.CommandForm->Timer1Timer();
    }

    static void runStartUntilTheCommandWindow(Program& p) {
        p.Start();
        p.SplashForm->Timer1->stop();
        p.SplashForm->Timer1Timer();
        p.CommandForm->Timer1->stop();
        p.CommandForm->Timer1Timer();
    }

  private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() {
        settings_ = std::make_unique<TempSettings>();
        files_ = std::make_unique<QTemporaryDir>();
    }
    void cleanup() {
        settings_.reset();
        files_.reset();
    }

    void windowsAndTheSplash() {
        Program p({});
        QVERIFY(visibleWindows().isEmpty());
        QCOMPARE(p.HelpFile, QStringLiteral("folioset.hlp"));
        // The viewer was set up from the dialog's loaded fields.
        QCOMPARE(p.FaxForm->lblCurrentPg->text() + p.FaxForm->lblLastPg->text(),
                 QStringLiteral("11"));

        TSplashForm& splash = *p.SplashForm;
        QCOMPARE(splash.size(), QSize(434, 284));
        QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(splash.lblProduct->text(), QStringLiteral("Folioset"));
        QCOMPARE(splash.lblProduct->font().pixelSize(), 32);
        QCOMPARE(splash.lblProduct->pos(), QPoint(8, 8));
        QCOMPARE(splash.Timer1->interval(), 3000);
        QVERIFY(splash.Timer1->isActive()); // running from creation
        QCOMPARE(p.CommandForm->Timer1->interval(), 1000);
        QVERIFY(!p.CommandForm->Timer1->isActive());

        runStart(p);
        QVERIFY(!splash.Timer1->isActive());
        QVERIFY(!p.CommandForm->Timer1->isActive());
        QCOMPARE(visibleWindows(), QStringList{"TCommandForm"});
        QCOMPARE(p.CommandForm->windowTitle(), QStringLiteral("Brackwell Folioset"));
        QCOMPARE(p.CommandForm->State(), State::Closed);
        QVERIFY(p.CommandForm->memoCommand->toPlainText().isEmpty());
    }

    void oneArgumentLoadsTheMacroWithoutAName() {
        const QString macro = file("my macro file.txt"); // one argument with blanks
        QVERIFY(WriteBytes(macro, "Hello\r\n:FAX:PAGEBREAK\r\n"));
        Program p({macro});
        runStart(p);
        QCOMPARE(visibleWindows(), QStringList{"TCommandForm"});
        QCOMPARE(p.CommandForm->State(), State::Clean);
        QCOMPARE(p.CommandForm->memoCommand->toPlainText(),
                 QStringLiteral("Hello\n:FAX:PAGEBREAK\n"));
        QVERIFY(p.CommandForm->MacroFileName().isEmpty());
        QCOMPARE(p.FaxForm->lblLastPg->text(), QStringLiteral("1"));
        // Save as asks for a name even though the file came from one.
        ModalScript script;
        script.File(QString());
        p.CommandForm->mnuFileSaveAs->trigger();
        QVERIFY(script.Done());
    }

    void unreadableFirstArgumentShowsAnEmptyWindow() {
        Program p({file("missing.txt")});
        QSignalSpy ended(&p, &Program::Ended);
        runStart(p);
        QCOMPARE(visibleWindows(), QStringList{"TCommandForm"});
        QCOMPARE(p.CommandForm->State(), State::Closed);
        QCOMPARE(ended.size(), 0);
    }

    // A batch run is unattended: a macro that cannot be read ends it with
    // exit code 1 and no window. The empty command window it used to open
    // waited for ever; a named pipe hung the open itself.
    void batchRunOfAMacroThatCannotBeReadFails_data() {
        QTest::addColumn<QString>("macro");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.txt"
                                 << "No such file or directory";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("named pipe") << "pipe.txt"
                                    << "named pipe";
    }
    void batchRunOfAMacroThatCannotBeReadFails() {
        QFETCH(QString, macro);
        QFETCH(QString, reason);
        QVERIFY(QDir().mkpath(file("folder")));
        QCOMPARE(::mkfifo(QFile::encodeName(file("pipe.txt")).constData(), 0600), 0);
        // The program itself: the message goes to its error stream.
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", files_->path());
        env.insert("XDG_CONFIG_HOME", file("config"));
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(FOLIOSET_PROGRAM), {file(macro), file("out.tif")});
        const bool finished = run.waitForFinished(60000);
        if (!finished) {
            run.kill();
            run.waitForFinished();
        }
        QVERIFY2(finished, "the batch run hung");
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(err.contains(file(macro)) && err.contains(reason), qPrintable(err));
        QVERIFY(!QFile::exists(file("out.tif")));

        // In the process: no window, no box.
        Program p({file(macro), file("out.tif")});
        QSignalSpy ended(&p, &Program::Ended);
        ModalScript script;
        runStartUntilTheCommandWindow(p);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 1);
        QVERIFY(script.Seen().isEmpty());
        QVERIFY(visibleWindows().isEmpty());
    }

    void batchRunWritesTheFaxAndEnds() {
        const QString macro = file("batch macro.txt"), fax = file("batch out.tif");
        QVERIFY(WriteBytes(macro, "First page\r\n:FAX:PAGEBREAK\r\nSecond page\r\n"
                                  ":FAX:END\r\n:FAX:PAGEBREAK\r\n"));
        Program p({macro, fax, "ignored third"});
        QSignalSpy ended(&p, &Program::Ended);
        p.Start();
        p.SplashForm->Timer1Timer();
        p.CommandForm->Timer1Timer();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
        QVERIFY(visibleWindows().isEmpty()); // no working window was ever shown
        QCOMPARE(p.FaxForm->Engine().PageCount, 2);
        QVERIFY(IsTiff(ReadBytes(fax))); // the name as given, no extension added
    }

    void batchRunUsesTheEngineAsCreated() {
        // No ResetAll: the settings' font plays no part, so a font size
        // that is not a number goes unnoticed until a FONT command reads it.
        const QString macro = file("m.txt"), fax = file("f.tif");
        QVERIFY(WriteBytes(macro, "text in the initial font\r\n"));
        Program p({macro, fax});
        p.SettingsForm->efFontSize->setText("large");
        QSignalSpy ended(&p, &Program::Ended);
        p.CommandForm->Timer1Timer();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
        QVERIFY(IsTiff(ReadBytes(fax)));
    }

    void batchRunErrorEndsWithoutAWindow_data() {
        QTest::addColumn<QByteArray>("macro");
        QTest::addColumn<QString>("fax");
        QTest::newRow("error in the run") << QByteArray(":FAX:FONT\r\n") << "f.tif";
        QTest::newRow("fax file cannot be written") << QByteArray("text\r\n") << "no folder/f.tif";
    }
    void batchRunErrorEndsWithoutAWindow() {
        QFETCH(QByteArray, macro);
        QFETCH(QString, fax);
        QVERIFY(WriteBytes(file("m.txt"), macro));
        Program p({file("m.txt"), file(fax)});
        p.SettingsForm->efFontSize->setText("large");
        QSignalSpy ended(&p, &Program::Ended);
        ModalScript script; // nothing may be asked
        p.CommandForm->Timer1Timer();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 1);
        QVERIFY(script.Seen().isEmpty());
        QVERIFY(visibleWindows().isEmpty());
        QVERIFY(!QFile::exists(file(fax)));
    }

    // `folioset same.txt same.txt` wrote the fax over its own macro.
    void batchRunRefusesToWriteOverItsMacro() {
        const QByteArray text("text\r\n");
        QVERIFY(WriteBytes(file("m.txt"), text));
        for (const QString& fax : {file("m.txt"), files_->path() + "/./m.txt"}) {
            Program p({file("m.txt"), fax});
            QSignalSpy ended(&p, &Program::Ended);
            p.CommandForm->Timer1Timer();
            QCOMPARE(ended.size(), 1);
            QCOMPARE(ended[0][0].toInt(), 1);
            QCOMPARE(ReadBytes(file("m.txt")), text);
        }
    }

    void exitEndsTheProgramThroughTheMainWindow() {
        Program p({});
        runStart(p);
        QSignalSpy ended(&p, &Program::Ended);
        p.FaxForm->show();
        p.FaxForm->close(); // only hides
        QCOMPARE(ended.size(), 0);
        p.CommandForm->mnuFileExit->trigger();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended[0][0].toInt(), 0);
    }

    void storedSettingOfWrongTypeStopsTheStart() {
        settings_->WriteRaw("[General]\nImageWidth=wide\n");
        QVERIFY_THROWS_EXCEPTION(folio::Error, Program({}));
    }

    // The box waited inside the creation, where the splash's tick reached a
    // command window not made yet.
    void unusablePageSizeIsResetAtStartAfterTheWindowsExist() {
        settings_->WriteRaw("[General]\nImageWidth=0\nImageHeight=5\n");
        ModalScript script;
        script.Box(QMessageBox::Ok);
        Program p({});
        QVERIFY(script.Seen().isEmpty());
        QVERIFY(p.SplashForm->Timer1->isActive());
        runStart(p); // shown over the command window once it appears
        QVERIFY(script.Done());
        QCOMPARE(script.Seen()[0].icon, QMessageBox::Critical);
        QVERIFY2(script.Seen()[0].text.contains("reset"), qPrintable(script.Seen()[0].text));
        QCOMPARE(p.SettingsForm->efWidth->text(), QStringLiteral("1728"));
        QCOMPARE(p.FaxForm->pageView->Picture().size(), QSize(1728, 2200));
    }

    // The program itself, its settings in a temporary folder: a batch run
    // with a refused stored page size crashed when the splash ticked.
    void batchRunWithARefusedStoredPageSize_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("width 0") << QByteArray("ImageWidth=0") << 0 << "reset to their defaults";
        QTest::newRow("height 70000") << QByteArray("ImageHeight=70000") << 0 << "reset";
        QTest::newRow("width not a number") << QByteArray("ImageWidth=wide") << 1 << "ImageWidth";
    }
    void batchRunWithARefusedStoredPageSize() {
        QFETCH(QByteArray, stored);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString config = file("config");
        QVERIFY(QDir().mkpath(config + "/Tessaly"));
        QVERIFY(WriteBytes(config + "/Tessaly/Folioset.conf", "[General]\n" + stored + "\n"));
        QVERIFY(WriteBytes(file("m.txt"), "text\r\n"));
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", files_->path());
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        run.setProcessEnvironment(env);
        run.start(QStringLiteral(FOLIOSET_PROGRAM), {file("m.txt"), file("f.tif")});
        QVERIFY(run.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(run.readAllStandardError());
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), exitCode);
        QVERIFY2(err.contains(message), qPrintable(err));
        QCOMPARE(IsTiff(ReadBytes(file("f.tif"))), exitCode == 0);
    }

    void aboutBoxTwiceInARow() {
        Program p({});
        TAboutBox& about = *p.AboutBox;
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        QCOMPARE(about.ProductName->text(), QStringLiteral("Brackwell Folioset"));
        QVERIFY(about.ProductName->font().bold());
        QCOMPARE(about.Version->text(), QStringLiteral("Version 1.0"));
        QCOMPARE(about.OKButton->text(), QStringLiteral("OK"));
        QVERIFY(!about.Copyright->text().isEmpty());
        // The program is Apache-2.0: the notice says so, and claims no offence.
        QVERIFY(about.lblAllRights->text().contains(QStringLiteral("Apache License 2.0")));
        QVERIFY(!about.Comments->text().contains(QStringLiteral("offence")));
        for (int i = 0; i < 2; ++i) {
            ModalScript script;
            script.Then([&about](QWidget* w) {
                if (w != &about)
                    return false;
                about.OKButton->click();
                return true;
            });
            p.CommandForm->mnuHelpAbout->trigger();
            QVERIFY(script.Done());
        }
    }

    void helpContentsShowsTheHelpDocument() {
        Program p({});
        runStart(p); // the splash is hidden by now
        QVERIFY(QFile::exists(p.HelpFilePath()));
        p.CommandForm->mnuHelpContents->trigger();
        auto* help = []() -> folio::ui::HelpWindow* {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* h = qobject_cast<folio::ui::HelpWindow*>(w))
                    return h;
            return nullptr;
        }();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        const QString text = help->Browser()->toPlainText();
        QVERIFY2(text.contains("PAGEBREAK") && text.contains("Settings"),
                 qPrintable(text.left(200)));

        // Back and Forward stayed disabled after following links.
        auto* back = help->findChild<QToolBar*>()->actions().at(1);
        auto* forward = help->findChild<QToolBar*>()->actions().at(2);
        QCOMPARE(back->text(), QStringLiteral("&Back"));
        QVERIFY(!back->isEnabled() && !forward->isEnabled());
        const QUrl start = help->Browser()->source();
        help->Browser()->setFocus();
        QTest::keyClick(help->Browser(), Qt::Key_Tab); // the first link
        QTest::keyClick(help->Browser(), Qt::Key_Return);
        QVERIFY(help->Browser()->source() != start);
        QVERIFY(back->isEnabled() && !forward->isEnabled());
        back->trigger();
        QCOMPARE(help->Browser()->source(), start);
        QVERIFY(!back->isEnabled() && forward->isEnabled());
    }
};

QTEST_MAIN(TestProgram)
#include "tst_program.moc"
