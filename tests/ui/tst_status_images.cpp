#include "status_images.h"

#include <QTest>

using namespace plinket;

class TestStatusImages final : public QObject {
    Q_OBJECT

private slots:
    // Row 2 holds the outer colours across x = 2..7, row 4 the inner ones (x = 2 and 7 stay outer
    // except where a segment's inner rectangle reaches the edge); "." is the background.
    void pixels_data() {
        QTest::addColumn<int>("image");
        QTest::addColumn<QString>("row2");
        QTest::addColumn<QString>("row4");
        // g/G grey outer/inner, o/O orange, n/N green, r/R red
        QTest::newRow("0 no status") << 0 << u"..gggggg.."_qs << u"..gGGGGg.."_qs;
        QTest::newRow("1 delivered") << 1 << u"..oooooo.."_qs << u"..oOOOOo.."_qs;
        QTest::newRow("2 confirmed") << 2 << u"..nnnnnn.."_qs << u"..nNNNNn.."_qs;
        QTest::newRow("4 not delivered") << 4 << u"..rrrrrr.."_qs << u"..rRRRRr.."_qs;
        QTest::newRow("3 delivered and confirmed") << 3 << u"..ooonnn.."_qs << u"..oOONNn.."_qs;
        QTest::newRow("5 not delivered and delivered") << 5 << u"..rrrooo.."_qs << u"..rRROOo.."_qs;
        QTest::newRow("6 not delivered and confirmed") << 6 << u"..rrrnnn.."_qs << u"..rRRNNn.."_qs;
        QTest::newRow("7 all three") << 7 << u"..rroonn.."_qs << u"..RROONN.."_qs;
    }
    void pixels() {
        QFETCH(int, image);
        QFETCH(QString, row2);
        QFETCH(QString, row4);
        const QColor background(236, 233, 216);
        const QHash<QChar, QColor> colours{
            {u'.', background},          {u'g', QColor(192, 192, 192)}, {u'G', QColor(220, 220, 220)},
            {u'o', QColor(255, 165, 0)}, {u'O', QColor(255, 255, 0)},   {u'n', QColor(34, 139, 34)},
            {u'N', QColor(0, 255, 0)},   {u'r', QColor(178, 34, 34)},   {u'R', QColor(255, 0, 0)}};
        const QImage drawn = drawStatusImage(image, background);
        QCOMPARE(drawn.size(), QSize(10, 10));
        QCOMPARE(drawn.depth(), 24);
        for (int x = 0; x < 10; ++x) {
            QCOMPARE(drawn.pixelColor(x, 2), colours.value(row2.at(x)));
            QCOMPARE(drawn.pixelColor(x, 4), colours.value(row4.at(x)));
            // Rows 0, 1, 8 and 9 are background.
            for (const int y : {0, 1, 8, 9})
                QCOMPARE(drawn.pixelColor(x, y), background);
        }
        // Rows 3..6 repeat row 4 and row 7 repeats row 2.
        for (int x = 0; x < 10; ++x) {
            for (const int y : {3, 5, 6})
                QCOMPARE(drawn.pixelColor(x, y), drawn.pixelColor(x, 4));
            QCOMPARE(drawn.pixelColor(x, 7), drawn.pixelColor(x, 2));
        }
    }
};

QTEST_APPLESS_MAIN(TestStatusImages)
#include "tst_status_images.moc"
