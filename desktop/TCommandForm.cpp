// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The command window. Macro files are bytes: they are read through a line
// buffer of 500 bytes, decoded as code page 1252 for the editor and encoded
// back the same way when saved or run, so no byte changes on the way.
#include "TCommandForm.h"

#include "Cp1252.h"
#include "Diagnostics.h"
#include "ErrorBox.h"
#include "FileDialogLayout.h"
#include "ObjectNames.h"
#include "Program.h"
#include "TAboutBox.h"
#include "TFaxForm.h"
#include "TSettingsForm.h"
#include "WindowFocus.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace {

// The editor's lines. A last line that is empty is no line: a text that
// ends with a line break has as many lines as breaks.
QStringList editorLines(const QPlainTextEdit& editor) {
    QStringList lines;
    const QTextDocument* doc = editor.document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        lines.append(block.text()); // raw text: a no-break space stays one
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Splits file bytes into lines of at most `maxLength` bytes: CR LF, LF or CR
// end a line; a longer line is cut into parts; a last line without a break
// counts. A line of exactly `maxLength` bytes is one line, not two.
class LineSplitter {
  public:
    explicit LineSplitter(int maxLength) : maxLength_(maxLength) {}

    void Feed(const char* data, qint64 size) {
        for (qint64 i = 0; i < size; ++i) {
            const char c = data[i];
            if (afterCr_ && c == '\n') {
                afterCr_ = false;
                continue;
            }
            afterCr_ = c == '\r';
            if (c == '\r' || c == '\n') {
                lines_.append(current_);
                current_.clear();
            } else {
                if (current_.size() == maxLength_) {
                    lines_.append(current_);
                    current_.clear();
                }
                current_.append(c);
            }
        }
    }
    QList<QByteArray> Finish() {
        if (!current_.isEmpty())
            lines_.append(current_);
        current_.clear();
        return std::move(lines_);
    }

  private:
    const int maxLength_;
    QByteArray current_;
    QList<QByteArray> lines_;
    bool afterCr_ = false;
};

void messageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

TCommandForm::TCommandForm(Program& program) : program_(program) {
    createActions();
    createControls();
    setState(DocumentState::Closed);
}

TCommandForm::~TCommandForm() = default;

void TCommandForm::createActions() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileOpen =
        mnuFile->addAction(QStringLiteral("&Open..."), this, &TCommandForm::mnuFileOpenClick);
    mnuFileClose =
        mnuFile->addAction(QStringLiteral("&Close"), this, &TCommandForm::mnuFileCloseClick);
    mnuFileSave =
        mnuFile->addAction(QStringLiteral("&Save"), this, &TCommandForm::mnuFileSaveClick);
    mnuFileSaveAs =
        mnuFile->addAction(QStringLiteral("Save &as..."), this, &TCommandForm::mnuFileSaveAsClick);
    mnuFile->addSeparator();
    mnuFileExit =
        mnuFile->addAction(QStringLiteral("E&xit"), this, &TCommandForm::mnuFileExitClick);

    mnuOptions = menuBar()->addMenu(QStringLiteral("&Options"));
    mnuOptionsSettings = mnuOptions->addAction(QStringLiteral("&Settings..."), this,
                                               &TCommandForm::mnuOptionsSettingsClick);
    mnuOptionsClearPage = mnuOptions->addAction(QStringLiteral("&Clear Page"), this,
                                                &TCommandForm::mnuOptionsClearPageClick);
    mnuOptionsShow = mnuOptions->addAction(QStringLiteral("Show &Viewer"), this,
                                           &TCommandForm::mnuOptionsShowClick);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpContents = mnuHelp->addAction(QStringLiteral("&Contents..."), this,
                                         &TCommandForm::mnuHelpContentsClick);
    mnuHelp->addSeparator();
    mnuHelpAbout =
        mnuHelp->addAction(QStringLiteral("&About"), this, &TCommandForm::mnuHelpAboutClick);
}

