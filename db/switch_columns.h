// The channel catalogue's switch columns in a read: the copy of each slot's
// cell into a record's switches (and the definition's named field, where the
// catalogue gives one). Inside db only.
#ifndef ALERTMILL_DB_SWITCH_COLUMNS_H_
#define ALERTMILL_DB_SWITCH_COLUMNS_H_

#include <array>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include "db/accessor.h"
#include "db/catalogue.h"
#include "db/event_tables.h"

namespace db_detail {

template <typename Record, size_t Slot>
void copy_switch(DbQuery *query, int column, Record *record) {
  db_get_value(query, column, record->switches[Slot], kSwitchWidth);
  if constexpr (std::is_same_v<Record, EventListRow>) {
    if (auto field = catalogue_entry(Slot).field) {
      std::memcpy(record->*field, record->switches[Slot], kSwitchWidth);
    }
  }
}

template <typename Record, size_t... Slot>
constexpr std::array<void (*)(DbQuery *, int, Record *), sizeof...(Slot)> switch_copies(
    std::index_sequence<Slot...>) {
  return {&copy_switch<Record, Slot>...};
}

}  // namespace db_detail

// Adds the switch columns of slots first to end - 1 to layout, each column
// name after prefix ("d." for a joined table).
template <typename Record>
void db_add_switches(DbBuiltLayout<Record> *layout, int first, int end, const char *prefix = "") {
  static constexpr auto kCopies =
      db_detail::switch_copies<Record>(std::make_index_sequence<kChannelSlots>{});
  for (int slot = first; slot < end && slot < catalogue_count(); ++slot) {
    layout->add(prefix + std::string(catalogue_entry(slot).column), kCopies[slot]);
  }
}

#endif  // ALERTMILL_DB_SWITCH_COLUMNS_H_
