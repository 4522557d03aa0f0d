// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The command window. Macro files are bytes: they are read through a line
// buffer of 500 bytes, decoded as code page 1252 for the editor and encoded
// back the same way when saved or run, so no byte changes on the way.
#include "TCommandForm.h"

#include "BaseFolder.h"
#include "Cp1252.h"
#include "MacroEncoding.h"
#include "Diagnostics.h"
#include "ErrorBox.h"
#include "FindBar.h"
#include "FileDialogLayout.h"
#include "MacroEditor.h"
#include "ObjectNames.h"
#include "PreviewPane.h"
#include "PrefixOffer.h"
#include "OutputFile.h"
#include "PdfWriter.h"
#include "ProblemList.h"
#include "Program.h"
#include "SaveFailure.h"
#include "Shortcuts.h"
#include "TAboutBox.h"
#include "TFaxForm.h"
#include "TSettingsForm.h"
#include "WindowFocus.h"
#include "tiflib32.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTextBlock>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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
// In UTF-8 a cut never falls inside a character: the part of it already
// taken moves on to the next line.
class LineSplitter {
  public:
    LineSplitter(int maxLength, bool utf8) : maxLength_(maxLength), utf8_(utf8) {}

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
                    qsizetype cut = current_.size();
                    if (utf8_ && isContinuation(c)) {
                        while (cut > 0 && isContinuation(current_[cut - 1]))
                            --cut;
                        if (cut > 0)
                            --cut; // the lead byte goes along
                    }
                    const QByteArray rest = current_.mid(cut);
                    current_.truncate(cut);
                    lines_.append(current_);
                    current_ = rest;
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
    static bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

    const int maxLength_;
    const bool utf8_;
    QByteArray current_;
    QList<QByteArray> lines_;
    bool afterCr_ = false;
};

// Opens a macro file for reading: a regular file only. The type is looked
// at before the open, and the open never waits (O_NONBLOCK), so a named pipe
// without a writer cannot hang the program; the open file is checked again,
// for the name may have been swapped in between. -1 with `why` set on
// failure.
int openMacroFile(const QString& path, QString& why) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (name.isEmpty() || ::stat(name.constData(), &st) != 0) {
        why = QString::fromLocal8Bit(std::strerror(name.isEmpty() ? ENOENT : errno));
        return -1;
    }
    const auto notAFile = [&why](mode_t mode) {
        why = S_ISDIR(mode)    ? QStringLiteral("it is a folder")
              : S_ISFIFO(mode) ? QStringLiteral("it is a named pipe, not a file")
                               : QStringLiteral("it is a device or socket, not a file");
    };
    if (!S_ISREG(st.st_mode)) {
        notAFile(st.st_mode);
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        notAFile(st.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

enum class WriteResult { Written, NotOpened, NotWritten };

// Writes `bytes` as the whole of `path`. A file is replaced in one step (a
// failed write leaves the old file whole) and keeps the replaced file's
// mode, and its owner and group where the process may set them; a new file
// gets the mode the umask gives. A device is written into. A named pipe or
// socket is refused: it would hold the program until a reader came. The
// reason of a failure is the system's own, from the call that failed.
WriteResult writeWhole(const QString& path, const QByteArray& bytes, QString& why) {
    // "-" would be standard output to the writer; as a file name it is a file.
    QByteArray name = QFile::encodeName(path);
    if (name == "-")
        name = "./-";
    struct stat old;
    const bool exists = ::stat(name.constData(), &old) == 0;
    if (exists && (S_ISFIFO(old.st_mode) || S_ISSOCK(old.st_mode))) {
        why = QStringLiteral("it is a named pipe or socket, not a file");
        return WriteResult::NotOpened;
    }
    std::string error;
    errno = 0;
    const std::unique_ptr<folio::OutputFile> out =
        folio::OutputFile::Create(name.toStdString(), error);
    if (!out) {
        why = folio::ui::SaveFailureCause(path, QString::fromLocal8Bit(error.c_str()), errno);
        return WriteResult::NotOpened;
    }
    const int fd = out->Fd();
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t done = ::write(fd, bytes.constData() + at, std::size_t(bytes.size() - at));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            why = QString::fromLocal8Bit(std::strerror(done < 0 ? errno : EIO));
            return WriteResult::NotWritten;
        }
        at += done;
    }
    if (exists && S_ISREG(old.st_mode) && out->kind() == folio::OutputFile::Kind::Replace) {
        // The owner first: a change of owner clears the set-ID bits.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) {
            why = QString::fromLocal8Bit(std::strerror(errno));
            return WriteResult::NotWritten;
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            why = QString::fromLocal8Bit(std::strerror(errno));
            return WriteResult::NotWritten;
        }
    }
    if (!out->Commit(error)) {
        why = QString::fromLocal8Bit(error.c_str());
        return WriteResult::NotWritten;
    }
    return WriteResult::Written;
}

void messageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                const QString& text, const QString& details = {}) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.setInformativeText(details);
    folio::ui::FitCaption(box);
    box.exec();
}

} // namespace

TCommandForm::TCommandForm(Program& program)
    : program_(program), encoding_(program.SettingsForm->NewFileEncoding()) {
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
    mnuFileExportPdf = mnuFile->addAction(QStringLiteral("&Export PDF..."), this,
                                          &TCommandForm::mnuFileExportPdfClick);
    mnuFileRecentSeparator = mnuFile->addSeparator();
    for (int i = 0; i < TSettingsForm::kMaxRecentFiles; ++i) {
        QAction* item = mnuFile->addAction(QString(), this, [this, i] { mnuFileRecentClick(i); });
        item->setObjectName(QStringLiteral("mnuFileRecent%1").arg(i + 1));
        mnuFileRecent.append(item);
    }
    mnuFile->setToolTipsVisible(true);
    mnuFile->addSeparator();
    mnuFileExit =
        mnuFile->addAction(QStringLiteral("E&xit"), this, &TCommandForm::mnuFileExitClick);
    fillRecentMenu();

    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEditFind =
        mnuEdit->addAction(QStringLiteral("&Find..."), this, &TCommandForm::mnuEditFindClick);
    mnuEditReplace = mnuEdit->addAction(QStringLiteral("&Replace..."), this,
                                        &TCommandForm::mnuEditReplaceClick);
    mnuEditFindNext = mnuEdit->addAction(QStringLiteral("Find &Next"), this,
                                         &TCommandForm::mnuEditFindNextClick);

    mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    mnuViewPreview = mnuView->addAction(QStringLiteral("Live &Preview"));
    mnuViewPreview->setCheckable(true);
    mnuViewPreview->setChecked(program_.SettingsForm->LivePreview);
    connect(mnuViewPreview, &QAction::toggled, this, &TCommandForm::mnuViewPreviewClick);

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

    // Shortcut keys beside the access keys: the platform's standard keys
    // where Qt knows one, else the common ones. None is an Alt key, so none
    // meets an access key; Process is a window action, for a shortcut set on
    // the button would replace its Alt+P.
    using folio::ui::StandardKeys;
    folio::ui::AddWindowKeys(this, mnuFileOpen, StandardKeys(QKeySequence::Open, "Ctrl+O"));
    folio::ui::AddWindowKeys(this, mnuFileSave, StandardKeys(QKeySequence::Save, "Ctrl+S"));
    folio::ui::AddWindowKeys(this, mnuFileSaveAs,
                             StandardKeys(QKeySequence::SaveAs, "Ctrl+Shift+S"));
    // No fallback: where the platform has no quit key (Windows), the
    // window's close key does it through the close query.
    folio::ui::AddWindowKeys(this, mnuFileExit, StandardKeys(QKeySequence::Quit));
    folio::ui::AddWindowKeys(this, mnuEditFind, StandardKeys(QKeySequence::Find, "Ctrl+F"));
    // Ctrl+H as most editors have it, whatever the platform's own (KDE: Ctrl+R).
    folio::ui::AddWindowKeys(this, mnuEditReplace, {QKeySequence(QStringLiteral("Ctrl+H"))});
    QList<QKeySequence> findNext = StandardKeys(QKeySequence::FindNext, "F3");
    if (!findNext.contains(QKeySequence(Qt::Key_F3)))
        findNext.prepend(QKeySequence(Qt::Key_F3));
    folio::ui::AddWindowKeys(this, mnuEditFindNext, findNext);
    actProcess = new QAction(QStringLiteral("Process"), this);
    actProcess->setShortcut(QKeySequence(Qt::Key_F5));
    actProcess->setShortcutContext(Qt::WindowShortcut);
    connect(actProcess, &QAction::triggered, this, [this] { btnProcess->click(); });
    addAction(actProcess);

    // A menu item chosen from the keyboard (Alt+F, then a letter) leaves the
    // keyboard focus on the menu bar, in its letter mode, and a dialog the
    // item ran hands the focus back there when it closes: the next key
    // typed would open a menu or be lost. Typing goes on in the editor, as
    // after an item chosen with the mouse.
    // Find and Replace send it to the find field instead.
    connect(menuBar(), &QMenuBar::triggered, this, [this](QAction* item) {
        if (barFind->isVisible() && (item == mnuEditFind || item == mnuEditReplace))
            barFind->efFind->setFocus();
        else
            memoCommand->setFocus();
    });
}

