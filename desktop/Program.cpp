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

Program::Program(QStringList arguments) : Arguments(std::move(arguments)) {
    SplashForm = std::make_unique<TSplashForm>(*this);
    SettingsForm = std::make_unique<TSettingsForm>();
    try {
        FaxForm = std::make_unique<TFaxForm>(*this);
    } catch (const folio::Error& e) {
        // Stored page settings no page can be made with would stop every
        // later start as well: say so, and start with the page defaults,
        // which are stored again at the end.
        folio::ui::ShowError(nullptr, folio::ui::ErrorText(e) +
                                          QStringLiteral(" The page settings are reset to "
                                                         "their defaults."));
        SettingsForm->ResetPageDefaults();
        FaxForm = std::make_unique<TFaxForm>(*this);
    }
    CommandForm = std::make_unique<TCommandForm>(*this);
    AboutBox = std::make_unique<TAboutBox>();
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
