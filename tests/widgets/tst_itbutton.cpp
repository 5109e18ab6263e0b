#include "widgets/ITButton.h"
#include "TestPatience.h"

#include <QImage>
#include <QtTest>

using QKvWidget::ITButton;

namespace {

const QString offIcon = QStringLiteral(":/Thermography/Resources/icon_closevoice.png");
const QString onIcon = QStringLiteral(":/Thermography/Resources/icon_openvoice.png");

ITButton::ColorSet toolColours()
{
    return { QColor("#1CAFE9"), QColor("#2EB4E9"), QColor("#1BA7DE"), QColor("#1CAFE9"), QColor("#FFFFFF"), QColor() };
}

} // namespace

class ITButtonTest : public QObject {
    Q_OBJECT

private slots:
    void iconsAreChosenByIndex()
    {
        ITButton button;
        QCOMPARE(button.iconIndex(), -1);
        QVERIFY(!button.setIconIndex(0));

        QVERIFY(!button.addIcon(QStringLiteral(":/Thermography/Resources/no_such_icon.png")));
        QCOMPARE(button.iconCount(), 0);
        QCOMPARE(button.iconIndex(), -1);

        QVERIFY(button.addIcon(offIcon));
        QCOMPARE(button.iconIndex(), 0); // the first icon becomes current
        QVERIFY(button.addIcon(onIcon));
        QCOMPARE(button.iconIndex(), 0); // later ones do not
        QCOMPARE(button.iconCount(), 2);

        QVERIFY(button.setIconIndex(1));
        QCOMPARE(button.iconIndex(), 1);
        QVERIFY(!button.setIconIndex(2));
        QVERIFY(!button.setIconIndex(-1));
        QCOMPARE(button.iconIndex(), 1);
    }

    void boxColourFollowsTheStateLevels()
    {
        ITButton button;
        button.setColorSet(toolColours());
        QCOMPARE(button.currentBoxColor(), QColor("#1CAFE9"));
        button.setHoverLevel(1.0);
        QCOMPARE(button.currentBoxColor(), QColor("#2EB4E9"));
        button.setPressLevel(1.0);
        QCOMPARE(button.currentBoxColor(), QColor("#1BA7DE"));
        button.setPressLevel(0.0);
        button.setHoverLevel(0.0);
        button.setDisabledLevel(1.0);
        QCOMPARE(button.currentBoxColor(), QColor("#1CAFE9"));
        // Levels are fractions; out-of-range writes are clamped, not extrapolated.
        button.setHoverLevel(3.0);
        QCOMPARE(button.hoverLevel(), 1.0);
        button.setDisabledLevel(0.0);
        button.setHoverLevel(0.5);
        const QColor half = button.currentBoxColor();
        QVERIFY(half.green() > 0xAF && half.green() < 0xB4);
    }

    void convenienceSetterKeepsEveryColour()
    {
        ITButton button;
        button.setColorSet(
            QColor("#101010"), QColor("#202020"), QColor("#303030"), QColor("#404040"), QColor("#FFFFFF"));
        const ITButton::ColorSet& set = button.colorSet();
        QCOMPARE(set.normal, QColor("#101010"));
        QCOMPARE(set.hover, QColor("#202020"));
        QCOMPARE(set.pressed, QColor("#303030"));
        QCOMPARE(set.disabled, QColor("#404040"));
        QCOMPARE(set.text, QColor("#FFFFFF"));
        QVERIFY(!set.border.isValid());
    }

    void statesAnimateThroughProperties()
    {
        ITButton button;
        button.setColorSet(toolColours());
        button.resize(120, 40);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&button, &enter);
        QTRY_COMPARE_WITH_TIMEOUT(button.hoverLevel(), 1.0, patient(2000));
        QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(60, 20));
        QTRY_COMPARE_WITH_TIMEOUT(button.pressLevel(), 1.0, patient(2000));
        QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(60, 20));
        QTRY_COMPARE_WITH_TIMEOUT(button.pressLevel(), 0.0, patient(2000));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&button, &leave);
        QTRY_COMPARE_WITH_TIMEOUT(button.hoverLevel(), 0.0, patient(2000));

        button.setEnabled(false);
        QTRY_COMPARE_WITH_TIMEOUT(button.disabledLevel(), 1.0, patient(2000));
        button.setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(button.disabledLevel(), 0.0, patient(2000));
    }

    void paintsARoundedBoxInTheNormalColour()
    {
        ITButton button;
        button.setColorSet(toolColours());
        button.setRadius(6);
        button.addIcon(offIcon);
        button.resize(100, 40);
        const QImage picture = button.grab().toImage();
        const QColor normal("#1CAFE9");
        // A point on the box away from the icon carries the normal colour.
        QCOMPARE(picture.pixelColor(4, 20).rgb(), normal.rgb());
        // The rounded corner leaves the very corner pixel unpainted.
        QVERIFY(picture.pixelColor(0, 0).rgb() != normal.rgb());

        button.setRadius(0);
        const QImage square = button.grab().toImage();
        QCOMPARE(square.pixelColor(1, 1).rgb(), normal.rgb());
    }
};

QTEST_MAIN(ITButtonTest)
#include "tst_itbutton.moc"
