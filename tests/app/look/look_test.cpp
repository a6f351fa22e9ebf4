#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTest>

#include "app/data_tables.h"
#include "app/look/look.h"
#include "app/look/symbols.h"

using namespace taskbell;
using namespace taskbell::app;

class LookTest : public QObject
{
    Q_OBJECT
private slots:
    void everySymbolOfTheInterfaceHasAnIcon()
    {
        for (const Json& row : test::dataRows("app/look.json", "symbols")) {
            const QString name = test::text(row);
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
        const QStringList roles = {"Headline", "Callout", "Subheadline", "Caption", "Caption2"}; // in their order
        QFont saved = QApplication::font();
        for (const Json& row : test::dataRows("app/look.json", "font roles")) {
            QFont base = saved;
            base.setPointSizeF(row[0].get<qreal>());
            QApplication::setFont(base);
            const auto role = look::FontRole(roles.indexOf(test::text(row[1])));
            QCOMPARE(look::font(role).pointSizeF(), row[2].get<qreal>());
            QCOMPARE(look::font(role).bold(), role == look::FontRole::Headline);
            QCOMPARE(look::monospacedFont(role).pointSizeF(), row[2].get<qreal>());
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
                count += pixel.alpha() > 200 && qAbs(pixel.red() - colour.red()) < 8 &&
                         qAbs(pixel.green() - colour.green()) < 8 && qAbs(pixel.blue() - colour.blue()) < 8;
            }
        }
        return count;
    }
};

QTEST_MAIN(LookTest)
#include "look_test.moc"
