// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The settings dialog and its store. The store is QSettings with the
// organisation "Tessaly" and the application "Folioset"; the eight values
// carry their historical names. QSettings keeps no types between runs, so an
// integer comes back as text and is checked here: a value that is not a
// whole number in the 32-bit range fails the load with an error naming it.
#include "TSettingsForm.h"

#include "Artwork.h"
#include "Convert.h"
#include "Cp1252.h"
#include "Error.h"
#include "ObjectNames.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

namespace {

struct Setting {
    const char* name;                 // value name in the store
    QLineEdit* TSettingsForm::*field; // the field that holds it
    bool integer;                     // stored as a number, else as text
    const char* defaultText;
};

// In the order they are read and written.
const Setting kSettings[] = {
    {"ImageWidth", &TSettingsForm::efWidth, true, "1728"},
    {"ImageHeight", &TSettingsForm::efHeight, true, "2200"},
    {"LeftMargin", &TSettingsForm::efLeftMargin, true, "100"},
    {"TopMargin", &TSettingsForm::efTopMargin, true, "100"},
    {"CommentStart", &TSettingsForm::efCommentStart, false, "#"},
    {"MacroStart", &TSettingsForm::efMacroStart, false, ":FAX:"},
    {"DefaultFont", &TSettingsForm::efFont, false, "Arial"},
    {"DefaultFontSize", &TSettingsForm::efFontSize, true, "10"},
};

// The text of a stored string value. A hand-edited value with commas reads
// back as a list; it is taken as the text it was.
QString storedText(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// The decimal text of a stored integer value, or an error naming it.
QString storedInteger(const QVariant& value, const char* name) {
    bool ok = false;
    const qlonglong n = storedText(value).trimmed().toLongLong(&ok);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
        throw folio::Error(std::string("Invalid data type for '") + name + "'");
    return QString::number(n);
}

QLineEdit* makeField(QWidget* parent, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setMinimumWidth(width);
    return edit;
}

} // namespace

TSettingsForm::TSettingsForm(QWidget* parent) : QDialog(parent) {
    createControls();
    LoadSettings();
}

TSettingsForm::~TSettingsForm() {
    // The program ends normally whatever the store does.
    try {
        StoreSettings();
    } catch (...) {
    }
}

void TSettingsForm::createControls() {
    setWindowTitle(QStringLiteral("Brackwell Folioset Settings"));
    setSizeGripEnabled(true);

    gbPageDefaults = new QGroupBox(QStringLiteral("Page Defaults"), this);
    lblWidth = new QLabel(QStringLiteral("Image &width:"), gbPageDefaults);
    efWidth = makeField(gbPageDefaults, 57);
    lblHeight = new QLabel(QStringLiteral("Image &height:"), gbPageDefaults);
    efHeight = makeField(gbPageDefaults, 57);
    lblXPos = new QLabel(QStringLiteral("&Left Margin:"), gbPageDefaults);
    efLeftMargin = makeField(gbPageDefaults, 57);
    lblYPos = new QLabel(QStringLiteral("&Top Margin:"), gbPageDefaults);
    efTopMargin = makeField(gbPageDefaults, 57);
    auto* pageGrid = new QGridLayout(gbPageDefaults);
    int row = 0;
    for (auto [label, edit] : {std::pair{lblWidth, efWidth}, std::pair{lblHeight, efHeight},
                               std::pair{lblXPos, efLeftMargin}, std::pair{lblYPos, efTopMargin}}) {
        label->setBuddy(edit);
        pageGrid->addWidget(label, row, 0);
        pageGrid->addWidget(edit, row, 1);
        ++row;
    }

    lblCommentStart = new QLabel(QStringLiteral("Comments &start with:"), this);
    efCommentStart = makeField(this, 25);
    efCommentStart->setMaxLength(1);
    efCommentStart->setMaximumWidth(40);
    lblMacroStart = new QLabel(QStringLiteral("&Macros start with:"), this);
    efMacroStart = makeField(this, 121);
    lblDefaultFont = new QLabel(QStringLiteral("Default &Font:"), this);
    efFont = makeField(this, 121);
    lblFontSize = new QLabel(QStringLiteral("Font si&ze:"), this);
    efFontSize = makeField(this, 57);
    efFontSize->setMaximumWidth(70);
    BitBtn1 = new QToolButton(this);
    BitBtn1->setIcon(folio::ui::FontButtonIcon());
    BitBtn1->setIconSize(QSize(24, 22));
    BitBtn1->setFixedSize(28, 28);
    BitBtn1->setToolTip(QStringLiteral("Choose the default font"));
    connect(BitBtn1, &QToolButton::clicked, this, &TSettingsForm::BitBtn1Click);

    lblNewFileEncoding = new QLabel(QStringLiteral("&New files in:"), this);
    cbNewFileEncoding = new QComboBox(this);
    for (const auto encoding : {folio::ui::MacroEncoding::Cp1252, folio::ui::MacroEncoding::Utf8})
        cbNewFileEncoding->addItem(folio::ui::EncodingName(encoding));
    lblNewFileEncoding->setBuddy(cbNewFileEncoding);

    auto* textGrid = new QGridLayout;
    textGrid->addWidget(lblCommentStart, 0, 0);
    textGrid->addWidget(efCommentStart, 0, 1, Qt::AlignLeft);
    textGrid->addWidget(lblMacroStart, 1, 0);
    textGrid->addWidget(efMacroStart, 1, 1, 1, 2);
    textGrid->addWidget(lblDefaultFont, 2, 0);
    textGrid->addWidget(efFont, 2, 1, 1, 2);
    textGrid->addWidget(lblFontSize, 3, 0);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(efFontSize);
    sizeRow->addWidget(BitBtn1);
    sizeRow->addStretch();
    textGrid->addLayout(sizeRow, 3, 1, 1, 2);
    textGrid->addWidget(lblNewFileEncoding, 4, 0);
    textGrid->addWidget(cbNewFileEncoding, 4, 1, 1, 2, Qt::AlignLeft);
    textGrid->setColumnStretch(2, 1);
    for (auto [label, edit] :
         {std::pair{lblCommentStart, efCommentStart}, std::pair{lblMacroStart, efMacroStart},
          std::pair{lblDefaultFont, efFont}, std::pair{lblFontSize, efFontSize}})
        label->setBuddy(edit);

    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnOk->setDefault(true);
    btnOk->setMinimumWidth(75);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setAutoDefault(false);
    btnCancel->setMinimumWidth(75);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(gbPageDefaults);
    top->addSpacing(8);
    top->addLayout(textGrid, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    outer->addSpacing(8);
    outer->addStretch();
    outer->addLayout(buttons);

    setTabOrder(efWidth, efHeight);
    setTabOrder(efHeight, efLeftMargin);
    setTabOrder(efLeftMargin, efTopMargin);
    setTabOrder(efTopMargin, efCommentStart);
    setTabOrder(efCommentStart, efMacroStart);
    setTabOrder(efMacroStart, btnOk);
    setTabOrder(btnOk, efFont);
    setTabOrder(efFont, efFontSize);
    setTabOrder(efFontSize, BitBtn1);
    setTabOrder(BitBtn1, cbNewFileEncoding);
    setTabOrder(cbNewFileEncoding, btnCancel);

    FontDialog1 = new QFontDialog(QFont(QStringLiteral("MS Sans Serif"), 8), this);
    FontDialog1->setOption(QFontDialog::DontUseNativeDialog);

    // A stored comment prefix longer than one character is shown whole; the
    // one-character limit holds for typing, and comes back once the text is
    // that short again.
    connect(efCommentStart, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.size() <= 1)
            efCommentStart->setMaxLength(1);
    });