void TCommandForm::createControls() {
    setWindowTitle(QString::fromLatin1(folio::ui::kAppTitle));

    Panel1 = new QWidget;
    memoCommand = new QPlainTextEdit(Panel1);
    memoCommand->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoCommand->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoCommand->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoCommand->setTabChangesFocus(false);
    memoCommand->setTabStopDistance(8 * memoCommand->fontMetrics().horizontalAdvance(' '));
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    panel1Layout->addWidget(memoCommand);
    connect(memoCommand, &QPlainTextEdit::textChanged, this, &TCommandForm::memoCommandChange);

    Panel2 = new QWidget;
    Panel2->setFixedHeight(32);
    btnProcess = new QPushButton(QStringLiteral("&Process"), Panel2);
    btnProcess->setFixedSize(97, 25);
    auto* panel2Layout = new QHBoxLayout(Panel2);
    panel2Layout->setContentsMargins(8, 4, 8, 3);
    panel2Layout->addWidget(btnProcess);
    panel2Layout->addStretch();
    connect(btnProcess, &QPushButton::clicked, this, &TCommandForm::btnProcessClick);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Panel1, 1);
    column->addWidget(Panel2);
    setCentralWidget(central);

    dlgFileOpen = new QFileDialog(this);
    dlgFileOpen->setOption(QFileDialog::DontUseNativeDialog);
    dlgFileOpen->setFileMode(QFileDialog::ExistingFile);
    dlgFileOpen->setAcceptMode(QFileDialog::AcceptOpen);
    dlgFileOpen->setNameFilters(
        {QStringLiteral("Fax Macro File (*.TXT)"), QStringLiteral("All Files (*)")});
    dlgFileOpen->setDefaultSuffix(QStringLiteral("txt"));

    dlgFileSave = new QFileDialog(this);
    dlgFileSave->setOption(QFileDialog::DontUseNativeDialog);
    dlgFileSave->setOption(QFileDialog::DontConfirmOverwrite);
    dlgFileSave->setAcceptMode(QFileDialog::AcceptSave);

    folio::ui::FitFileDialogColumns(*dlgFileOpen);
    folio::ui::FitFileDialogColumns(*dlgFileSave);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TCommandForm::Timer1Timer);

    FOLIO_NAME(Panel1);
    FOLIO_NAME(memoCommand);
    FOLIO_NAME(Panel2);
    FOLIO_NAME(btnProcess);
    FOLIO_NAME(dlgFileOpen);
    FOLIO_NAME(dlgFileSave);
    FOLIO_NAME(Timer1);
    FOLIO_NAME(mnuFile);
    FOLIO_NAME(mnuFileOpen);
    FOLIO_NAME(mnuFileClose);
    FOLIO_NAME(mnuFileSave);
    FOLIO_NAME(mnuFileSaveAs);
    FOLIO_NAME(mnuFileExit);
    FOLIO_NAME(mnuOptions);
    FOLIO_NAME(mnuOptionsSettings);
    FOLIO_NAME(mnuOptionsClearPage);
    FOLIO_NAME(mnuOptionsShow);
    FOLIO_NAME(mnuHelp);
    FOLIO_NAME(mnuHelpContents);
    FOLIO_NAME(mnuHelpAbout);
    resize(435 - 8, 300 - 27); // the outer size less a typical frame and caption
}

// ---- document state ---------------------------------------------------

void TCommandForm::setState(DocumentState state) {
    mnuFileOpen->setEnabled(state == DocumentState::Closed);
    mnuFileClose->setEnabled(state != DocumentState::Closed);
    mnuFileSave->setEnabled(state == DocumentState::Modified);
    mnuFileSaveAs->setEnabled(state != DocumentState::Closed);
}

TCommandForm::DocumentState TCommandForm::State() const {
    if (mnuFileSave->isEnabled())
        return DocumentState::Modified;
    return mnuFileClose->isEnabled() ? DocumentState::Clean : DocumentState::Closed;
}

void TCommandForm::memoCommandChange() {
    setState(DocumentState::Modified);
}

// ---- files --------------------------------------------------------------

