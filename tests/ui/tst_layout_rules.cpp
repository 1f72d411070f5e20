#include "layout_rules.h"

#include <QTest>

using namespace plinket;

using Quad = std::array<int, 4>;
Q_DECLARE_METATYPE(Quad)
Q_DECLARE_METATYPE(plinket::PointerArea)
Q_DECLARE_METATYPE(plinket::RightClickAction)

class TestLayoutRules final : public QObject {
    Q_OBJECT

private slots:
    void anchoring_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QRect>("pane");
        QTest::addColumn<int>("rowY");
        QTest::newRow("creation size") << QSize(455, 200) << QRect(10, 10, 435, 130) << 150;
        QTest::newRow("wider and taller") << QSize(900, 640) << QRect(10, 10, 880, 570) << 590;
        QTest::newRow("taller only") << QSize(455, 201) << QRect(10, 10, 435, 131) << 151;
    }
    void anchoring() {
        QFETCH(QSize, client);
        QFETCH(QRect, pane);
        QFETCH(int, rowY);
        const MainLayout l = anchoredLayout(client);
        QCOMPARE(l.paneSplitter, pane);
        // The bottom row keeps x and size whatever the width.
        QCOMPARE(l.timeoutPanel, QRect(10, rowY, 45, 40));
        QCOMPARE(l.sendButton, QRect(65, rowY, 160, 40));
        QCOMPARE(l.saveTemplateButton, QRect(235, rowY, 160, 40));
        QCOMPARE(l.menuButton, QRect(405, rowY, 40, 40));
    }

    void splitterShare_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("newLength");
        QTest::addColumn<int>("newPosition");
        // Same length back: exact, although 171/431 has no exact binary fraction.
        QTest::newRow("pane, unchanged") << 435 << 260 << 435 << 260;
        QTest::newRow("editor, unchanged") << 130 << 80 << 130 << 80;
        // Second part 171 of 431 → floor(871 * 171 / 431) = 345 at width 875.
        QTest::newRow("pane, wider") << 435 << 260 << 875 << 526;
        QTest::newRow("editor, taller") << 130 << 80 << 430 << 271; // 426 - floor(426 * 46 / 126)
        QTest::newRow("first part empty") << 130 << 0 << 300 << 0;
        QTest::newRow("second part empty") << 130 << 126 << 300 << 296;
        QTest::newRow("position beyond the end clamps") << 130 << 1000 << 300 << 296;
        QTest::newRow("negative position clamps") << 130 << -5 << 300 << 0;
    }
    void splitterShare() {
        QFETCH(int, length);
        QFETCH(int, position);
        QFETCH(int, newLength);
        QFETCH(int, newPosition);
        const SplitterShare share = shareForPosition(length, position, {});
        QCOMPARE(positionForLength(newLength, share), newPosition);
        QCOMPARE(positionForLength(newLength, share) + SPLITTER_HANDLE + secondPartLength(newLength, share), newLength);
    }

    void splitterDefaults() {
        // A new splitter shares one half, the second part getting the floor.
        QCOMPARE(secondPartLength(135, SplitterShare{}), 65);
        QCOMPARE(positionForLength(135, SplitterShare{}), 66);
        // Too short to read a proportion from: the previous share stays.
        const SplitterShare before = shareForPosition(104, 30, {});
        const SplitterShare after = shareForPosition(3, 1, before);
        QCOMPARE(after.numerator, before.numerator);
        QCOMPARE(after.denominator, before.denominator);
        QCOMPARE(positionForLength(2, before), 0);
    }

    void dottedQuad_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Quad>("numbers");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("plain") << u"192.168.0.255"_qs << Quad{192, 168, 0, 255} << u"192.168.0.255"_qs;
        QTest::newRow("empty") << QString() << Quad{0, 0, 0, 0} << u"0.0.0.0"_qs;
        QTest::newRow("leading zeros") << u"010.001.000.7"_qs << Quad{10, 1, 0, 7} << u"10.1.0.7"_qs;
        QTest::newRow("missing fields") << u"10.2"_qs << Quad{10, 2, 0, 0} << u"10.2.0.0"_qs;
        QTest::newRow("trailing junk") << u"10x.2 .3.4abc"_qs << Quad{10, 2, 3, 4} << u"10.2.3.4"_qs;
        QTest::newRow("not numbers") << u"a.b.-1.+2"_qs << Quad{0, 0, 0, 0} << u"0.0.0.0"_qs;
        QTest::newRow("too large") << u"300.99999999999.255.256"_qs << Quad{255, 255, 255, 255}
                                   << u"255.255.255.255"_qs;
        QTest::newRow("fifth field ignored") << u"1.2.3.4.5"_qs << Quad{1, 2, 3, 4} << u"1.2.3.4"_qs;
    }
    void dottedQuad() {
        QFETCH(QString, text);
        QFETCH(Quad, numbers);
        QFETCH(QString, canonical);
        QCOMPARE(parseDottedQuad(text), numbers);
        QCOMPARE(formatDottedQuad(numbers), canonical);
    }

    void rightClick_data() {
        QTest::addColumn<PointerArea>("pressed");
        QTest::addColumn<PointerArea>("released");
        QTest::addColumn<RightClickAction>("action");
        QTest::addColumn<bool>("selectOnPress");
        QTest::addColumn<bool>("selectOnRelease");
        using A = PointerArea;
        using R = RightClickAction;
        QTest::newRow("editor") << A::Editor << A::Editor << R::EditorMenu << false << false;
        QTest::newRow("editor to list") << A::Editor << A::TemplateList << R::TemplateMenu << false << true;
        QTest::newRow("editor to elsewhere") << A::Editor << A::Elsewhere << R::None << false << false;
        QTest::newRow("list") << A::TemplateList << A::TemplateList << R::TemplateMenu << true << false;
        QTest::newRow("list to editor") << A::TemplateList << A::Editor << R::None << true << false;
        QTest::newRow("elsewhere to list") << A::Elsewhere << A::TemplateList << R::None << false << false;
        QTest::newRow("elsewhere to editor") << A::Elsewhere << A::Editor << R::None << false << false;
    }
    void rightClick() {
        QFETCH(PointerArea, pressed);
        QFETCH(PointerArea, released);
        QFETCH(RightClickAction, action);
        QFETCH(bool, selectOnPress);
        QFETCH(bool, selectOnRelease);
        QCOMPARE(rightClickAction(pressed, released), action);
        QCOMPARE(selectsTemplateOnPress(pressed), selectOnPress);
        QCOMPARE(selectsTemplateOnRelease(pressed, released), selectOnRelease);
    }
};

QTEST_APPLESS_MAIN(TestLayoutRules)
#include "tst_layout_rules.moc"
