#pragma once
// The list as the window shows it, without the window: the items in display order, each with its
// parameter (slot and row), picture and four column texts, over the rows of the last build addressed by
// row number. Sorting moves items, never rows, so every later change still reaches the right row
// through the item's parameter. The window's model listens to `changed` and shows what changed.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discovery.h"
#include "watchlist/list_texts.h"

namespace watchlist {

inline constexpr int kColumns = 4;  // name, monitoring, printer state, jobs

class ListRows {
public:
    struct Item {
        std::int32_t parameter = 0;
        bool network = false;
        std::array<std::string, kColumns> texts;
        std::string portName;  // the port the item's printer monitors on, empty when it does not
        // Where the printer prints, as its record says: the port or queue path, and for a local port
        // captured to a queue "LPT2:(\\FS1\QUEUE1)"; empty until its detail program has checked it.
        std::string destination;

        bool operator==(const Item&) const = default;
        bool monitorable() const { return parameter >= 0; }
        int slot() const { return static_cast<int>(static_cast<std::uint32_t>(parameter) >> 16); }
        int row() const { return static_cast<std::int16_t>(parameter & 0xFFFF); }
    };

    // Replaces everything by the rows of a build, one item per row in row order; monitorable rows read
    // "モニタしていません", the others "モニタできません".
    void reset(std::vector<Row> rows);
    void clear() { reset({}); }

    int count() const { return static_cast<int>(m_items.size()); }
    const Item& item(int position) const { return m_items.at(static_cast<std::size_t>(position)); }
    // The row of a build by its row number; null when there is none.
    Row* row(int number);
    const std::vector<Row>& rows() const { return m_rows; }

    void setText(int position, int column, std::string text);
    void setPortName(int position, std::string port)
    {
        m_items.at(static_cast<std::size_t>(position)).portName = std::move(port);
    }
    // What the item's detail program found its port to be: the picture (network or local) and the
    // destination follow it, since the detail program checks the port only after the item is made.
    void setConnection(int position, bool network, std::string destination);
    // The item can no longer be monitored: negative parameter, columns 1-3 emptied and column 1
    // "モニタできません", its row's state 2 and printer state -1.
    void markCannotMonitor(int position);

    // The item of `row.row` (wherever it stands) and that row take the given values; a row the items do
    // not have is ignored. For a copy of the list kept on another thread.
    void update(const Item& item, const Row& row);
    // Puts the items in the order of `rowNumbers` (row numbers, first to last); items whose row is not
    // named keep their order after the named ones.
    void arrange(const std::vector<int>& rowNumbers);

    // Sorts the items ascending by `column`: the name, or the row's monitoring state, printer state or
    // job count as decimal text, compared as text without regard to case ("10" before "2"); equal
    // values by name.
    void sort(int column);

    // Called with the position of every item whose texts, picture or parameter changed, and with -1
    // after a reset, a sort or an arrangement that moved items.
    std::function<void(int position)> changed;

private:
    void notify(int position)
    {
        if (changed) changed(position);
    }

    std::vector<Row> m_rows;
    std::vector<Item> m_items;
};

}  // namespace watchlist
