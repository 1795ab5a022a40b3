#include "formfixture.h"

#include "buttonstyles.h"
#include "styles.h"

#include <QApplication>
#include <QLayout>
#include <QStyleFactory>

void prepareApplicationLook()
{
    Styles::initResources();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    qApp->setStyleSheet(QStringLiteral("* { color: black }"));
}

FormFixture::FormFixture()
{
    ui.setupUi(&dialog);
    for (int i = 800; i <= 1200; ++i)
        ui.comboCalPercent->addItem(QStringLiteral("%1 %").arg(i / 10.0, 0, 'f', 1));
    for (int i = 0; i <= 100; ++i)
        ui.comboContrast->addItem(QString::number(i));
    for (int i = 0; i <= 98; ++i) {
        ui.comboCommAddress->addItem(QString::number(i));
        ui.comboPumpAddress->addItem(QString::number(i));
    }
    ui.comboCommAddress->addItem(QStringLiteral("99"));
    ui.TabsExtendedSettings->removeTab(ui.TabsExtendedSettings->indexOf(ui.TabFactory));
    ui.TabsExtendedSettings->setCurrentWidget(ui.TabAdvanced);
    ui.checkboProtAnswer->setChecked(true);
    applyButtonStyles(ui);

    modeMenu.addAction(QStringLiteral("ml/min"));
    modeMenu.addAction(QStringLiteral("ml"));
    modeMenu.setStyleSheet(Styles::styleMenu);
    ui.buttonMode->setMenu(&modeMenu);
}

void FormFixture::fitToMinimum()
{
    dialog.adjustSize();
    dialog.layout()->activate();
    dialog.resize(dialog.minimumSize());
}

void FormFixture::showCompact()
{
    ui.TabsExtendedSettings->hide();
    ui.buttonAdvanced->setIcon(QIcon(QStringLiteral(":/Images/Images/arrow-37-64.png")));
    fitToMinimum();
}

void FormFixture::showExpanded()
{
    ui.TabsExtendedSettings->show();
    ui.buttonAdvanced->setIcon(QIcon(QStringLiteral(":/Images/Images/arrow-102-64.png")));
    fitToMinimum();
}
