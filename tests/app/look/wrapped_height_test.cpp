#include <QApplication>
#include <QTest>

#include "app/data_tables.h"
#include "app/look/wrapped_height.h"

using namespace taskbell;
using namespace taskbell::app;

// The fast answers must be the laid-out ones to the pixel: a row one line too short cuts its summary.
class WrappedHeightTest : public QObject
{
    Q_OBJECT
private slots:
    void answersAsTheLayoutDoesAtEveryWidth()
    {
        // Besides the table's texts: long words and a long run of short ones.
        QStringList texts{QString(400, QChar('m')).replace(7, 1, ' ').replace(90, 1, ' '),
                          QString("word ").repeated(80)};
        for (const Json& text : test::dataRows("app/look.json", "wrapped texts")) {
            texts << test::text(text);
        }
        for (const QFont& font :
             {QFont(), QFont(QStringLiteral("DejaVu Sans"), 9), QFont(QStringLiteral("Serif"), 13)}) {
            look::WrappedHeight measure(font);
            QFontMetrics metrics(font);
            const int limit = metrics.lineSpacing() * 3 + 1;
            for (int width = 1; width <= 700; width += 7) {
                for (const QString& text : texts) {
                    int laidOut = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text).height();
                    QCOMPARE(measure(text, width), laidOut);
                    QCOMPARE(measure(text, width, limit), std::min(laidOut, limit));
                }
            }
        }
    }
};

QTEST_MAIN(WrappedHeightTest)
#include "wrapped_height_test.moc"
