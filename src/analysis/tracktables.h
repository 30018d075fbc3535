// Lookups in the views' track-bar tables: positions count from 1.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>

// The entry at `position`; positions outside the table clamp to its nearest end.
template <class T, size_t N>
T TableAt(const T (&table)[N], int position)
{
    return table[std::clamp(position, 1, static_cast<int>(N)) - 1];
}

// The position whose entry equals `value`; 0 when the table has none.
template <class T, size_t N>
int TablePosition(const T (&table)[N], T value)
{
    const auto found = std::find(std::begin(table), std::end(table), value);
    return found == std::end(table) ? 0 : static_cast<int>(found - std::begin(table)) + 1;
}
