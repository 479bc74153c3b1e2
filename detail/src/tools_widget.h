#pragma once
// The tools page's widgets (templates 1800, 1900, 2000) over the rules of tools_page.h. The section list
// makes the page's widget tree when the page is shown and may destroy it later, so this object lives as
// long as the window and is attached to each new tree.
//
// The head move takes seconds (a slow printer, the engine's port time-outs): it runs on a worker of its
// own, made for the first move, while the window keeps answering and the panel goes on with the
// printer's status; its button stays disabled, with a busy cursor, until the engine returns.

#include <QObject>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <memory>

#include "plat/gui/worker.h"
#include "tools_page.h"

class QWidget;

namespace watchpanel {

class ToolsWidget : public QObject {
    Q_OBJECT
public:
    explicit ToolsWidget(ToolsHost& host, QObject* parent = nullptr);
    // Waits for a head move still running: the engine must not outlive its caller's window.
    ~ToolsWidget() override;

    void attach(QWidget* page);
    // The page became current: enables what the printer allows.
    void pageSelected();

    // The commands. Each first re-reads the entry and does nothing when it cannot.
    void openJobList();
    void openPrinterSetup();
    void moveHead();

    bool headMoving() const { return m_moving.load(); }
    // Waits for a head move still running; its result is then not shown.
    void finish();

signals:
    // A head move ended with the engine's result.
    void headMoveFinished(std::int32_t result);

private:
    QWidget* control(int number) const;
    void setCaptions();
    void applyEnabling();
    void headMoveEnded(std::int32_t result);

    ToolsHost& m_host;
    QPointer<QWidget> m_page;
    std::unique_ptr<plat::gui::Worker> m_worker;  // null until the first move; stopped by finish()
    std::atomic<bool> m_moving{false};
    bool m_headOffered = true;
};

}  // namespace watchpanel
