#pragma once

#include <QString>
#include <QUrl>

// Where the help collection lies and how its pages are addressed.
namespace HelpFiles {

// Dynamic property of a control that holds the name of its help page.
inline constexpr char pageProperty[] = "What's this property";

// "qthelp://zul.dosedesk.1.0/doc/": every page name is relative to this folder.
QUrl folderUrl();
// The address of a page given by its name, e.g. "cycle.html"; an empty name gives the folder.
QUrl pageUrl(const QString& page);
// The start page of the help, "index.html".
QUrl startPage();

// The collection the program opens: "./doc/HelpContentCol.qhc" below the working directory when it
// exists there, otherwise the "doc" folder beside the program, so a program started from another
// folder still finds its help, otherwise the installed one (share/dosedesk/doc beside bin/).
QString collectionPath();

} // namespace HelpFiles
