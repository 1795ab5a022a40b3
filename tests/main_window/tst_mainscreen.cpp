// The window's look: every style sheet parses on every tab, the window fits a small laptop
// screen compact and expanded, and every picture of the resources loads.
#include "styles.h"
#include "windowrig.h"

#include <QDir>
#include <QImageReader>
#include <QRegularExpression>

class TestMainScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Styles::initResources(); }
    void init()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("style ?sheet"), QRegularExpression::CaseInsensitiveOption));
    }

    void styleSheetsParseOnEveryTab()
    {
        WindowRig rig(WindowRig::withoutPump());
        rig.window->show();
        rig.ui().buttonAdvanced->click();
        QTabWidget* tabs = rig.ui().TabsExtendedSettings;
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QVERIFY(!rig.window->grab().isNull());
        }
        // The factory tab is only there with the service key, yet its sheets must parse too.
        QVERIFY(!rig.ui().TabFactory->grab().isNull());
        rig.ui().comboCalPercent->showPopup();
        QVERIFY(!rig.window->grab().isNull());
    }

    void fitsASmallLaptopScreen()
    {
        WindowRig rig(WindowRig::withoutPump());
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        for (const bool expanded : {false, true}) {
            if (expanded)
                rig.ui().buttonAdvanced->click();
            QTest::qWait(0);
            const QSize size = rig.window->size().expandedTo(rig.window->minimumSizeHint());
            QVERIFY2(size.width() <= 1366 && size.height() <= 720,
                     qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
            QCOMPARE(rig.ui().TabsExtendedSettings->isVisible(), expanded);
            QVERIFY(rig.ui().buttonAdvanced->isVisible());
        }
    }

    void everyPictureLoads()
    {
        const QStringList files = QDir(QStringLiteral(":/Images/Images")).entryList(QDir::Files);
        QVERIFY(files.size() > 10);
        for (const QString& file : files) {
            QImageReader reader(QStringLiteral(":/Images/Images/") + file);
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(file + u' ' + reader.errorString()));
            if (file.endsWith(QLatin1String(".ico")))
                QVERIFY2(reader.imageCount() > 1, qPrintable(file));
        }
    }
};

QTEST_MAIN(TestMainScreen)
#include "tst_mainscreen.moc"
