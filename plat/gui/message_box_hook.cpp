// The process-wide message box hook of a program with windows (see plat/base/message_box.h). A box asked
// for on the GUI thread is shown at once; one asked for on another thread is handed to the GUI thread and
// the asking thread goes on, so an engine thread never waits for a user who is not looking, and a GUI
// thread joining that engine thread cannot deadlock with it.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <cstdio>

namespace {

void show(const QString& caption, const QString& text, QPointer<QWidget> owner)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner.data());
    box.exec();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void kestrelMessageBoxHook(const char* caption, const char* text,
                                                                             void* owner)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        std::fprintf(stderr, "[%s] %s\n", caption, text);
        return;
    }
    // The libraries ask for their boxes in the system's own words; the program's translator (installed
    // with its language) gives them in the language in use.
    const QString c = QCoreApplication::translate("MessageBox", caption),
                  t = QCoreApplication::translate("MessageBox", text);
    QPointer<QWidget> parent(static_cast<QWidget*>(owner));
    if (QThread::currentThread() == app->thread()) return show(c, t, parent);
    QMetaObject::invokeMethod(
        app, [c, t, parent] { show(c, t, parent); }, Qt::QueuedConnection);
}
