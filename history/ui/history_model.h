#pragma once
// What the status history window shows, without a window: its title, the state of its reading, and
// one row of texts per change, newest first, in the language of the process. The window reads the
// history off its thread and hands the result here; tests drive this class alone.

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "status_history.h"

namespace kestrel::history {

// A change as the window shows it.
struct HistoryRow {
    QString time;     // local time, "2026-12-09 11:30:05"
    QString state;    // the state keyword in words
    QString level;    // "0", "1", "2"
    QString message;  // the status message of the printer's model, else its number
    QString reasons;  // the keywords, comma-separated
    // What a screen reader says for the row.
    QString accessibleText() const;
};

class HistoryModel {
public:
    enum class Phase { Reading, Shown, Empty, Failed };

    // The history of `printer`.
    explicit HistoryModel(std::string printer);

    const std::string& printer() const { return m_printer; }
    QString title() const;
    QStringList columnHeads() const;
    // What the window tells above the rows: nothing while rows show.
    QString notice() const;
    Phase phase() const { return m_phase; }
    const std::vector<HistoryRow>& rows() const { return m_rows; }

    // A reading started: the rows shown stay until its result comes.
    void reading();
    // The result of a reading: the printer's changes, newest first.
    void show(const std::vector<Change>& changes);
    void fail(const std::string& why);

    // The query a reading makes.
    Query query() const;

private:
    std::string m_printer;
    Phase m_phase = Phase::Reading;
    std::vector<HistoryRow> m_rows;
    QString m_failure;
};

// The state keyword in words; the keyword itself when it is not one of ours.
QString stateText(const std::string& keyword);
// The status message of `message` in the table of `model`, ink name generic; its number when the
// model or the row is unknown.
QString messageText(int model, int message);
// A column head: 0 time, 1 state, 2 level, 3 message, 4 reasons, 5 printer.
QString columnHead(int column);
// A menu item's text that opens the window, with its mnemonic.
QString menuText();

}  // namespace kestrel::history
