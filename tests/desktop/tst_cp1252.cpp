// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Code page 1252 conversion: every byte survives a round trip, the 0x80 to
// 0x9F range maps to its typographic characters, and what the code page
// cannot hold becomes '?'.
#include "Cp1252.h"

#include <QtTest>

using folio::ui::FromCp1252;
using folio::ui::ToCp1252;

class TestCp1252 : public QObject {
    Q_OBJECT
  private slots:
    void everyByteRoundTrips() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = FromCp1252(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(ToCp1252(text), all);
    }

    void mapping_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QByteArray("FAX: 12") << QStringLiteral("FAX: 12");
        QTest::newRow("euro") << QByteArray("\x80") << QStringLiteral("\u20AC");
        QTest::newRow("quotes") << QByteArray("\x93q\x94") << QStringLiteral("\u201Cq\u201D");
        QTest::newRow("dashes") << QByteArray("\x96\x97") << QStringLiteral("\u2013\u2014");
        QTest::newRow("latin1") << QByteArray("\xA7\xE9\xFF")
                                << QStringLiteral("\u00A7\u00E9\u00FF");
        QTest::newRow("unassigned") << QByteArray("\x81\x8D\x8F\x90\x9D")
                                    << QStringLiteral("\u0081\u008D\u008F\u0090\u009D");
    }
    void mapping() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(FromCp1252(bytes), text);
        QCOMPARE(ToCp1252(text), bytes);
    }

    void unencodableBecomesQuestionMark_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("cyrillic") << QStringLiteral("a\u0416b") << QByteArray("a?b");
        QTest::newRow("astral") << QStringLiteral("x\U0001F600y") << QByteArray("x?y");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
        QTest::newRow("C1 not in table") << QStringLiteral("\u0080") << QByteArray("?");
    }
    void unencodableBecomesQuestionMark() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(ToCp1252(text), bytes);
    }
};

QTEST_APPLESS_MAIN(TestCp1252)
#include "tst_cp1252.moc"
