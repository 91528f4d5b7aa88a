// The catalogue of notification channels: what the database, the daemon and
// the operator's listing know of each channel. A channel's slot gives its
// notify flag (slot 0 is 1, slot 1 is 2, ...); its delivery is its module's
// business (notify/). The appliance's channels are in the catalogue from the
// start; another is added before the daemon registers its channels.
#ifndef ALERTMILL_DB_CATALOGUE_H_
#define ALERTMILL_DB_CATALOGUE_H_

struct EventListRow;

// Slots of the catalogue, as many as the registry has for channels.
inline constexpr int kChannelSlots = 10;
// The width of a definition's switch texts.
inline constexpr int kSwitchWidth = 8;

struct ChannelEntry {
  const char *name;    // its NotifyMethod name
  const char *word;    // names it in console lines and listings
  const char *column;  // the eventlist column that switches it on (yes/no)
  // The definition's named field for that column, if it has one; every
  // switch is also in EventListRow::switches at the channel's slot.
  char (EventListRow::*field)[kSwitchWidth];
};

// Appends entry (its texts must outlive the program). Its flag; -1 when the
// catalogue is full or a text is null. Main thread, before any channel runs.
int catalogue_add(const ChannelEntry &entry);

int catalogue_count(void);
const ChannelEntry &catalogue_entry(int slot);
constexpr int catalogue_flag(int slot) { return 1 << slot; }

// The flag of the channel named name; 0 when there is none.
int catalogue_flag_of(const char *name);
// The word of the channel of flag; "" for a flag of no channel.
const char *catalogue_word(int flag);
// The OR of every channel's flag.
int catalogue_mask(void);
// The channels whose switch (by slot) passes utils_str_is_true.
int catalogue_enabled(const char (&switches)[kChannelSlots][kSwitchWidth]);

#endif  // ALERTMILL_DB_CATALOGUE_H_
