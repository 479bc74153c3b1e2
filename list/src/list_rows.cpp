#include "list_rows.h"

#include <algorithm>

#include "plat/text/text.h"

namespace watchlist {
namespace {

constexpr int kNotMonitoring = 10101;
constexpr int kCannotMonitor = 10102;

}  // namespace

void ListRows::reset(std::vector<Row> rows)
{
    m_rows = std::move(rows);
    m_items.clear();
    for (const Row& row : m_rows) {
        Item item;
        item.parameter = row.parameter();
        item.network = row.network;
        item.texts[0] = row.name;
        item.texts[1] = listText(row.monitorable() ? kNotMonitoring : kCannotMonitor);
        m_items.push_back(std::move(item));
    }
    notify(-1);
}

Row* ListRows::row(int number)
{
    // A build makes rows 0, 1, 2 ... in order, so a row's number is its place.
    if (number < 0 || number >= static_cast<int>(m_rows.size())) return nullptr;
    return &m_rows[static_cast<std::size_t>(number)];
}

void ListRows::setText(int position, int column, std::string text)
{
    std::string& cell = m_items.at(static_cast<std::size_t>(position)).texts.at(static_cast<std::size_t>(column));
    if (cell == text) return;
    cell = std::move(text);
    notify(position);
}

void ListRows::setConnection(int position, bool network, std::string destination)
{
    Item& item = m_items.at(static_cast<std::size_t>(position));
    if (item.network == network && item.destination == destination) return;
    item.network = network;
    item.destination = std::move(destination);
    if (Row* r = row(item.row())) r->network = network;
    notify(position);
}

void ListRows::markCannotMonitor(int position)
{
    Item& item = m_items.at(static_cast<std::size_t>(position));
    const int number = item.row();
    item.parameter =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(kNoSlot) << 16 | static_cast<std::uint16_t>(number));
    item.texts[1] = listText(kCannotMonitor);
    item.texts[2].clear();
    item.texts[3].clear();
    if (Row* r = row(number)) {
        r->state = MonitorState::CannotMonitor;
        r->printerState = -1;
    }
    notify(position);
}

void ListRows::update(const Item& item, const Row& row)
{
    Row* target = this->row(row.row);
    if (target == nullptr) return;
    *target = row;
    const int number = item.row();
    auto it = std::find_if(m_items.begin(), m_items.end(), [number](const Item& i) { return i.row() == number; });
    if (it == m_items.end() || *it == item) return;
    *it = item;
    notify(static_cast<int>(it - m_items.begin()));
}

void ListRows::arrange(const std::vector<int>& rowNumbers)
{
    std::vector<Item> arranged;
    arranged.reserve(m_items.size());
    std::vector<bool> taken(m_items.size(), false);
    auto take = [&](std::size_t i) {
        taken[i] = true;
        arranged.push_back(m_items[i]);
    };
    for (int number : rowNumbers) {
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (!taken[i] && m_items[i].row() == number) {
                take(i);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (!taken[i]) take(i);
    if (arranged == m_items) return;
    m_items = std::move(arranged);
    notify(-1);
}

void ListRows::sort(int column)
{
    auto key = [this, column](const Item& item) -> std::string {
        const Row* r = row(item.row());
        if (r == nullptr) return {};
        switch (column) {
        case 1: return std::to_string(static_cast<int>(r->state));
        case 2: return std::to_string(r->printerState);
        case 3: return std::to_string(r->jobCount);
        default: return r->name;
        }
    };
    auto name = [this](const Item& item) {
        const Row* r = row(item.row());
        return r != nullptr ? r->name : std::string();
    };
    std::stable_sort(m_items.begin(), m_items.end(), [&](const Item& a, const Item& b) {
        const int byKey = plat::text::compareIgnoringCase(key(a), key(b));
        if (byKey != 0) return byKey < 0;
        return plat::text::compareIgnoringCase(name(a), name(b)) < 0;
    });
    notify(-1);
}

}  // namespace watchlist
