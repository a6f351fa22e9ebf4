#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTest>

#include "app/look/look.h"
#include "app/look/symbols.h"

using namespace taskbell::app;

class LookTest : public QObject
{
    Q_OBJECT
private slots:
    void everySymbolOfTheInterfaceHasAnIcon()
    {
        const QStringList names = QString("checklist gearshape plus.circle.fill arrow.clockwise arrow.down.circle.fill "
                                          "tray circle.dashed checkmark.circle checkmark.circle.fill "
                                          "circle.lefthalf.filled circle link.badge.plus exclamationmark.triangle.fill "
                                          "text.magnifyingglass checkmark doc.on.doc doc.on.doc.fill safari "
                                          "chevron.down calendar")
                                      .split(' ');
        for (const QString& name : names) {
            QVERIFY2(look::hasSymbol(name), qPrintable(name));
            QVERIFY2(QFile::exists(look::symbolFile(name)), qPrintable(name));
            QImage image = look::symbolPixmap(name, look::green(), 24, 2.0).toImage();
            QCOMPARE(image.size(), QSize(48, 48));
            QVERIFY2(countTinted(image, look::green()) > 20, qPrintable(name));
        }
        QVERIFY(!look::hasSymbol("no.such.symbol"));
        QVERIFY(look::symbolFile("no.such.symbol").isEmpty());
    }

    void filledSymbolsCutTheirMarksOutOfTheTint()
    {
        QColor knockout(10, 20, 30);
        QImage filled = look::symbolPixmap("plus.circle.fill", look::blue(), 48, 1.0, knockout).toImage();
        QImage outline = look::symbolPixmap("circle.dashed", look::blue(), 48, 1.0, knockout).toImage();
        QVERIFY(countTinted(filled, look::blue()) > 3 * countTinted(outline, look::blue()));
        QVERIFY(countTinted(filled, knockout) > 20);
    }

    void fontRolesFollowTheApplicationFont()
    {
        struct Case
        {
            qreal base;
            look::FontRole role;
            qreal expected;
        };
        const Case cases[] = {
            {10, look::FontRole::Headline, 10},   {10, look::FontRole::Callout, 10},
            {10, look::FontRole::Subheadline, 9}, {10, look::FontRole::Caption, 8},
            {10, look::FontRole::Caption2, 7},    {9, look::FontRole::Caption, 8},
            {9, look::FontRole::Caption2, 7},     {14, look::FontRole::Caption2, 11},
        };
        QFont saved = QApplication::font();
        for (const Case& test : cases) {
            QFont base = saved;
            base.setPointSizeF(test.base);
            QApplication::setFont(base);
            QCOMPARE(look::font(test.role).pointSizeF(), test.expected);
            QCOMPARE(look::font(test.role).bold(), test.role == look::FontRole::Headline);
            QCOMPARE(look::monospacedFont(test.role).pointSizeF(), test.expected);
        }
        QApplication::setFont(saved);
    }

    void secondaryColourFallsBackToFadedText()
    {
        QPalette palette;
        palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
        palette.setColor(QPalette::PlaceholderText, QColor(0, 0, 0));
        QCOMPARE(look::secondary(palette).alpha(), 153);
        palette.setColor(QPalette::PlaceholderText, QColor(120, 120, 120));
        QCOMPARE(look::secondary(palette), QColor(120, 120, 120));
    }

private:
    static int countTinted(const QImage& image, const QColor& colour)
    {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() > 200 && qAbs(pixel.red() - colour.red()) < 8 &&
                    qAbs(pixel.green() - colour.green()) < 8 && qAbs(pixel.blue() - colour.blue()) < 8) {
                    ++count;
                }
            }
        }
        return count;
    }
};

QTEST_MAIN(LookTest)
#include "look_test.moc"
