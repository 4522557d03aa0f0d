// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The settings dialog and its store: defaults on a first start, the round
// trip of all eight values through a temporary store, values missing or of
// the wrong type, empty fields, the comment prefix's length limit, the font
// button and the face its dialog opens on, the labels' access keys, and the
// text the engine reads from the fields.
#include "DesktopTestSupport.h"

#include "Error.h"
#include "TSettingsForm.h"

#include "FontLibrary.h"

#include <fontconfig/fontconfig.h>

#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <memory>
#include <string>

using namespace desktoptest;

namespace {

using Values = QMap<QString, QString>;

const QStringList kNames{"ImageWidth",   "ImageHeight", "LeftMargin",  "TopMargin",
                         "CommentStart", "MacroStart",  "DefaultFont", "DefaultFontSize"};

QStringList fields(const TSettingsForm& f) {
    return {f.efWidth->text(),     f.efHeight->text(),       f.efLeftMargin->text(),
            f.efTopMargin->text(), f.efCommentStart->text(), f.efMacroStart->text(),
            f.efFont->text(),      f.efFontSize->text()};
}

void setFields(TSettingsForm& f, const QStringList& v) {
    QLineEdit* edits[] = {f.efWidth,        f.efHeight,     f.efLeftMargin, f.efTopMargin,
                          f.efCommentStart, f.efMacroStart, f.efFont,       f.efFontSize};
    for (int i = 0; i < 8; ++i) {
        edits[i]->setMaxLength(32767);
        edits[i]->setText(v[i]);
    }
}

// Every family name fontconfig records for a font file.
QStringList familiesOf(const std::string& file) {
    QStringList names;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(file.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    if (FcFontSet* set = FcFontList(nullptr, pattern, objects)) {
        for (int i = 0; i < set->nfont; ++i) {
            FcChar8* name = nullptr;
            for (int n = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, n, &name) == FcResultMatch;
                 ++n)
                names.append(QString::fromUtf8(reinterpret_cast<const char*>(name)));
        }
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return names;
}

QStringList stored() {
    QSettings s(QStringLiteral("Tessaly"), QStringLiteral("Folioset"));
    QStringList values;
    for (const QString& name : kNames)
        values.append(s.contains(name) ? s.value(name).toString() : QStringLiteral("<missing>"));
    return values;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<TempSettings> store_;

  private slots:
    void init() { store_ = std::make_unique<TempSettings>(); }
    void cleanup() { store_.reset(); }

    void firstStartShowsDefaultsAndStoresAllEight() {
        const QStringList defaults{"1728", "2200", "100", "100", "#", ":FAX:", "Arial", "10"};
        {
            TSettingsForm form;
            QCOMPARE(fields(form), defaults);
            QCOMPARE(form.windowTitle(), QStringLiteral("Brackwell Folioset Settings"));
        }
        QCOMPARE(stored(), defaults);
    }

    void valuesRoundTrip_data() {
        QTest::addColumn<QStringList>("values");
        QTest::newRow("ordinary") << QStringList{
            "2000", "3000", "50", "75", "%", "@CONVERT:", "Times New Roman", "12"};
        QTest::newRow("negative and zero")
            << QStringList{"-5", "0", "-2147483648", "2147483647", ";", "#", "Courier New", "0"};
        QTest::newRow("text that looks like markup")
            << QStringList{"1", "2", "3", "4", "\"", "@Variant(x)", "a, b", "7"};
        QTest::newRow("empty prefix, non-ASCII font")
            << QStringList{"1728", "2200", "100", "100", "\u00A7", "", "Fran\u00E7ais \u20AC", "9"};
    }
    void valuesRoundTrip() {
        QFETCH(QStringList, values);
        {
            TSettingsForm form;
            setFields(form, values);
        }
        TSettingsForm again;
        QCOMPARE(fields(again), values);
    }

    // The command window's choices, as another program (or a hand) left them.
    void commandWindowChoicesLoad_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<bool>("preview");
        QTest::addColumn<QStringList>("recent");
        QTest::newRow("none stored") << QByteArray() << false << true << QStringList{};
        QTest::newRow("UTF-8 in any case, preview off")
            << QByteArray("NewFileEncoding=utf-8\nLivePreview=false") << true << false
            << QStringList{};
        QTest::newRow("an encoding not known")
            << QByteArray("NewFileEncoding=UTF-16") << false << true << QStringList{};
        QTest::newRow("recent: repeats and empties dropped, five kept")
            << QByteArray("RecentFiles=/a, /b, /a, , /c, /d, /e, /f") << false << true
            << QStringList{"/a", "/b", "/c", "/d", "/e"};
    }
    void commandWindowChoicesLoad() {
        QFETCH(QByteArray, lines);
        QFETCH(bool, utf8);
        QFETCH(bool, preview);
        QFETCH(QStringList, recent);
        store_->WriteRaw("[General]\n" + lines + "\n");
        {
            TSettingsForm form;
            QCOMPARE(folio::ui::IsUtf8(form.NewFileEncoding()), utf8);
            QCOMPARE(form.LivePreview, preview);
            QCOMPARE(form.RecentFiles, recent);
        }
        TSettingsForm again; // and stored back as read
        QCOMPARE(folio::ui::IsUtf8(again.NewFileEncoding()), utf8);
        QCOMPARE(again.LivePreview, preview);
        QCOMPARE(again.RecentFiles, recent);
    }

    void missingValueTakesItsDefault() {
        store_->WriteRaw("[General]\nImageHeight=3000\nMacroStart=!!\n");
        TSettingsForm form;
        QCOMPARE(fields(form),
                 (QStringList{"1728", "3000", "100", "100", "#", "!!", "Arial", "10"}));
    }

    void integerOfWrongTypeFailsTheLoad_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("name");
        QTest::newRow("letters") << QByteArray("ImageWidth=wide") << "ImageWidth";
        QTest::newRow("fraction") << QByteArray("TopMargin=1.5") << "TopMargin";
        QTest::newRow("beyond 32 bits")
            << QByteArray("DefaultFontSize=99999999999") << "DefaultFontSize";
        QTest::newRow("empty") << QByteArray("LeftMargin=") << "LeftMargin";
        QTest::newRow("list") << QByteArray("ImageHeight=1, 2") << "ImageHeight";
    }
    void integerOfWrongTypeFailsTheLoad() {
        QFETCH(QByteArray, line);
        QFETCH(QString, name);
        store_->WriteRaw("[General]\n" + line + "\n");
        try {
            TSettingsForm form;
            QFAIL("the load should have failed");
        } catch (const folio::Error& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains("'" + name + "'"), e.what());
        }
    }

    void blanksAroundAStoredIntegerAreAccepted() {
        store_->WriteRaw("[General]\nImageWidth=\" 2048 \"\n");
        TSettingsForm form;
        QCOMPARE(form.efWidth->text(), QStringLiteral("2048"));
    }

    void unusableIntegerFieldKeepsTheStoredValue() {
        store_->WriteRaw("[General]\nImageWidth=2000\nImageHeight=3000\nTopMargin=5\n");
        {
            TSettingsForm form;
            form.efWidth->clear();
            form.efHeight->setText("tall");
            form.efTopMargin->setText("6"); // after the failing ones: still stored
        }
        const QStringList values = stored();
        QCOMPARE(values[0], QStringLiteral("2000"));
        QCOMPARE(values[1], QStringLiteral("3000"));
        QCOMPARE(values[3], QStringLiteral("6"));
    }

    void commentPrefixLimitAppliesToTypingOnly() {
        store_->WriteRaw("[General]\nCommentStart=REM\n");
        TSettingsForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.efCommentStart->text(), QStringLiteral("REM"));
        form.efCommentStart->setFocus();
        form.efCommentStart->end(false);
        QTest::keyClicks(form.efCommentStart, "X");
        QCOMPARE(form.efCommentStart->text(), QStringLiteral("REM"));
        form.efCommentStart->selectAll();
        QTest::keyClicks(form.efCommentStart, "ab");
        QCOMPARE(form.efCommentStart->text(), QStringLiteral("a"));
    }

    void fontButtonFillsNameAndSize() {
        TSettingsForm form;
        {
            ModalScript script;
            script.Then([](QWidget* w) {
                auto* dialog = qobject_cast<QFontDialog*>(w);
                if (!dialog)
                    return false;
                dialog->reject();
                return true;
            });
            form.BitBtn1->click();
            QVERIFY(script.Done());
        }
        QCOMPARE(form.efFont->text(), QStringLiteral("Arial"));
        QCOMPARE(form.efFontSize->text(), QStringLiteral("10"));

        QString family;
        {
            ModalScript script;
            script.Then([&family](QWidget* w) {
                auto* dialog = qobject_cast<QFontDialog*>(w);
                if (!dialog)
                    return false;
                QFont font(QStringLiteral("DejaVu Serif"), 14);
                font.setBold(true);
                font.setItalic(true);
                dialog->setCurrentFont(font);
                family = dialog->currentFont().family();
                dialog->accept();
                return true;
            });
            form.BitBtn1->click();
            QVERIFY(script.Done());
        }
        QCOMPARE(form.efFont->text(), family);
        QCOMPARE(form.efFontSize->text(), QStringLiteral("14"));
        // It opens again on that family and size, plain as the engine sets
        // the default font: the fields hold no style.
        QFont opened;
        ModalScript script;
        script.Then([&opened](QWidget* w) {
            auto* dialog = qobject_cast<QFontDialog*>(w);
            if (!dialog)
                return false;
            opened = dialog->currentFont();
            dialog->reject();
            return true;
        });
        form.BitBtn1->click();
        QVERIFY(opened.family() == family && opened.pointSize() == 14);
        QVERIFY(!opened.bold() && !opened.italic());
    }

    // The dialog opened on its own first font, and a family from two
    // foundries came back as "C059 [UKWN]", which the engine could not find.
    void fontDialogOpensOnTheFieldsAndStoresNamesTheEngineFinds() {
        TSettingsForm form;
        form.efFont->setText("Liberation Serif");
        form.efFontSize->setText("17");
        QStringList offered;
        QFont opened;
        {
            ModalScript script;
            script.Then([&](QWidget* w) {
                auto* dialog = qobject_cast<QFontDialog*>(w);
                if (!dialog)
                    return false;
                offered = QFontDatabase::families();
                opened = dialog->currentFont();
                dialog->reject();
                return true;
            });
            form.BitBtn1->click();
            QVERIFY(script.Done());
        }
        QCOMPARE(opened.family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(opened.pointSize(), 17);
        QVERIFY(!offered.isEmpty());
        for (const QString& family : offered) {
            ModalScript script;
            script.Then([&](QWidget* w) {
                auto* dialog = qobject_cast<QFontDialog*>(w);
                if (!dialog)
                    return false;
                dialog->setCurrentFont(QFont(family, 12));
                dialog->accept();
                return true;
            });
            form.BitBtn1->click();
            QVERIFY(script.Done());
            // The face Qt shows for the family, and the one the engine finds
            // for the stored name.
            const QString shown =
                TSettingsForm::EngineFamilyName(QFontInfo(QFont(family)).family());
            const std::string file =
                folio::AcquireTypeface(form.efFont->text().toStdString(), 24, false, false)->File();
            QVERIFY2(familiesOf(file).contains(shown),
                     qPrintable(family + " stored as " + form.efFont->text() + " finds " +
                                QString::fromStdString(file)));
        }
    }

    // Alt and a label's underlined letter reach its field; no two access
    // keys of the dialog's window, OK and Cancel included, are the same (the
    // font dialog it owns is a window with keys of its own).
    void accessKeysReachTheirFields() {
        TSettingsForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QList<QKeySequence> keys;
        for (const QWidget* w : form.findChildren<QWidget*>()) {
            if (auto* l = qobject_cast<const QLabel*>(w); l && w->window() == &form)
                keys << QKeySequence::mnemonic(l->text());
            if (auto* b = qobject_cast<const QAbstractButton*>(w); b && w->window() == &form)
                keys << QKeySequence::mnemonic(b->text());
        }
        for (const QLabel* label : form.findChildren<QLabel*>()) {
            if (label->window() != &form)
                continue;
            const QKeySequence key = QKeySequence::mnemonic(label->text());
            QVERIFY2(!key.isEmpty() && keys.count(key) == 1, qPrintable(label->text()));
            form.btnOk->setFocus();
            QTest::keyClick(&form, key[0].key(), Qt::AltModifier);
            QVERIFY2(label->buddy() && QApplication::focusWidget() == label->buddy(),
                     qPrintable(label->text()));
        }
    }

    void okCancelAndEscape() {
        TSettingsForm form;
        form.efLeftMargin->setText("300");
        ModalScript script;
        script.Then([&form](QWidget* w) {
            if (w != &form)
                return false;
            QTest::keyClick(form.efLeftMargin, Qt::Key_Escape); // as Cancel
            return true;
        });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(script.Done() && script.Unexpected().isEmpty());
        // Cancel keeps what was typed: the engine reads it next time.
        QCOMPARE(form.LeftMarginText(), std::string("300"));
    }

    void engineReadsTheFieldsAsTyped() {
        TSettingsForm form;
        form.efMacroStart->setText(QStringLiteral("\u00A7FAX\u20AC"));
        form.efCommentStart->setText(QStringLiteral("\u00B6"));
        form.efFont->setText(QStringLiteral("Fran\u00E7ais"));
        form.efWidth->setText(QStringLiteral(" 12"));
        // The prefixes in code page 1252, like the macro lines they meet.
        QCOMPARE(form.MacroStart(), std::string("\xA7"
                                                "FAX\x80"));
        QCOMPARE(form.CommentStart(), std::string("\xB6"));
        QCOMPARE(form.FontName(), std::string("Fran\xC3\xA7"
                                              "ais"));
        QCOMPARE(form.WidthText(), std::string(" 12")); // unchecked until read
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
