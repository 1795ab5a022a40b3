#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class HelpHost;
class QShortcut;

// Binds the help key to the window's help and tags every control with the name of its help page.
class HelpContent : public QObject
{
    Q_OBJECT

public:
    // One help page and the object names of the controls it explains.
    struct PageControls
    {
        QString page;
        QStringList controls;
    };

    explicit HelpContent(HelpHost* window);
    ~HelpContent() override;

    // Every help page with its controls, in the order the controls are tagged.
    static const QList<PageControls>& pages();

    // Names of the table's controls that the window does not have.
    static QStringList missingControls(const QObject* window);

private:
    QPointer<QShortcut> shortcut;
    QPointer<QShortcut> whatsThisShortcut;
};