void TCommandForm::createControls() {
    setWindowTitle(QString::fromLatin1(folio::ui::kAppTitle));

    Panel1 = new QWidget;
    splitPreview = new QSplitter(Qt::Horizontal, Panel1);
    splitPreview->setChildrenCollapsible(false);
    splitEditor = new QSplitter(Qt::Vertical, splitPreview);
    splitEditor->setChildrenCollapsible(false);
    memoCommand = new folio::ui::MacroEditor(splitEditor);
    memoCommand->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoCommand->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoCommand->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoCommand->setTabChangesFocus(false);
    memoCommand->setTabStopDistance(8 * memoCommand->fontMetrics().horizontalAdvance(' '));
    // Hidden until a Process has something to report.
    lstProblems = new ProblemList(splitEditor);
    splitEditor->setStretchFactor(0, 1);
    splitEditor->setStretchFactor(1, 0);
    lstProblems->setMinimumHeight(3 * lstProblems->fontMetrics().height());
    pnlPreview = new folio::ui::PreviewPane(splitPreview);
    pnlPreview->setMinimumWidth(120);
    // Until the user moves the divider the preview keeps two fifths of the
    // width, however the window is sized.
    connect(splitPreview, &QSplitter::splitterMoved, this, [this] { previewPlaced_ = true; });
    pnlPreview->setVisible(mnuViewPreview->isChecked());
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    panel1Layout->setSpacing(0);
    panel1Layout->addWidget(splitPreview, 1);
    barFind = new folio::ui::FindBar(*memoCommand, Panel1);
    panel1Layout->addWidget(barFind);
    applyPrefixes();
    connect(memoCommand, &QPlainTextEdit::textChanged, this, &TCommandForm::memoCommandChange);
    connect(memoCommand->document(), &QTextDocument::modificationChanged, this,
            &TCommandForm::modificationChanged);
    tmrPreview = new QTimer(this);
    tmrPreview->setSingleShot(true);
    tmrPreview->setTimerType(Qt::PreciseTimer);
    tmrPreview->setInterval(kPreviewDelayMs);
    connect(tmrPreview, &QTimer::timeout, this, &TCommandForm::RequestPreview);
    connect(memoCommand, &QPlainTextEdit::textChanged, this, [this] {
        if (mnuViewPreview->isChecked())
            tmrPreview->start();
    });
    connect(pnlPreview, &folio::ui::PreviewPane::shown, this, &TCommandForm::previewShown);
    memoCommand->installEventFilter(this);
    memoCommand->viewport()->installEventFilter(this);
    setAcceptDrops(true);
    connect(lstProblems, &ProblemList::lineChosen, this, &TCommandForm::GoToLine);

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
        {QStringLiteral("Fax Macro File (*.TXT *.fax)"), QStringLiteral("All Files (*)")});
    dlgFileOpen->setDefaultSuffix(QStringLiteral("txt"));

    dlgFileSave = new QFileDialog(this);
    dlgFileSave->setOption(QFileDialog::DontUseNativeDialog);
    dlgFileSave->setOption(QFileDialog::DontConfirmOverwrite);
    dlgFileSave->setAcceptMode(QFileDialog::AcceptSave);

    folio::ui::FitFileDialogColumns(*dlgFileOpen);
    folio::ui::FitFileDialogColumns(*dlgFileSave);
    folio::ui::EndCompletionWithDialog(*dlgFileOpen);
    folio::ui::EndCompletionWithDialog(*dlgFileSave);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TCommandForm::Timer1Timer);

    FOLIO_NAME(Panel1);
    FOLIO_NAME(splitPreview);
    FOLIO_NAME(splitEditor);
    FOLIO_NAME(pnlPreview);
    FOLIO_NAME(barFind);
    FOLIO_NAME(tmrPreview);
    FOLIO_NAME(memoCommand);
    FOLIO_NAME(lstProblems);
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
    FOLIO_NAME(mnuFileExportPdf);
    FOLIO_NAME(mnuFileExit);
    FOLIO_NAME(mnuEdit);
    FOLIO_NAME(mnuEditFind);
    FOLIO_NAME(mnuEditReplace);
    FOLIO_NAME(mnuEditFindNext);
    FOLIO_NAME(mnuView);
    FOLIO_NAME(mnuViewPreview);
    FOLIO_NAME(mnuOptions);
    FOLIO_NAME(mnuOptionsSettings);
    FOLIO_NAME(mnuOptionsClearPage);
    FOLIO_NAME(mnuOptionsShow);
    FOLIO_NAME(mnuHelp);
    FOLIO_NAME(mnuHelpContents);
    FOLIO_NAME(mnuHelpAbout);
    FOLIO_NAME(actProcess);
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
    // Undo (or redo) back to the text as last loaded or saved leaves it
    // unmodified. A text set whole (it has no undo history) counts as
    // changed, as typing does.
    const QTextDocument* doc = memoCommand->document();
    if (!doc->isModified() && (doc->isUndoAvailable() || doc->isRedoAvailable()))
        setState(unmodifiedState_);
    else
        setState(DocumentState::Modified);
}

