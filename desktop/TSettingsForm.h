// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The settings dialog: the eight user settings as edit fields (there is no
// other settings record), loaded from the user's settings store when the
// dialog is created and stored back when it is destroyed. The engine reads
// the fields through FaxSettingsSource at the moment it needs a value, so an
// edit takes effect at the engine's next read, whichever button closed the
// dialog.
#pragma once

#include "FaxViewer.h"
#include "MacroEncoding.h"

#include <QDialog>
#include <QFont>
#include <QStringList>
#include <string>

class QComboBox;
class QFontDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class TSettingsForm : public QDialog, public FaxSettingsSource {
    Q_OBJECT
  public:
    // Store location: organisation and application of QSettings.
    static constexpr const char* kOrganisation = "Tessaly";
    static constexpr const char* kApplication = "Folioset";
    // A size the font dialog is opened on at most, in points; a larger
    // field leaves the dialog's own size.
    static constexpr int kMaxDialogPoints = 999;

    // Loads the stored settings into the fields. Throws folio::Error naming
    // the value when an integer setting holds something else.
    explicit TSettingsForm(QWidget* parent = nullptr);
    // Stores the fields.
    ~TSettingsForm() override;

    void LoadSettings();
    void StoreSettings();
    // Puts the defaults of the four page settings into their fields.
    void ResetPageDefaults();

    // FaxSettingsSource: the fields' current text. Numbers and the font name
    // as UTF-8, the two prefixes in code page 1252 like the macro lines they
    // are compared with.
    std::string WidthText() const override;
    std::string HeightText() const override;
    std::string LeftMarginText() const override;
    std::string TopMarginText() const override;
    std::string FontName() const override;
    std::string FontSizeText() const override;
    std::string MacroStart() const override;
    std::string CommentStart() const override;

    QGroupBox* gbPageDefaults;
    QLabel* lblWidth;
    QLineEdit* efWidth;
    QLabel* lblHeight;
    QLineEdit* efHeight;
    QLabel* lblXPos;
    QLineEdit* efLeftMargin;
    QLabel* lblYPos;
    QLineEdit* efTopMargin;
    QLabel* lblCommentStart;
    QLineEdit* efCommentStart;
    QLabel* lblMacroStart;
    QLineEdit* efMacroStart;
    QLabel* lblDefaultFont;
    QLineEdit* efFont;
    QLabel* lblFontSize;
    QLineEdit* efFontSize;
    QToolButton* BitBtn1;
    // The encoding a text typed afresh (or a file of plain ASCII) is saved
    // in: Windows-1252 or UTF-8, stored as NewFileEncoding.
    QLabel* lblNewFileEncoding;
    QComboBox* cbNewFileEncoding;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QFontDialog* FontDialog1;

    // The family name the engine's font lookup finds for a family the font
    // dialog offers: without the foundry Qt adds as " [Foundry]".
    static QString EngineFamilyName(const QString& family);

    folio::ui::MacroEncoding NewFileEncoding() const;

    // View > Live Preview of the command window, stored as LivePreview.
    bool LivePreview = true;
    // The command window's recent files, latest first, stored as RecentFiles:
    // the files last opened or saved, at most kMaxRecentFiles.
    static constexpr int kMaxRecentFiles = 5;
    QStringList RecentFiles;

  public slots:
    // Opens the font dialog on the fields' font and size, plain, as the
    // engine sets the default font; the chosen family and size go into the
    // fields (a style chosen is not kept: the default font has none).
    void BitBtn1Click();

  private:
    void createControls();
    void setCommentStartText(const QString& text);
};
