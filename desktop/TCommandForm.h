// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The command window: the macro editor, the Process button that runs the
// text through the viewer's engine, and the menus to open, save and close
// macro files and to reach the other windows. Which File menu items are
// enabled is the whole record of the document state (Closed, Clean,
// Modified). Closing this window, or File > Exit, ends the program.
#pragma once

#include "MacroEditor.h"
#include "MacroEncoding.h"

#include <QMainWindow>
#include <QString>
#include <QTimer>

namespace folio {
class DiagnosticSink;
}
class Program;
class ProblemList;
class QAction;
class QFileDialog;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
namespace folio::ui {
class FindBar;
class PreviewPane;
struct PreviewResult;
} // namespace folio::ui

class TCommandForm : public QMainWindow {
    Q_OBJECT
  public:
    // A file line longer than this reaches the editor as several lines: the
    // line buffer holds 500 bytes with the terminator.
    static constexpr int kLineBufferSize = 500;
    // Largest macro file the editor takes; far above any fax text.
    static constexpr qint64 kMaxMacroFileBytes = qint64(64) << 20;
    // The pause after the last keystroke before the preview is rebuilt, in
    // milliseconds: long enough that typing a word builds once.
    static constexpr int kPreviewDelayMs = 300;

    enum class DocumentState { Closed, Clean, Modified };

    explicit TCommandForm(Program& program);
    ~TCommandForm() override;

    // Clears the viewer's current page, then fills the (empty) editor with
    // the file's lines; state Clean. False when the file cannot be read:
    // only a regular file is read (a pipe, device or folder could block or
    // never end). With `why`, the reason goes there and nothing is shown;
    // without it a file too large to edit is reported in a box, and any
    // other failure silently.
    bool LoadMacroFile(const QString& path, QString* why = nullptr);
    // Writes every editor line followed by CR LF, replacing the file in one
    // step. False (after a message box that names the reason) when it
    // cannot be written.
    bool WriteMacroFile(const QString& path);
    // Passes the editor's lines to the engine until END or the last line,
    // with relative FILE names taken beside the macro file; enables the
    // viewer's Save and Save As. Throws what the engine throws. With a sink,
    // a text whose commands all carry the other variant's prefix is noted
    // there first.
    void RunCommands();
    // Writes the viewer's pages (those of the last Process) to `path` as a
    // PDF, each page its Group 4 picture. An empty text on success, else
    // the reason.
    QString WritePdfFile(const QString& path);

    // The document state, read from the File menu's enabled items.
    DocumentState State() const;
    QString MacroFileName() const { return macroFileName_; }
    // What the text was read in, and is saved in: the file's own encoding,
    // or for a text typed afresh the setting for new files.
    folio::ui::MacroEncoding Encoding() const { return encoding_; }

    QWidget* Panel1;
    // The editor and its problems on the left, the live preview beside.
    QSplitter* splitPreview;
    // The editor above, the problems of the last Process below.
    QSplitter* splitEditor;
    folio::ui::MacroEditor* memoCommand;
    // Find and replace, under the editor and the preview while open.
    folio::ui::FindBar* barFind;
    ProblemList* lstProblems;
    // The pages of the text as it is now, rebuilt a moment after each edit.
    folio::ui::PreviewPane* pnlPreview;
    // Waits for a pause in the typing (kPreviewDelayMs) before a rebuild.
    QTimer* tmrPreview;
    QWidget* Panel2;
    QPushButton* btnProcess;
    QFileDialog* dlgFileOpen;
    QFileDialog* dlgFileSave;
    QTimer* Timer1; // the start timer
    QMenu* mnuFile;
    QAction* mnuFileOpen;
    QAction* mnuFileClose;
    QAction* mnuFileSave;
    QAction* mnuFileSaveAs;
    QAction* mnuFileExportPdf;
    QAction* mnuFileExit;
    // The recent files above Exit, "&1 name" to "&5 name"; hidden when unused.
    QList<QAction*> mnuFileRecent;
    QAction* mnuFileRecentSeparator;
    QMenu* mnuEdit;
    QAction* mnuEditFind;
    QAction* mnuEditReplace;
    QAction* mnuEditFindNext;
    QMenu* mnuView;
    QAction* mnuViewPreview;
    QMenu* mnuOptions;
    QAction* mnuOptionsSettings;
    QAction* mnuOptionsClearPage;
    QAction* mnuOptionsShow;
    QMenu* mnuHelp;
    QAction* mnuHelpContents;
    QAction* mnuHelpAbout;
    // F5: the Process button from anywhere in the window.
    QAction* actProcess;