void TCommandForm::modificationChanged(bool modified) {
    // Undo back to the text as it was loaded or saved: nothing is left to
    // save, and the state is the one the text had then.
    const QTextDocument* doc = memoCommand->document();
    if (!modified && State() == DocumentState::Modified &&
        (doc->isUndoAvailable() || doc->isRedoAvailable()))
        setState(unmodifiedState_);
}

void TCommandForm::setMacroFileName(const QString& path) {
    // The caption is never changed: the file name is not shown anywhere.
    macroFileName_ = path;
    if (!path.isEmpty())
        rememberRecent(path);
}

// ---- recent files -------------------------------------------------------

void TCommandForm::rememberRecent(const QString& path) {
    QStringList& list = program_.SettingsForm->RecentFiles;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    list.removeAll(absolute);
    list.prepend(absolute);
    while (list.size() > TSettingsForm::kMaxRecentFiles)
        list.removeLast();
    fillRecentMenu();
}

void TCommandForm::fillRecentMenu() {
    const QStringList& list = program_.SettingsForm->RecentFiles;
    for (int i = 0; i < TSettingsForm::kMaxRecentFiles; ++i) {
        QAction* item = mnuFileRecent[i];
        const QString path = list.value(i);
        item->setVisible(!path.isEmpty());
        // The name only: a whole path makes a menu as wide as the screen.
        QString name = QFileInfo(path).fileName();
        item->setText(QStringLiteral("&%1 %2").arg(QString::number(i + 1), name.replace('&', "&&")));
        item->setToolTip(QDir::toNativeSeparators(path));
    }
    mnuFileRecentSeparator->setVisible(!list.isEmpty());
}

void TCommandForm::mnuFileRecentClick(int index) {
    QStringList& list = program_.SettingsForm->RecentFiles;
    const QString path = list.value(index);
    if (path.isEmpty())
        return;
    if (!QFileInfo(path).isFile()) {
        list.removeAt(index);
        fillRecentMenu();
        messageBox(this, QMessageBox::Information, QStringLiteral("Recent Files"),
                   QStringLiteral("The file \"%1\" is no longer there; it is taken off the "
                                  "recent files.")
                       .arg(QDir::toNativeSeparators(path)));
        return;
    }
    OpenDroppedFile(path);
}

// ---- files --------------------------------------------------------------

bool TCommandForm::LoadMacroFile(const QString& path, QString* why) {
    FaxImage& engine = program_.FaxForm->Engine();
    engine.ClearPage();
    program_.FaxForm->RefreshPage();

    QString reason;
    const int fd = openMacroFile(path, reason);
    if (fd < 0) {
        if (why)
            *why = reason;
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file.errorString();
        return false;
    }
    QByteArray all;
    std::vector<char> chunk(std::size_t(1) << 16);
    qint64 total = 0;
    for (;;) {
        const qint64 n = file.read(chunk.data(), qint64(chunk.size()));
        if (n < 0) {
            if (why)
                *why = file.errorString();
            return false;
        }
        if (n == 0)
            break;
        total += n;
        // Checked while reading: the file may grow after its size was asked.
        if (total > kMaxMacroFileBytes) {
            const QString tooLarge = QStringLiteral("The file \"%1\" is too large to edit "
                                                    "(more than %2 MB).")
                                         .arg(QDir::toNativeSeparators(path))
                                         .arg(kMaxMacroFileBytes >> 20);
            if (why)
                *why = tooLarge;
            else
                folio::ui::ShowError(this, tooLarge);
            return false;
        }
        all.append(chunk.data(), n);
    }
    // The whole file decides its encoding: one byte that is not UTF-8 makes
    // it code page 1252.
    const folio::ui::MacroEncoding encoding =
        folio::ui::DetectEncoding(all, program_.SettingsForm->NewFileEncoding());
    const int mark = folio::ui::MarkLength(encoding);
    LineSplitter splitter(kLineBufferSize - 1, folio::ui::IsUtf8(encoding));
    splitter.Feed(all.constData() + mark, all.size() - mark);
    all.clear();
    const QList<QByteArray> lines = splitter.Finish();
    // Each line is added with its break, as lines appended to an editor
    // are; so a file's empty last line is kept.
    QString text;
    for (const QByteArray& line : lines) {
        text += folio::ui::DecodeLine(line, encoding);
        text += '\n';
    }
    encoding_ = encoding;
    memoCommand->setPlainText(text);
    prefixOffered_ = false;
    unmodifiedState_ = DocumentState::Clean;
    memoCommand->document()->setModified(false);
    setState(DocumentState::Clean);
    macroFolder_ = QFileInfo(path).absolutePath();
    return true;
}

