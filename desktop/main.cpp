// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Process entry of folioset: the application object, the five windows, the
// event loop. `folioset [MACRO [TIFF]]`: with both arguments the fax file is
// built without showing a working window and the program ends;
// `folioset --version` prints the version without needing a display.
#include "ErrorBox.h"
#include "Program.h"
#include "TSplashForm.h"

#include "Artwork.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

namespace {

// The last line of defence: an exception that escapes a handler is shown
// like any other error instead of ending the process.
class Application : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            folio::ui::ShowError(nullptr, folio::ui::ErrorText(e));
        } catch (...) {
            folio::ui::ShowError(nullptr, QStringLiteral("An unexpected error occurred."));
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("folioset (Folioset) %s\n", FOLIO_VERSION);
        return 0;
    }
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folioset"));
    QApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QApplication::setWindowIcon(QIcon(folio::ui::ProgramIcon()));
    // Windows hide rather than close; only the main window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    QApplication::setFont(font);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();

    std::unique_ptr<Program> program;
    try {
        program = std::make_unique<Program>(arguments);
    } catch (const std::exception& e) {
        // An error while the windows are made ends the start. A batch run
        // has nobody to answer a box: the message goes to the error stream
        // and the run fails, since no fax file is made.
        const QString message = folio::ui::ErrorText(e);
        if (arguments.size() >= 2) {
            std::fprintf(stderr, "folioset: %s\n", message.toLocal8Bit().constData());
            return 1;
        }
        folio::ui::ShowError(nullptr, message);
        return 0;
    }
    QObject::connect(program.get(), &Program::Ended, &app, [&app](int code) { app.exit(code); });
    program->Start();
    const int code = app.exec();
    program.reset(); // the settings are stored here
    return code;
}
