// Links the notify library the way the daemon does and touches nothing but
// the registry: the channels of the table must be registered before main, in
// the table's order, which is e-mail, SMS, SNMP.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "notify/notify.h"

namespace {

TEST(NotifyLinkTest, TableChannelsRegisteredBeforeMainInOrder) {
  const auto &table = kNotifyChannels<EventListRow>;
  ASSERT_EQ(notifymethodcounts, 3);
  ASSERT_EQ(std::size(table), 3u);
  const char *names[] = {"EMAIL", "SMS", "SNMP"};
  const uint32_t flags[] = {1, 2, 4};
  for (int slot = 0; slot < 3; ++slot) {
    const NotifyMethod &method = notify_method_table[slot];
    EXPECT_EQ(std::string(method.name), names[slot]) << "slot " << slot;
    EXPECT_EQ(std::string(method.name), table[slot].name) << "slot " << slot;
    EXPECT_EQ(method.flag, flags[slot]) << "slot " << slot;
    EXPECT_EQ(method.flag, static_cast<uint32_t>(table[slot].flag)) << "slot " << slot;
    EXPECT_NE(method.submit, nullptr) << "slot " << slot;
    EXPECT_NE(method.start, nullptr) << "slot " << slot;
    std::string name(method.name);
    for (size_t i = name.size(); i < sizeof method.name; ++i) {
      EXPECT_EQ(method.name[i], '\0') << "slot " << slot << " byte " << i;
    }
  }
  // Nothing started yet: the mask is built by the start, not by registration.
  EXPECT_EQ(notify_enabled_mask, 0);
}

// The needflag and the words follow the table's switch columns and order.
TEST(NotifyLinkTest, NeedflagAndWordsFollowTheTable) {
  EventListRow definition{};
  EXPECT_EQ(notify_needflag(definition), 0);
  std::snprintf(definition.smsnotify, sizeof definition.smsnotify, "yes");
  EXPECT_EQ(notify_needflag(definition), kNotifySms);
  std::snprintf(definition.emailnotify, sizeof definition.emailnotify, "1");
  std::snprintf(definition.snmpnotify, sizeof definition.snmpnotify, "no");
  EXPECT_EQ(notify_needflag(definition), kNotifyEmail | kNotifySms);
  std::snprintf(definition.snmpnotify, sizeof definition.snmpnotify, "on");
  EXPECT_EQ(notify_needflag(definition), 7);
  EXPECT_STREQ(notify_channel_word(kNotifyEmail), "email");
  EXPECT_STREQ(notify_channel_word(kNotifySms), "sms");
  EXPECT_STREQ(notify_channel_word(kNotifySnmp), "snmp");
  EXPECT_STREQ(notify_channel_word(8), "");
}

}  // namespace
