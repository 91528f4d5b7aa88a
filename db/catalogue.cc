#include "db/catalogue.h"

#include <cstring>

#include "db/event_tables.h"
#include "utils/utils.h"

namespace {

// Constant-initialised: the appliance's channels are there before any code
// runs, and nothing runs to put them there.
ChannelEntry entries[kChannelSlots] = {
    {"EMAIL", "email", "emailnotify", &EventListRow::emailnotify},
    {"SMS", "sms", "smsnotify", &EventListRow::smsnotify},
    {"SNMP", "snmp", "snmpnotify", &EventListRow::snmpnotify},
};
int count = 3;

}  // namespace

int catalogue_add(const ChannelEntry &entry) {
  if (count >= kChannelSlots || entry.name == nullptr || entry.word == nullptr ||
      entry.column == nullptr) {
    return -1;
  }
  entries[count] = entry;
  return catalogue_flag(count++);
}

int catalogue_count(void) { return count; }

const ChannelEntry &catalogue_entry(int slot) { return entries[slot]; }

int catalogue_flag_of(const char *name) {
  for (int slot = 0; slot < count && name != nullptr; ++slot) {
    if (std::strcmp(entries[slot].name, name) == 0) return catalogue_flag(slot);
  }
  return 0;
}

const char *catalogue_word(int flag) {
  for (int slot = 0; slot < count; ++slot) {
    if (catalogue_flag(slot) == flag) return entries[slot].word;
  }
  return "";
}

int catalogue_mask(void) { return catalogue_flag(count) - 1; }

int catalogue_enabled(const char (&switches)[kChannelSlots][kSwitchWidth]) {
  int flags = 0;
  for (int slot = 0; slot < count; ++slot) {
    if (utils_str_is_true(switches[slot])) flags |= catalogue_flag(slot);
  }
  return flags;
}
