// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Which texts are offered the other variant's command prefix: every command
// line in that prefix, text and comments among them; not a text with one
// command in the settings' own prefix, none at all, or the prefix only in
// comments or not at a line's start.
#include "PrefixOffer.h"

#include <QtTest>

class TestPrefixOffer : public QObject {
    Q_OBJECT
  private slots:
    void otherPrefixIsFound_data() {
        QTest::addColumn<QString>("text"); // the lines, joined by \n
        QTest::addColumn<QByteArray>("macroStart");
        QTest::addColumn<QString>("found"); // the prefix and the lines; empty: no offer
        const QByteArray fax = ":FAX:";
        QTest::newRow("all commands other") << "@CONVERT:X=1\nDear reader,\n\n@convert:END" << fax
                                            << "@CONVERT: 0 3";
        QTest::newRow("mixed") << "@CONVERT:X=1\ntext\n:fax:END" << fax << "";
        QTest::newRow("none") << "Dear reader,\n\nYours" << fax << "";
        QTest::newRow("comment lines") << "# @CONVERT:X=1\n@CONVERT:Y=1\n#:FAX:Y=2" << fax
                                       << "@CONVERT: 1";
        QTest::newRow("only in comments") << "#@CONVERT:X=1\ntext" << fax << "";
        QTest::newRow("not at the start") << " @CONVERT:X=1\n\t@CONVERT:Y=2" << fax << "";
        QTest::newRow("the program's under the library's")
            << ":FAX:FONT\ntext\n:Fax:END" << QByteArray("@CONVERT:") << ":FAX: 0 2";
        QTest::newRow("empty prefix: all commands") << "@CONVERT:X=1" << QByteArray() << "";
        QTest::newRow("own prefix: the more used") << ":FAX:X=1\n@CONVERT:Y=1\n@CONVERT:Y=2"
                                                   << QByteArray("!!") << "@CONVERT: 1 2";
        QTest::newRow("only ASCII folded, as in the engine")
            << "\u00E9:X=1\n@CONVERT:Y=1" << QByteArray("\xC9:") << "@CONVERT: 1";
    }
    void otherPrefixIsFound() {
        QFETCH(QString, text);
        QFETCH(QByteArray, macroStart);
        QFETCH(QString, found);
        const auto other = folio::ui::FindOtherPrefix(text.split('\n'), macroStart, "#");
        QStringList got{other.prefix};
        for (const int line : other.lines)
            got << QString::number(line);
        QCOMPARE(got.join(' ').trimmed(), found);
    }
};

QTEST_MAIN(TestPrefixOffer)
#include "tst_prefix_offer.moc"
