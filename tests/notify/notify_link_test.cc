// Links the notify library the way the daemon does and touches nothing but
// the registry: the three channels must still be there, registered before
// main in the order e-mail, SMS, SNMP. A channel module that the linker left
// out would be missing here, since no code of this program calls into it.
#include <gtest/gtest.h>

#include <string>

#include "notify/registry.h"

namespace {

TEST(NotifyLinkTest, ChannelsRegisteredBeforeMainInOrder) {
  ASSERT_EQ(notifymethodcounts, 3);
  const char *names[] = {"EMAIL", "SMS", "SNMP"};
  const uint32_t flags[] = {1, 2, 4};
  for (int slot = 0; slot < 3; ++slot) {
    const NotifyMethod &method = notify_method_table[slot];
    EXPECT_EQ(std::string(method.name), names[slot]) << "slot " << slot;
    EXPECT_EQ(method.flag, flags[slot]) << "slot " << slot;
    EXPECT_NE(method.submit, nullptr) << "slot " << slot;
    EXPECT_NE(method.start, nullptr) << "slot " << slot;
  }
  // Nothing started yet: the mask is built by the start, not by registration.
  EXPECT_EQ(notify_enabled_mask, 0);
}

TEST(NotifyLinkTest, NamesAreZeroFilled) {
  for (int slot = 0; slot < notifymethodcounts; ++slot) {
    const NotifyMethod &method = notify_method_table[slot];
    std::string name(method.name);
    for (size_t i = name.size(); i < sizeof method.name; ++i) {
      EXPECT_EQ(method.name[i], '\0') << "slot " << slot << " byte " << i;
    }
  }
}

}  // namespace
