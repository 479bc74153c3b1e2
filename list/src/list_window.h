#pragma once
// The list window: the frame with menu, toolbar and status bar, and the list of printers in four view
// modes over ListRows, sorted by a column click. It shows what the program's controller decides and
// passes the user's commands back as signals; nothing here waits on a process or the spooler.

#include <QMainWindow>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "list_rows.h"

namespace kestrel::history {
class HistoryWindow;
}

namespace watchlist {

class ListWindow : public QMainWindow {
    Q_OBJECT
public:
    // Shows `items`, following items.changed (the window owns that callback).
    explicit ListWindow(ListRows& items, QWidget* parent = nullptr);
    ~ListWindow() override;

    // 0 large icons, 1 small icons, 2 list, 3 details.
    int viewMode() const;
    void setViewMode(int mode);
    // View mode and normal frame geometry from the list environment; without one, large icons at
    // 620 x 340. storeEnvironment() writes them back (the normal geometry also when minimised or
    // maximised).
    void restoreEnvironment();
    void storeEnvironment();
    // The same without the store, for a program that reads and writes it off this thread.
    void applyEnvironment(const ListEnviron& stored);
    ListEnviron environment() const;

    // While the list is rebuilt the detail, job and refresh commands are off and, unless `quiet`, the
    // initialising dialog shows.
    void setBuilding(bool building, bool quiet);
    bool building() const;

    // Positions (in ListRows) of the selected items.
    std::vector<int> selectedPositions() const;

    // Ends the window for good; until then closing it only emits closeRequested().
    void closeNow();

    // The print spooler the program uses ("CUPS", "embedded"), named in the version dialog; empty
    // names none.
    void setSpoolerName(const QString& name);

    // The status history the printer menu's history item opens, read only; without one the item is off.
    void setHistoryFile(const std::filesystem::path& file);
    // The history window of `printer` once the item opened it, else null.
    kestrel::history::HistoryWindow* historyWindow(const std::string& printer) const;

signals:
    void showRequested(const std::vector<int>& positions);  // printer detail, Enter, double click
    void jobWindowRequested(const std::vector<int>& positions);
    void refreshRequested();
    void closeRequested();  // the close command, the window's close button

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace watchlist