bool TCommandForm::WriteMacroFile(const QString& path) {
    QByteArray bytes;
    if (encoding_ == folio::ui::MacroEncoding::Utf8WithMark)
        bytes += "\xEF\xBB\xBF";
    for (const QString& line : editorLines(*memoCommand)) {
        bytes += folio::ui::EncodeLine(line, encoding_);
        bytes += "\r\n";
    }
    QString error;
    switch (writeWhole(path, bytes, error)) {
    case WriteResult::Written:
        return true;
    case WriteResult::NotOpened:
        messageBox(this, QMessageBox::Critical, QStringLiteral("Write Error"),
                   QStringLiteral("Cannot open file."),
                   QStringLiteral("\"%1\": %2.").arg(QDir::toNativeSeparators(path), error));
        return false;
    case WriteResult::NotWritten:
        break;
    }
    messageBox(
        this, QMessageBox::Critical, QStringLiteral("Write Error"),
        QStringLiteral("Cannot write file \"%1\": %2.").arg(QDir::toNativeSeparators(path), error));
    return false;
}

void TCommandForm::RunCommands() {
    FaxImage& engine = program_.FaxForm->Engine();
    // Relative names in FILE commands are the macro's neighbours, wherever
    // the program was started from. A text never loaded or saved has no
    // folder, and neither has one whose folder has gone: the working folder.
    std::unique_ptr<folio::BaseFolder> base;
    if (!macroFolder_.isEmpty()) {
        std::string error;
        base = folio::BaseFolder::Create(QFile::encodeName(macroFolder_).toStdString(), error);
    }
    engine.SetFileGate(base.get());
    struct Ungate {
        FaxImage& engine;
        ~Ungate() { engine.SetFileGate(nullptr); }
    } ungate{engine};
    const QStringList lines = editorLines(*memoCommand);
    if (sink_) {
        const TSettingsForm& s = *program_.SettingsForm;
        const folio::ui::OtherPrefix other =
            folio::ui::FindOtherPrefix(lines, folio::ui::ToCp1252(s.efMacroStart->text()),
                                       folio::ui::ToCp1252(s.efCommentStart->text()));
        if (other.Found())
            sink_->Report(folio::ui::OtherPrefixNote(other, s.efMacroStart->text()));
    }
    std::vector<char> line;
    int number = 0;
    for (const QString& text : lines) {
        if (sink_ && folio::ui::IsUtf8(encoding_))
            reportOutsideCp1252(text, number + 1);
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

// The engine sets text in code page 1252 (one byte a character), whatever
// the file was read in: a UTF-8 text reaches it as code page 1252, and a
// character that code page lacks is set as '?', which the list says.
void TCommandForm::reportOutsideCp1252(const QString& text, int line) {
    folio::Diagnostic d;
    if (folio::ui::OutsideCp1252Report(text, line, d))
        sink_->Report(d);
}

// ---- handlers -----------------------------------------------------------

void TCommandForm::offerOtherPrefix() {
    if (prefixOffered_)
        return;
    const TSettingsForm& s = *program_.SettingsForm;
    const QString macroStart = s.efMacroStart->text();
    const folio::ui::OtherPrefix other =
        folio::ui::FindOtherPrefix(editorLines(*memoCommand), folio::ui::ToCp1252(macroStart),
                                   folio::ui::ToCp1252(s.efCommentStart->text()));
    if (!other.Found())
        return;
    prefixOffered_ = true;
    const qsizetype n = other.lines.size();
    QMessageBox box(QMessageBox::Question, QStringLiteral("Command Prefix"),
                    QStringLiteral("No line of this macro starts with the macro prefix \"%1\", "
                                   "but %2 with \"%3\", %4. Read %5 as commands?")
                        .arg(macroStart,
                             n == 1 ? QStringLiteral("one starts")
                                    : QStringLiteral("%1 start").arg(n),
                             other.prefix, folio::ui::PrefixOwner(other.prefix),
                             n == 1 ? QStringLiteral("it") : QStringLiteral("them")),
                    QMessageBox::Yes | QMessageBox::No, this);
    // A prefix is the user's text: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(
        QStringLiteral("Read as Commands puts \"%1\" in place of \"%2\" in the editor: Undo "
                       "(Ctrl+Z) takes it back, and the file changes only when you save it. "
                       "Leave as Text sets these lines as text.")
            .arg(macroStart, other.prefix));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Read as &Commands"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Leave as &Text"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    folio::ui::FitCaption(box);
    if (box.exec() == QMessageBox::Yes)
        folio::ui::ReplacePrefix(*memoCommand->document(), other, macroStart);
}

void TCommandForm::showViewer() {
    folio::ui::ShowKeepingFocus(*program_.FaxForm, *this);
}

void TCommandForm::btnProcessClick() {
    process();
}

bool TCommandForm::process() {
    // Asked before the run, so that it runs the text as the answer left it.
    offerOtherPrefix();
    if (!program_.FaxForm->isVisible())
        showViewer();
    memoCommand->setFocus();
    // What the run loses is listed under the editor; an error that ends it
    // is shown with the line and the file it came from. The list is the
    // run's until a preview asked for after it (the error box lets preview
    // results arrive in between).
    listedFrom_ = pnlPreview->RequestedGeneration() + 1;
    lstProblems->Clear();
    FaxImage& engine = program_.FaxForm->Engine();
    engine.SetDiagnostics(lstProblems);
    sink_ = lstProblems;
    struct Unsink {
        FaxImage& engine;
        folio::DiagnosticSink*& sink;
        ~Unsink() {
            engine.SetDiagnostics(nullptr);
            sink = nullptr;
        }
    } unsink{engine, sink_};
    const auto details = [this] {
        const folio::Diagnostic* error = lstProblems->LastError();
        if (!error)
            return QString();
        QString text = folio::ui::DecodedText(error->message);
        if (error->line > 0)
            text = QStringLiteral("Line %1: %2").arg(error->line).arg(text);
        return text.endsWith('.') ? text : text + '.';
    };
    processing_ = true;
    const bool ran = folio::ui::Guarded(
        this,
        [&] {
            engine.ResetAll();
            RunCommands();
        },
        details);
    processing_ = false;
    lstProblems->Fill();
    showProblems();
    program_.FaxForm->RefreshPage();
    // A new run is read from its top.
    program_.FaxForm->ScrollToTop();
    return ran;
}

// ---- PDF ------------------------------------------------------------------

QString TCommandForm::WritePdfFile(const QString& path) {
    FaxImage& engine = program_.FaxForm->Engine();
    std::string error;
    const std::unique_ptr<folio::PdfWriter> pdf =
        folio::PdfWriter::Create(QFile::encodeName(path).toStdString(), error);
    if (!pdf)
        return QString::fromLocal8Bit(error.c_str());
    const int count = engine.PageCount;
    int index = 0;
    for (Link* link = engine.Pages->First(); link && index < count; link = link->Suc(), ++index) {
        PageImage& page = static_cast<FaxPage*>(link)->PageImage;
        // Reading a parked page unpacks it; it is packed again after, so that
        // a long document costs the memory of one page.
        const bool parked = page.Parked();
        const folio::Bitmap& bits = page.Picture();
        TiflibCodedPage coded{};
        const bool codedOk =
            TiflibCodePage(bits.Bits(), bits.Stride(), unsigned(bits.Width()),
                           unsigned(bits.Height()), TIFLIB_FAX_G4, TIFLIB_FAX_FINE, &coded) != 0;
        // 196 rows per inch: the pages are fine-resolution rows.
        const bool added = codedOk && pdf->AddPage(index, count, coded.width, coded.height, 196,
                                                   coded.code, coded.bytes);
        if (parked)
            page.Park();
        if (!codedOk)
            return QStringLiteral("page %1 could not be coded").arg(index + 1);
        if (!added)
            return QString::fromLocal8Bit(pdf->Error().c_str());
    }
    if (!pdf->Commit(error))
        return QString::fromLocal8Bit(error.c_str());
    return {};
}

void TCommandForm::mnuFileExportPdfClick() {
    dlgFileSave->setWindowTitle(QStringLiteral("Export PDF"));
    dlgFileSave->setNameFilters({QStringLiteral("PDF Files (*.pdf)")});
    dlgFileSave->setDefaultSuffix(QStringLiteral("pdf"));
    if (dlgFileSave->exec() != QDialog::Accepted || dlgFileSave->selectedFiles().isEmpty())
        return;
    const QString path = dlgFileSave->selectedFiles().first();
    // The PDF holds the pages of the text as it is now; a run that an error
    // ended (its box has been shown) writes nothing.
    if (!process())
        return;
    const QString why = WritePdfFile(path);
    if (!why.isEmpty())
        messageBox(this, QMessageBox::Critical, QStringLiteral("Write Error"),
                   QStringLiteral("Cannot write file \"%1\": %2.")
                       .arg(QDir::toNativeSeparators(path), why));
}

void TCommandForm::showProblems() {
    if (lstProblems->isVisible()) {
        // A list that has just appeared takes up to two fifths of the
        // height, enough for a few entries; a size the user set stays.
        const QList<int> sizes = splitEditor->sizes();
        const int total = sizes.value(0) + sizes.value(1);
        const int want = std::min(total * 2 / 5, 10 * lstProblems->fontMetrics().height());
        if (sizes.value(1) < want)
            splitEditor->setSizes({total - want, want});
    }
}

// ---- live preview ---------------------------------------------------------

void TCommandForm::RequestPreview() {
    tmrPreview->stop();
    if (!mnuViewPreview->isChecked() || !isVisible())
        return;
    folio::ui::PreviewRequest request;
    request.lines = editorLines(*memoCommand);
    request.folder = macroFolder_;
    const TSettingsForm& s = *program_.SettingsForm;
    request.settings = {s.WidthText(),    s.HeightText(),   s.LeftMarginText(),
                        s.TopMarginText(), s.FontName(),     s.FontSizeText(),
                        s.MacroStart(),   s.CommentStart()};
    pnlPreview->Request(std::move(request));
}

void TCommandForm::previewShown(const folio::ui::PreviewResult& result) {
    // What the text as typed loses is listed as a Process would list it.
    if (processing_ || result.generation < listedFrom_)
        return;
    lstProblems->Clear();
    for (const folio::Diagnostic& d : result.diagnostics)
        lstProblems->Report(d);
    lstProblems->Fill();
    showProblems();
}

void TCommandForm::mnuViewPreviewClick(bool on) {
    program_.SettingsForm->LivePreview = on;
    pnlPreview->setVisible(on);
    if (on)
        RequestPreview();
    else
        pnlPreview->Clear();
}

void TCommandForm::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The splitter is laid out after this: the window's width stands for
    // its own (the splitter shares out whatever total it is given).
    if (!previewPlaced_) {
        const int total = event->size().width();
        splitPreview->setSizes({total - total * 2 / 5, total * 2 / 5});
    }
}

void TCommandForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (pnlPreview->ShownGeneration() == 0)
        QTimer::singleShot(0, this, &TCommandForm::RequestPreview);
}

void TCommandForm::GoToLine(int line) {
    QTextDocument* doc = memoCommand->document();
    QTextBlock block = doc->findBlockByNumber(line - 1);
    if (!block.isValid())
        block = doc->lastBlock();
    QTextCursor cursor(block);
    memoCommand->setTextCursor(cursor);
    memoCommand->centerCursor();
    memoCommand->setFocus();
}

void TCommandForm::mnuFileOpenClick() {
    if (dlgFileOpen->exec() != QDialog::Accepted || dlgFileOpen->selectedFiles().isEmpty())
        return;
    const QString path = dlgFileOpen->selectedFiles().first();
    bool loaded = false;
    folio::ui::Guarded(this, [&] { loaded = LoadMacroFile(path); });
    if (!loaded)
        return;
    setMacroFileName(path);
    offerOtherPrefix();
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
    setMacroFileName(path);
    macroFolder_ = QFileInfo(path).absolutePath();
    unmodifiedState_ = DocumentState::Clean;
    memoCommand->document()->setModified(false);
    return true;
}

bool TCommandForm::saveMacro() {
    if (macroFileName_.isEmpty()) {
        if (!saveWithDialog())
            return false;
    } else if (!WriteMacroFile(macroFileName_)) {
        return false;
    }
    unmodifiedState_ = DocumentState::Clean;
    memoCommand->document()->setModified(false);
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
    folio::ui::FitCaption(box);
    switch (box.exec()) {
    case QMessageBox::Yes:
        // A save cancelled or failed stops the closing: nothing typed may be lost.
        return saveMacro();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TCommandForm::emptyEditor() {
    setMacroFileName(QString());
    macroFolder_.clear();
    memoCommand->clear();
    prefixOffered_ = false;
    unmodifiedState_ = DocumentState::Closed;
    memoCommand->document()->setModified(false);
    encoding_ = program_.SettingsForm->NewFileEncoding();
    lstProblems->Clear(); // its lines were the text's
    pnlPreview->Clear();
    setState(DocumentState::Closed);
}

void TCommandForm::mnuFileCloseClick() {
    if (!askToSave())
        return;
    // The restart reads the settings and fails on a field that is not a
    // number: it comes first, so that a failed one empties nothing and the
    // text keeps its name (an empty editor with the old name would let the
    // next Save overwrite the file).
    const bool reset = folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ResetAll(); });
    program_.FaxForm->RefreshPage();
    if (reset)
        emptyEditor();
}

