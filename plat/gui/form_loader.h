#pragma once
// Widgets from a Qt Designer form, without Designer's plugins. QUiLoader loads every custom-widget
// plugin it finds when it is made, which pulls whole modules (Qt Quick, QML, networking) into a
// program that shows only Qt's own widgets; with no library path at that moment it finds none.

#include <QCoreApplication>
#include <QIODevice>
#include <QUiLoader>
#include <QWidget>

namespace plat::gui {

// The form's widget tree under `parent`, or null (and why, in `error`) when the form cannot be read.
// GUI thread only.
inline QWidget* loadForm(QIODevice* form, QWidget* parent, QString* error = nullptr)
{
    const QStringList paths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    QUiLoader loader;
    QCoreApplication::setLibraryPaths(paths);
    QWidget* widgets = loader.load(form, parent);
    if (widgets == nullptr && error != nullptr) *error = loader.errorString();
    return widgets;
}

}  // namespace plat::gui