    FOLIO_NAME(gbPageDefaults);
    FOLIO_NAME(lblWidth);
    FOLIO_NAME(efWidth);
    FOLIO_NAME(lblHeight);
    FOLIO_NAME(efHeight);
    FOLIO_NAME(lblXPos);
    FOLIO_NAME(efLeftMargin);
    FOLIO_NAME(lblYPos);
    FOLIO_NAME(efTopMargin);
    FOLIO_NAME(lblCommentStart);
    FOLIO_NAME(efCommentStart);
    FOLIO_NAME(lblMacroStart);
    FOLIO_NAME(efMacroStart);
    FOLIO_NAME(lblDefaultFont);
    FOLIO_NAME(efFont);
    FOLIO_NAME(lblFontSize);
    FOLIO_NAME(efFontSize);
    FOLIO_NAME(BitBtn1);
    FOLIO_NAME(lblNewFileEncoding);
    FOLIO_NAME(cbNewFileEncoding);
    FOLIO_NAME(btnOk);
    FOLIO_NAME(btnCancel);
    FOLIO_NAME(FontDialog1);
    resize(418 - 8, 213 - 27); // the outer size less a typical frame and caption
}

void TSettingsForm::setCommentStartText(const QString& text) {
    efCommentStart->setMaxLength(std::max<qsizetype>(1, text.size()));
    efCommentStart->setText(text);
}

