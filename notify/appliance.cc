#include "notify/appliance.h"

#include <initializer_list>

#include "notify/email.h"
#include "notify/sms.h"
#include "notify/snmp.h"

int notify_register_channels(void) {
  int result = 0;
  for (int (*register_channel)(void) : {email_register, sms_register, snmp_register}) {
    if (register_channel() != 0) result = -1;
  }
  return result;
}