bool TCommandForm::LoadMacroFile(const QString& path) {
    FaxImage& engine = program_.FaxForm->Engine();
    engine.ClearPage();
    program_.FaxForm->RefreshPage();

    if (QFileInfo(path).isDir())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    LineSplitter splitter(kLineBufferSize - 1);
    std::vector<char> chunk(std::size_t(1) << 16);
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.read(chunk.data(), qint64(chunk.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        total += n;
        // Checked while reading: a device or pipe has no size to ask first.
        if (total > kMaxMacroFileBytes) {
            folio::ui::ShowError(this, QStringLiteral("The file \"%1\" is too large to edit "
                                                      "(more than %2 MB).")
                                           .arg(QDir::toNativeSeparators(path))
                                           .arg(kMaxMacroFileBytes >> 20));
            return false;
        }
        splitter.Feed(chunk.data(), n);
    }
    const QList<QByteArray> lines = splitter.Finish();
    // Each line is added with its break, as lines appended to an editor
    // are; so a file's empty last line is kept.
    QString text;
    for (const QByteArray& line : lines) {
        text += folio::ui::FromCp1252(line);
        text += '\n';
    }
    memoCommand->setPlainText(text);
    setState(DocumentState::Clean);
    return true;
}

bool TCommandForm::WriteMacroFile(const QString& path) {
    // QSaveFile writes beside the target and renames over it on commit, so
    // a failed write leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        messageBox(this, QMessageBox::Critical, QStringLiteral("Write Error"),
                   QStringLiteral("Cannot open file."));
        return false;
    }
    QByteArray bytes;
    for (const QString& line : editorLines(*memoCommand)) {
        bytes += folio::ui::ToCp1252(line);
        bytes += "\r\n";
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        messageBox(this, QMessageBox::Critical, QStringLiteral("Write Error"),
                   QStringLiteral("Cannot write file \"%1\": %2.")
                       .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

void TCommandForm::RunCommands() {
    FaxImage& engine = program_.FaxForm->Engine();
    const QStringList lines = editorLines(*memoCommand);
    std::vector<char> line;
    int number = 0;
    for (const QString& text : lines) {
        const QByteArray bytes = folio::ui::ToCp1252(text);
        // A writable copy: the interpreter cuts its arguments in place.
        line.assign(bytes.begin(), bytes.end());
        line.push_back('\0');
        engine.SetSourceLine(++number);
        if (!engine.ProcessCommand(line.data()))
            break;
    }
    program_.FaxForm->SetSaveEnabled(true);
}

// ---- handlers -----------------------------------------------------------

void TCommandForm::showViewer() {
    folio::ui::ShowKeepingFocus(*program_.FaxForm, *this);
}

void TCommandForm::btnProcessClick() {
    if (!program_.FaxForm->isVisible())
        showViewer();
    memoCommand->setFocus();
    folio::ui::Guarded(this, [&] {
        program_.FaxForm->Engine().ResetAll();
        RunCommands();
    });
    program_.FaxForm->RefreshPage();
}

void TCommandForm::mnuFileOpenClick() {
    if (dlgFileOpen->exec() != QDialog::Accepted || dlgFileOpen->selectedFiles().isEmpty())
        return;
    const QString path = dlgFileOpen->selectedFiles().first();
    bool loaded = false;
    folio::ui::Guarded(this, [&] { loaded = LoadMacroFile(path); });
    if (loaded)
        macroFileName_ = path;
}

bool TCommandForm::saveWithDialog() {
    dlgFileSave->setWindowTitle(QStringLiteral("Save Fax Macro"));
    dlgFileSave->setNameFilters(
        {QStringLiteral("Fax Macro Files (*.txt)"), QStringLiteral("All files (*)")});
    dlgFileSave->setDefaultSuffix(QStringLiteral("txt"));
    if (dlgFileSave->exec() != QDialog::Accepted || dlgFileSave->selectedFiles().isEmpty())
        return false;
    const QString path = dlgFileSave->selectedFiles().first();
    if (!WriteMacroFile(path))
        return false;
    macroFileName_ = path;
    return true;
}

bool TCommandForm::saveMacro() {
    if (macroFileName_.isEmpty()) {
        if (!saveWithDialog())
            return false;
    } else if (!WriteMacroFile(macroFileName_)) {
        return false;
    }
    mnuFileSave->setEnabled(false);
    return true;
}

void TCommandForm::mnuFileSaveClick() {
    saveMacro();
}

void TCommandForm::mnuFileSaveAsClick() {
    if (saveWithDialog())
        mnuFileSave->setEnabled(false);
}

bool TCommandForm::askToSave() {
    if (!mnuFileSave->isEnabled())
        return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Save Fax Macro"),
                    QStringLiteral("Save macro commands before closing?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Yes);
    switch (box.exec()) {
    case QMessageBox::Yes:
        saveMacro(); // the closing goes on whether or not the text was written
        return true;
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TCommandForm::mnuFileCloseClick() {
    if (!askToSave())
        return;
    memoCommand->clear();
    const bool reset = folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ResetAll(); });
    program_.FaxForm->RefreshPage();
    if (!reset)
        return;
    macroFileName_.clear();
    setState(DocumentState::Closed);
}

bool TCommandForm::FormCloseQuery() {
    if (!askToSave())
        return false;
    macroFileName_.clear();
    memoCommand->clear();
    folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ClearPage(); });
    program_.FaxForm->RefreshPage();
    setState(DocumentState::Closed);
    return true;
}

void TCommandForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    // The window has closed: once more the close query (which now finds
    // nothing to ask), then the main window, which ends the program.
    FormCloseQuery();
    program_.End(0);
}