void TSettingsForm::LoadSettings() {
    QSettings store(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    // A store that cannot be read gives every setting its default.
    const bool readable = store.status() == QSettings::NoError;
    for (const Setting& s : kSettings) {
        const QString name = QString::fromLatin1(s.name);
        QString text = QString::fromLatin1(s.defaultText);
        if (readable && store.contains(name)) {
            const QVariant value = store.value(name);
            text = s.integer ? storedInteger(value, s.name) : storedText(value);
        }
        if (s.field == &TSettingsForm::efCommentStart)
            setCommentStartText(text);
        else
            (this->*s.field)->setText(text);
    }
    // Not a field of the table: a choice, and a value not known is the
    // default rather than an error.
    const QString encoding = readable ? store.value(QStringLiteral("NewFileEncoding")).toString()
                                      : QString();
    cbNewFileEncoding->setCurrentIndex(
        folio::ui::IsUtf8(folio::ui::EncodingOfName(encoding)) ? 1 : 0);
    LivePreview = !readable || store.value(QStringLiteral("LivePreview"), true).toBool();
    RecentFiles.clear();
    if (readable)
        for (const QString& path : store.value(QStringLiteral("RecentFiles")).toStringList())
            if (!path.isEmpty() && RecentFiles.size() < kMaxRecentFiles && !RecentFiles.contains(path))
                RecentFiles.append(path);
}

void TSettingsForm::StoreSettings() {
    QSettings store(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    for (const Setting& s : kSettings) {
        const QString name = QString::fromLatin1(s.name);
        const QString text = (this->*s.field)->text();
        if (!s.integer) {
            store.setValue(name, text);
        } else if (!text.isEmpty()) {
            // A field that is not a whole number keeps the stored value.
            try {
                store.setValue(name, folio::StrToInt(text.toStdString()));
            } catch (const folio::Error&) {
            }
        }
    }
    store.setValue(QStringLiteral("NewFileEncoding"), cbNewFileEncoding->currentText());
    store.setValue(QStringLiteral("LivePreview"), LivePreview);
    store.setValue(QStringLiteral("RecentFiles"), RecentFiles);
    store.sync();
}

folio::ui::MacroEncoding TSettingsForm::NewFileEncoding() const {
    return folio::ui::EncodingOfName(cbNewFileEncoding->currentText());
}

void TSettingsForm::ResetPageDefaults() {
    for (const Setting& s : kSettings)
        if (s.integer && s.field != &TSettingsForm::efFontSize)
            (this->*s.field)->setText(QString::fromLatin1(s.defaultText));
}

QString TSettingsForm::EngineFamilyName(const QString& family) {
    // Qt names a family that two foundries provide "Family [Foundry]";
    // fontconfig knows only the family, and its foundries' faces are one
    // design.
    static const QRegularExpression foundry(QStringLiteral("^(.+) \\[[^\\]]*\\]$"));
    const QRegularExpressionMatch match = foundry.match(family);
    return match.hasMatch() ? match.captured(1) : family;
}

void TSettingsForm::BitBtn1Click() {
    // The dialog opens on the default font as the engine sets it: the
    // fields' family and size, plain, for the engine's default font is
    // neither bold nor italic. A font made afresh, not the dialog's last
    // choice altered: that one keeps the style chosen then, whatever family
    // the fields name, and the fields never held a style.
    const QFont previous = FontDialog1->currentFont();
    QFont current(previous.family());
    const QString family = efFont->text().trimmed();
    if (!family.isEmpty()) {
        current.setFamily(family);
        // A family the machine lacks opens on the face that stands in for it.
        if (!QFontDatabase::hasFamily(family))
            current.setFamily(QFontInfo(current).family());
    }
    current.setBold(false);
    current.setItalic(false);
    // The dialog finds the style by its name, and the generic name of a
    // plain font ("Normal") is not always one of the family's ("Book",
    // "Roman"): without a match it takes the family's first style, which
    // may be any. The name of the face the plain font resolves to is one.
    const QString plain = QFontInfo(current).styleName();
    if (!plain.isEmpty())
        current.setStyleName(plain);
    bool isNumber = false;
    const int size = efFontSize->text().trimmed().toInt(&isNumber);
    if (isNumber && size > 0 && size <= kMaxDialogPoints)
        current.setPointSize(size);
    else if (previous.pointSize() > 0)
        current.setPointSize(previous.pointSize());
    FontDialog1->setCurrentFont(current);
    if (FontDialog1->exec() != QDialog::Accepted)
        return;
    const QFont font = FontDialog1->selectedFont();
    FontDialog1->setCurrentFont(font);
    int points = font.pointSize();
    if (points <= 0)
        points = qRound(font.pointSizeF());
    efFont->setText(EngineFamilyName(font.family()));
    efFontSize->setText(QString::number(points));
}

std::string TSettingsForm::WidthText() const {
    return efWidth->text().toStdString();
}
std::string TSettingsForm::HeightText() const {
    return efHeight->text().toStdString();
}
std::string TSettingsForm::LeftMarginText() const {
    return efLeftMargin->text().toStdString();
}
std::string TSettingsForm::TopMarginText() const {
    return efTopMargin->text().toStdString();
}
std::string TSettingsForm::FontName() const {
    return efFont->text().toStdString();
}
std::string TSettingsForm::FontSizeText() const {
    return efFontSize->text().toStdString();
}
std::string TSettingsForm::MacroStart() const {
    return folio::ui::ToCp1252(efMacroStart->text()).toStdString();
}
std::string TSettingsForm::CommentStart() const {
    return folio::ui::ToCp1252(efCommentStart->text()).toStdString();
}