bool TCommandForm::FormCloseQuery() {
    if (!askToSave())
        return false;
    emptyEditor();
    folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ClearPage(); });
    program_.FaxForm->RefreshPage();
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

// ---- files dropped on the window ------------------------------------------

namespace {

// The first local file a drag carries; empty when it carries none.
QString droppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}

} // namespace

void TCommandForm::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TCommandForm::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TCommandForm::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the question it may ask must not hold
    // the program the file came from in its drag.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenDroppedFile(path); }, Qt::QueuedConnection);
}

bool TCommandForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (droppedFile(drop->mimeData()).isEmpty())
            break; // text: the editor's own
        if (event->type() == QEvent::Drop)
            dropEvent(drop);
        else
            drop->acceptProposedAction();
        return true;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TCommandForm::OpenDroppedFile(const QString& path) {
    if (!askToSave())
        return;
    // As File > Close and File > Open would: the engine restarts, then the
    // file fills the editor. A restart that fails (a setting that is not a
    // number) leaves everything as it was.
    if (!folio::ui::Guarded(this, [&] { program_.FaxForm->Engine().ResetAll(); })) {
        program_.FaxForm->RefreshPage();
        return;
    }
    QString why;
    bool loaded = false;
    folio::ui::Guarded(this, [&] { loaded = LoadMacroFile(path, &why); });
    program_.FaxForm->RefreshPage();
    if (!loaded) {
        if (!why.isEmpty() && !why.endsWith('.'))
            why += '.';
        if (!why.isEmpty())
            folio::ui::ShowError(this, QStringLiteral("The file \"%1\" cannot be opened: %2")
                                           .arg(QDir::toNativeSeparators(path), why));
        return;
    }
    lstProblems->Clear(); // its lines were the old text's
    setMacroFileName(path);
    offerOtherPrefix();
}

