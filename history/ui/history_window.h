#pragma once
// The status history window of one printer: its changes, newest first, in a list a screen reader
// reads row by row, with Refresh and Close. Calm: it shows without taking the focus from the window
// the user works in, and the history is read on a worker thread of its own, so the window never waits
// for the database. Thin over HistoryModel.

#include <QWidget>
#include <filesystem>
#include <memory>

#include "history_model.h"

class QLabel;
class QTreeWidget;

namespace plat::gui {
class Worker;
}

namespace kestrel::history {

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The history of `printer` in the database `file`, read only.
    HistoryWindow(std::filesystem::path file, std::string printer, QWidget* parent = nullptr);
    // Waits for a reading under way (the database answers within its busy time-out).
    ~HistoryWindow() override;

    const HistoryModel& model() const { return m_model; }
    // Reads the history again; the result shows when it comes (readingDone()).
    void refresh();
    // Shows the window without activating it, or raises it when it shows already.
    void present();

signals:
    // A reading's result is shown.
    void readingDone();

private:
    void apply();

    std::filesystem::path m_file;
    HistoryModel m_model;
    QLabel* m_notice = nullptr;
    QTreeWidget* m_list = nullptr;
    std::unique_ptr<plat::gui::Worker> m_worker;
};

}  // namespace kestrel::history
