#pragma once

#include <cstddef>
#include <cstdint>

// The psychrometric table, generated into HumidityTable.cpp by make_humidity_table.py.
namespace velutron::humidity_table {

inline constexpr int kFirstRow = 2;  // dry bulb, whole degrees
inline constexpr int kLastRow = 58;
inline constexpr int kRows = kLastRow - kFirstRow + 1;
inline constexpr int kFirstColumn = 2;  // depression, tenths of a degree
inline constexpr size_t kEntries = 6637;

// Per row: the largest column minus 2.
extern const uint8_t kDepressionLimit[kRows];
// Rows one after the other, each from column 2 to its last column; tenths of %RH.
extern const uint16_t kValues[kEntries];

}  // namespace velutron::humidity_table
