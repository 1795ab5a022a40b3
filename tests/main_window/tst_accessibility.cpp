// What a screen reader finds in the real window: every control a user can operate says what it
// is, and a control with a help page is described by that page's first sentence.
#include "helpcontent.h"
#include "helpfiles.h"
#include "windowrig.h"

#include <QAccessible>
#include <QHelpContentWidget>
#include <QHelpEngineCore>
#include <QRegularExpression>
#include <QSet>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QWhatsThis>

namespace {

bool isControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::PageTab:
    case QAccessible::List:
    case QAccessible::Tree:
        return true;
    default:
        return false;
    }
}

// A control speaks for its parts (a combo box's list, a text field's scroll bars).
void collectControls(QAccessibleInterface* node, QList<QAccessibleInterface*>& controls)
{
    if (isControl(node->role())) {
        controls << node;
        return;
    }
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i))
            collectControls(child, controls);
    }
}

// The first sentence of a page's first plain paragraph (the navigation line and notes have a class).
QString firstSentence(const QByteArray& page)
{
    const QRegularExpression paragraph(QStringLiteral("<p>(.*?)</p>"),
                                       QRegularExpression::DotMatchesEverythingOption);
    const QString html = paragraph.match(QString::fromUtf8(page)).captured(1);
    const QString text = QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
    const QRegularExpressionMatch sentence =
        QRegularExpression(QStringLiteral("^(.*?[.!?])(\\s|$)")).match(text);
    return sentence.hasMatch() ? sentence.captured(1) : text;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void everyControlIsNamedAndDescribed();
    void helpOpensOnItsStartPageAndAtOneClick();
};

void TestAccessibility::everyControlIsNamedAndDescribed()
{
    QHelpEngineCore help(QStringLiteral(DOSEDESK_HELP_COLLECTION));
    QVERIFY(help.setupData());
    WindowRig rig(WindowRig::withoutPump());
    HelpContent pages(rig.window.get());
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    // The settings open as a user opens them, so that their tabs are on screen too.
    QTest::mouseClick(rig.ui().buttonAdvanced, Qt::LeftButton);
    QTRY_VERIFY(rig.ui().TabsExtendedSettings->isVisible());

    QList<QAccessibleInterface*> controls;
    collectControls(QAccessible::queryAccessibleInterface(rig.window.get()), controls);
    QVERIFY(controls.size() > 40);
    QStringList unnamed;
    QStringList misdescribed;
    for (QAccessibleInterface* control : controls) {
        const bool tab = control->role() == QAccessible::PageTab;
        const auto* widget = tab ? nullptr : qobject_cast<const QWidget*>(control->object());
        // A tab is named by its title; a widget by a name of its own, not by the value it shows.
        const QString name = widget ? widget->accessibleName() : control->text(QAccessible::Name);
        const QString what = widget ? widget->objectName() : QStringLiteral("tab \"%1\"").arg(name);
        if (name.trimmed().isEmpty())
            unnamed << what;
        const QString page = widget ? widget->property(HelpFiles::pageProperty).toString() : QString();
        if (page.isEmpty())
            continue;
        const QString expected = firstSentence(help.fileData(HelpFiles::pageUrl(page)));
        if (control->text(QAccessible::Description) != expected)
            misdescribed << QStringLiteral("%1 should be described as \"%2\"").arg(what, expected);
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    QVERIFY2(misdescribed.isEmpty(), qPrintable(misdescribed.join(QLatin1Char('\n'))));

    // A page no part of the window leads to tells of something the window does not have; only
    // the start page and the guides to network ports and to balances stand alone.
    QSet<QString> attached{QStringLiteral("index.html"), QStringLiteral("networkport.html"),
                           QStringLiteral("balance.html")};
    for (const QObject* object : rig.window->findChildren<QObject*>())
        attached.insert(object->property(HelpFiles::pageProperty).toString());
    QStringList unattached;
    const QString name = help.registeredDocumentations().value(0);
    for (const QUrl& page : help.files(name, QString(), QStringLiteral("html")))
        if (!attached.contains(page.fileName()))
            unattached << page.fileName();
    QVERIFY2(unattached.isEmpty(), qPrintable(unattached.join(QStringLiteral(", "))));
}

// A new user's first steps in the help: the tab shows the start page, one click on an entry of
// the contents opens it, and Shift+F1 asks what a control is.
void TestAccessibility::helpOpensOnItsStartPageAndAtOneClick()
{
    WindowRig rig(WindowRig::withoutPump());
    HelpContent pages(rig.window.get());
    rig.window->show();
    QApplication::setActiveWindow(rig.window.get());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QTest::mouseClick(rig.ui().buttonAdvanced, Qt::LeftButton);
    rig.ui().TabsExtendedSettings->setCurrentWidget(rig.ui().tabHelp);
    auto* browser = rig.window->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
    auto* tree = rig.window->findChild<QHelpContentWidget*>(QStringLiteral("helpContentWidget"));
    QVERIFY(browser && tree);
    QTRY_COMPARE(browser->source(), HelpFiles::startPage());

    const QUrl page = HelpFiles::pageUrl(QStringLiteral("help.html"));
    const QModelIndex entry = tree->indexOf(page);
    QVERIFY(entry.isValid());
    tree->scrollTo(entry);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(entry).center());
    QTRY_COMPARE(browser->source(), page);

    QTest::keyClick(rig.ui().buttonStart, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
