#include "watchlist/list_texts.h"

#include "resources/string_table.h"

namespace watchlist {

std::string listText(int number)
{
    static const kestrel::StringTable texts =
        kestrel::StringTable::loadAll({":/strings/list/list_window.txt", ":/strings/list/window_texts.txt"});
    return texts.text(number).value_or("");
}

}  // namespace watchlist
