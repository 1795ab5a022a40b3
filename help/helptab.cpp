#include "helptab.h"

#include "helpbrowser.h"
#include "helpfiles.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>

HelpTab HelpTab::build(QWidget* tab, const QString& collectionPath, QObject* engineParent)
{
    HelpTab parts;
    parts.helpEngine = new QHelpEngine(QFileInfo(collectionPath).absoluteFilePath(), engineParent);
    parts.helpEngine->setupData();
    // A missing or unreadable collection only leaves the help empty; nobody is told.
    (void)parts.helpEngine->error();

    parts.helpContentWidget = parts.helpEngine->contentWidget();
    parts.helpContentWidget->setObjectName(QStringLiteral("helpContentWidget"));
    parts.helpContentWidget->setFont(QFont(QStringLiteral("Arial"), 10));
    parts.helpContentWidget->setMinimumSize(0, 0);
    parts.helpContentWidget->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    parts.helpContentWidget->setAccessibleName(QStringLiteral("Help contents"));

    parts.helpBrowser = new HelpBrowser(parts.helpEngine, tab);
    parts.helpBrowser->setObjectName(QStringLiteral("helpBrowser"));
    parts.helpBrowser->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    parts.helpBrowser->setAccessibleName(QStringLiteral("Help page"));
    // As the help page of the help tab puts it.
    const QString description = QStringLiteral(
        "The Help tab shows the table of contents on the left and the selected page on the right.");
    parts.helpContentWidget->setAccessibleDescription(description);
    parts.helpBrowser->setAccessibleDescription(description);

    auto* layout = qobject_cast<QBoxLayout*>(tab->layout());
    if (layout)
        layout->setDirection(QBoxLayout::LeftToRight);
    else if (!tab->layout())
        layout = new QHBoxLayout(tab);
    if (layout) {
        layout->addWidget(parts.helpContentWidget);
        layout->addWidget(parts.helpBrowser);
    } else {
        tab->layout()->addWidget(parts.helpContentWidget);
        tab->layout()->addWidget(parts.helpBrowser);
    }

    QHelpContentWidget* tree = parts.helpContentWidget;
    QObject::connect(tree, &QHelpContentWidget::linkActivated, parts.helpBrowser,
                     &HelpBrowser::setSource);
    // One click opens an entry, as on a web page; the tree alone would want two.
    QObject::connect(tree, &QHelpContentWidget::clicked, tree,
                     [tree](const QModelIndex& index) { emit tree->activated(index); });
    // The contents are read in the background; once there, show the chapters under the start
    // page rather than one closed entry, and the start page rather than an empty one.
    QObject::connect(parts.helpEngine->contentModel(), &QHelpContentModel::contentsCreated, tree,
                     [parts] {
                         parts.helpContentWidget->expandToDepth(0);
                         if (parts.helpBrowser->source().isEmpty())
                             parts.showPage(HelpFiles::startPage());
                     });
    return parts;
}

void HelpTab::showPage(const QUrl& url) const
{
    if (!helpContentWidget || !helpBrowser)
        return;
    const QModelIndex index = helpContentWidget->indexOf(url);
    if (!index.isValid()) {
        helpBrowser->setSource(url);
        return;
    }
    helpContentWidget->setCurrentIndex(index);
    helpContentWidget->expand(index);
    helpContentWidget->scrollTo(index);
    emit helpContentWidget->activated(index);
}