void TCommandForm::mnuFileExitClick() {
    if (FormCloseQuery())
        program_.End(0);
}

void TCommandForm::mnuOptionsSettingsClick() {
    program_.SettingsForm->exec();
}

void TCommandForm::mnuOptionsClearPageClick() {
    folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ClearPage(); });
    program_.FaxForm->RefreshPage();
}

void TCommandForm::mnuOptionsShowClick() {
    showViewer();
}

void TCommandForm::mnuHelpContentsClick() {
    program_.ShowHelpContents();
}

void TCommandForm::mnuHelpAboutClick() {
    program_.AboutBox->exec();
}

// ---- start timer and batch run -----------------------------------------

void TCommandForm::Timer1Timer() {
    Timer1->stop();
    const QStringList& args = program_.Arguments;
    bool loaded = false;
    if (!args.isEmpty())
        folio::ui::Guarded(this, [&] { loaded = LoadMacroFile(args[0]); });
    if (loaded && args.size() >= 2) {
        batchRun(args[1]);
        return;
    }
    show();
    const QString message = program_.TakeStartMessage();
    if (!message.isEmpty())
        folio::ui::ShowError(this, message);
}

void TCommandForm::batchRun(const QString& faxFile) {
    // What the macro loses goes to standard error as foliobuild prints it:
    // MACRO:LINE: warning: MESSAGE.
    struct Printer : folio::DiagnosticSink {
        std::string macro;
        void Report(const folio::Diagnostic& d) override {
            std::fprintf(stderr, "%s\n", folio::FormatDiagnostic(macro, d).c_str());
        }
    } printer;
    printer.macro = program_.Arguments[0].toLocal8Bit().toStdString();
    FaxImage& engine = program_.FaxForm->Engine();
    engine.SetDiagnostics(&printer);
    // The engine is as the viewer's creation left it: no ResetAll.
    try {
        RunCommands();
    } catch (const std::exception& e) {
        engine.SetDiagnostics(nullptr);
        batchFail(folio::ui::ErrorText(e));
        return;
    }
    engine.SetDiagnostics(nullptr);
    const QString error = program_.FaxForm->SaveFaxFile(faxFile);
    if (!error.isEmpty()) {
        batchFail(error);
        return;
    }
    close(); // nothing is modified: no question, and the program ends
}

void TCommandForm::batchFail(const QString& message) {
    std::fprintf(stderr, "folioset: %s\n", message.toLocal8Bit().constData());
    program_.End(1);
}
