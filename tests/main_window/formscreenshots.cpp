// Writes pictures of the window's form, compact and expanded, for the documentation:
//   dd_form_screenshots <output folder> [<tab index>...]
// Each further argument adds a picture of the expanded form with that settings tab selected.

#include "formfixture.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>

namespace {

bool save(QWidget& widget, const QString& path)
{
    widget.show();
    QApplication::processEvents();
    const bool ok = widget.grab().save(path);
    std::printf("%s %dx%d %s\n", qPrintable(path), widget.width(), widget.height(),
                ok ? "written" : "FAILED");
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication::setDesktopSettingsAware(false);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder> [<tab index>...]\n", argv[0]);
        return 2;
    }
    prepareApplicationLook();
    const QDir out(QString::fromLocal8Bit(argv[1]));

    FormFixture form;
    form.showCompact();
    bool ok = save(form.dialog, out.filePath(QStringLiteral("window-compact.png")));
    form.showExpanded();
    ok = save(form.dialog, out.filePath(QStringLiteral("window-expanded.png"))) && ok;
    for (int i = 2; i < argc; ++i) {
        const int tab = QString::fromLocal8Bit(argv[i]).toInt();
        form.ui.TabsExtendedSettings->setCurrentIndex(tab);
        ok = save(form.dialog, out.filePath(QStringLiteral("window-tab-%1.png").arg(tab))) && ok;
    }
    return ok ? 0 : 1;
}
