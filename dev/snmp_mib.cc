// Stand-in for the appliance's SNMP agent: does nothing but exist, so that
// its command line (ending in "snmp-mib") shows in the process list.
#include <unistd.h>

int main() {
  for (;;) pause();
}