  public slots:
    void Timer1Timer();
    void memoCommandChange();
    void btnProcessClick();
    void mnuFileOpenClick();
    void mnuFileSaveClick();
    void mnuFileSaveAsClick();
    void mnuFileCloseClick();
    void mnuFileExitClick();
    // Asks for a name, runs Process and writes its pages as a PDF.
    void mnuFileExportPdfClick();
    void mnuOptionsSettingsClick();
    void mnuOptionsClearPageClick();
    void mnuOptionsShowClick();
    void mnuHelpContentsClick();
    void mnuHelpAboutClick();
    void mnuViewPreviewClick(bool on);
    // Opens recent file `index` (0 is the latest), as a dropped file is
    // opened; a file that has gone is taken off the list, with a message.
    void mnuFileRecentClick(int index);
    void mnuEditFindClick();
    void mnuEditReplaceClick();
    void mnuEditFindNextClick();
    // Starts a preview build of the text as it is now (when the preview is
    // on and the window shown).
    void RequestPreview();
    // The close query: false refuses the closing.
    bool FormCloseQuery();
    // Puts the editor's cursor at the start of macro line `line` (1-based;
    // past the end: the last line) and the keyboard focus into the editor.
    void GoToLine(int line);

    // Opens a macro file dropped on the window: asks first to save a
    // changed text, as closing does; the dropped file then replaces it.
    void OpenDroppedFile(const QString& path);

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The editor's drag and drop: a dropped file is opened, not pasted as
    // its URL; dropped text goes on to the editor.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createActions();
    void createControls();
    void setState(DocumentState state);
    // Records the macro file's name (the caption does not show it).
    void setMacroFileName(const QString& path);
    // Steps 1.1 to 1.4 of Save: asks for a name, writes, records the name.
    bool saveWithDialog();
    // Save as the menu item does it; true when the text was written.
    bool saveMacro();
    // Asks "Save macro commands before closing?" when the text is modified.
    // False when the answer is Cancel, or Yes and the save did not happen.
    bool askToSave();
    // Forgets the name and folder, empties the editor; state Closed.
    void emptyEditor();
    void showViewer();
    void batchRun(const QString& faxFile);
    void batchFail(const QString& message);
    void reportOutsideCp1252(const QString& text, int line);
    void modificationChanged(bool modified);
    void previewShown(const folio::ui::PreviewResult& result);
    // Gives the editor's line colours the settings' prefixes.
    void applyPrefixes();
    // Puts `path` first in the recent files.
    void rememberRecent(const QString& path);
    void fillRecentMenu();
    // Shows the problems list after it was filled, giving it room.
    void showProblems();
    // Process; false when an error ended the run.
    bool process();
    // When no line of the text is a command but lines start with the other
    // variant's prefix: asks once per text whether to read them as commands,
    // and if so changes their prefix in the editor (one step of undo).
    void offerOtherPrefix();

    Program& program_;
    QString macroFileName_;
    // Where relative FILE names are looked up: the folder of the file the
    // text was last loaded from or saved to; empty for a text typed afresh.
    QString macroFolder_;
    bool closing_ = false;
    // The state of the text as last loaded, saved or emptied.
    DocumentState unmodifiedState_ = DocumentState::Closed;
    // The preview requests made before this one were overtaken by a
    // Process: their problems are not listed over the Process's.
    quint64 listedFrom_ = 0;
    // A Process is running (or showing its error): the list is its sink.
    bool processing_ = false;
    // The user has moved the divider between the editor and the preview.
    bool previewPlaced_ = false;
    folio::ui::MacroEncoding encoding_;
    // Where RunCommands reports what the engine's code page cannot set.
    folio::DiagnosticSink* sink_ = nullptr;
    // The other-prefix question was answered for the text in the editor.
    bool prefixOffered_ = false;
};
