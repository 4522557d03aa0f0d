// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The application object: window creation in its fixed order, the help
// request and the end of the program.
#include "Program.h"

#include "ErrorBox.h"
#include "HelpWindow.h"
#include "TAboutBox.h"
#include "TCommandForm.h"
#include "TFaxForm.h"
#include "TSettingsForm.h"
#include "TSplashForm.h"

#include "Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <utility>

Program::Program(QStringList arguments) : Arguments(std::move(arguments)) {
    SplashForm = std::make_unique<TSplashForm>(*this);
    SettingsForm = std::make_unique<TSettingsForm>();
    try {
        FaxForm = std::make_unique<TFaxForm>(*this);
    } catch (const folio::Error& e) {
        // Stored page settings no page can be made with would stop every
        // later start as well: start with the page defaults, which are
        // stored again at the end, and say so once the start runs. No box
        // is shown here: its event loop would run the splash timer while
        // the command window does not exist yet.
        startMessage_ = folio::ui::ErrorText(e) +
                        QStringLiteral(" The page settings are reset to their defaults.");
        SettingsForm->ResetPageDefaults();
        FaxForm = std::make_unique<TFaxForm>(*this);
    }
    CommandForm = std::make_unique<TCommandForm>(*this);
    AboutBox = std::make_unique<TAboutBox>();
    // The splash's tick reaches the command window: it runs only once every
    // window is made.
    SplashForm->Timer1->start();
}

Program::~Program() {
    help_.reset();
    AboutBox.reset();
    CommandForm.reset();
    FaxForm.reset();
    SettingsForm.reset();
    SplashForm.reset();
}

void Program::Start() {
    SplashForm->show();
    SplashForm->raise();
    // Nobody answers a box in a batch run: the message goes to the error
    // stream and the run goes on with the page defaults.
    if (IsBatchRun() && !startMessage_.isEmpty())
        std::fprintf(stderr, "folioset: %s\n",
                     std::exchange(startMessage_, QString()).toLocal8Bit().constData());
}

QString Program::TakeStartMessage() {
    return std::exchange(startMessage_, QString());
}

void Program::End(int exitCode) {
    exitCode_ = exitCode;
    SplashForm->close();
}

void Program::MainWindowClosed() {
    if (ended_)
        return;
    ended_ = true;
    emit Ended(exitCode_);
}

// Beside the program in the build tree; installed, it lives with the
// program's other data (share/folioset next to bin/).
QString Program::HelpFilePath() const {
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(HelpFile);
    const QString shared = programDir.filePath(QStringLiteral("../share/folioset/") + HelpFile);
    return QFileInfo::exists(beside) || !QFileInfo::exists(shared) ? beside
                                                                   : QDir::cleanPath(shared);
}

void Program::ShowHelpContents() {
    if (!help_)
        help_ = std::make_unique<folio::ui::HelpWindow>();
    help_->ShowContents(HelpFilePath());
}
