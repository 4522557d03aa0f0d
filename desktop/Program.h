// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The application object of Folioset: the five windows, created once each in
// a fixed order and alive until the program ends, the command-line
// arguments, the help file and the program's end. Every window reaches the
// others through it.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class TSplashForm;
class TSettingsForm;
class TFaxForm;
class TCommandForm;
class TAboutBox;

namespace folio::ui {
class HelpWindow;
}

class Program : public QObject {
    Q_OBJECT
  public:
    // Creates the windows: the splash (the main window), the settings
    // dialog (which loads the stored settings), the viewer (which sets up
    // the engine from those settings), the command window and the About
    // box. `arguments` are the command-line arguments after the program
    // name. Throws folio::Error when the stored settings cannot be loaded.
    explicit Program(QStringList arguments);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the main window; the event loop then runs the splash timer. In
    // a batch run a message left by the creation (stored page settings
    // that were reset) is written to the standard error stream now.
    void Start();
    // That message, once, for the command window to show when it first
    // appears; empty when there is none.
    QString TakeStartMessage();

    // True when the command line names a macro file and a fax file.
    bool IsBatchRun() const { return Arguments.size() >= 2; }

    // Closes the main window, which ends the program with `exitCode`.
    void End(int exitCode);

    // Help > Contents: the help file's contents page in the help window.
    void ShowHelpContents();
    // Where the help file is looked for: beside the program.
    QString HelpFilePath() const;

    // The main window was closed (called by the splash).
    void MainWindowClosed();

    const QStringList Arguments;
    const QString HelpFile = QStringLiteral("folioset.hlp");

    // Destroyed in the opposite order, so the settings dialog, which stores
    // the settings, outlives the viewer that reads them.
    std::unique_ptr<TSplashForm> SplashForm;
    std::unique_ptr<TSettingsForm> SettingsForm;
    std::unique_ptr<TFaxForm> FaxForm;
    std::unique_ptr<TCommandForm> CommandForm;
    std::unique_ptr<TAboutBox> AboutBox;

  signals:
    // The main window has closed; the event loop should end with `exitCode`.
    void Ended(int exitCode);

  private:
    std::unique_ptr<folio::ui::HelpWindow> help_;
    QString startMessage_;
    int exitCode_ = 0;
    bool ended_ = false;
};