void TCommandForm::mnuFileExitClick() {
    if (FormCloseQuery())
        program_.End(0);
}

void TCommandForm::mnuOptionsSettingsClick() {
    program_.SettingsForm->exec();
    // The page size, prefixes or font may have changed.
    applyPrefixes();
    RequestPreview();
}

void TCommandForm::applyPrefixes() {
    const TSettingsForm& s = *program_.SettingsForm;
    memoCommand->Highlighter()->SetPrefixes(s.efMacroStart->text(), s.efCommentStart->text());
}

void TCommandForm::mnuEditFindClick() {
    barFind->Open(false);
}

void TCommandForm::mnuEditReplaceClick() {
    barFind->Open(true);
}

void TCommandForm::mnuEditFindNextClick() {
    // Nothing to look for yet: ask for it. A search that finds nothing shows
    // the bar, which says so.
    if (barFind->efFind->text().isEmpty())
        barFind->Open(false);
    else if (!barFind->FindNext())
        barFind->show();
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
    if (args.size() >= 2) {
        // A fax written over its own macro would destroy the macro; any
        // spelling or link of the same file counts.
        struct stat in {
        }, out{};
        if (::stat(QFile::encodeName(args[0]).constData(), &in) == 0 &&
            ::stat(QFile::encodeName(args[1]).constData(), &out) == 0 && S_ISREG(in.st_mode) &&
            in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            batchFail(
                QStringLiteral("the fax file \"%1\" is the macro file \"%2\" itself; "
                               "nothing is written.")
                    .arg(QDir::toNativeSeparators(args[1]), QDir::toNativeSeparators(args[0])));
            return;
        }
        // Unattended: a macro that cannot be read ends the run with its
        // reason, as every other failure of a batch run does; an empty
        // window nobody watches would wait for ever.
        QString why;
        bool loaded = false;
        try {
            loaded = LoadMacroFile(args[0], &why);
        } catch (const std::exception& e) {
            why = folio::ui::ErrorText(e);
        }
        if (!loaded) {
            if (!why.endsWith('.'))
                why += '.';
            batchFail(QStringLiteral("the macro file \"%1\" cannot be read: %2")
                          .arg(QDir::toNativeSeparators(args[0]), why));
            return;
        }
        batchRun(args[1]);
        return;
    }
    if (!args.isEmpty())
        folio::ui::Guarded(this, [&] { LoadMacroFile(args[0]); });
    show();
    const QString message = program_.TakeStartMessage();
    if (!message.isEmpty())
        folio::ui::ShowError(this, message);
    offerOtherPrefix();
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
    sink_ = &printer;
    // The engine is as the viewer's creation left it: no ResetAll.
    try {
        RunCommands();
    } catch (const std::exception& e) {
        engine.SetDiagnostics(nullptr);
        sink_ = nullptr;
        batchFail(folio::ui::ErrorText(e));
        return;
    }
    engine.SetDiagnostics(nullptr);
    sink_ = nullptr;
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
