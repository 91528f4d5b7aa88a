// A channel that the appliance does not have, defined here as a module of
// its own would be (delivery routine, queue, alarm layout), with its
// catalogue entry and its switch column: event processing finds it in the
// definition, dispatches to it, and its pending row goes only once all four
// channels are done.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "db/db.h"
#include "notify/alarm.h"
#include "notify/channel.h"
#include "notify/notify.h"
#include "service/service.h"
#include "tests/support/sandbox_root.h"
#include "utils/alloc.h"
#include "utils/paths.h"

namespace {

int pager_send(const NotifyData *data);
ChannelQueue &pager_queue = *new ChannelQueue(pager_send);  // outlives its worker

int pager_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, static_cast<int>(pager_queue.flag))) return *end;
  std::ofstream(utils_path("/tmp/pager.txt"))
      << notify_alarm_text(data->subject, data->context, static_cast<int>(pager_queue.flag), 511);
  return 0;
}
int pager_submit(const NotifyData *data) { return channel_submit(&pager_queue, data); }
void *pager_worker(void *) { channel_work_forever(&pager_queue); }
void pager_start() { channel_start(&pager_queue, pager_worker); }

bool nothing_pending() {
  EventLogCacheRow *rows = nullptr;
  int count = 0;
  const int result = eventlogcache_get_all(&rows, &count);
  utils_free(&rows);
  return result == -3;
}

TEST(FourthChannel, IsDeliveredAndTheRowGoesAtTheNewMask) {
  SandboxRoot root;
  root.prepare_service();
  root.start_snmp_agent();
  ASSERT_EQ(root.exec("alter table eventlist add pagernotify varchar(8);"
                      "update eventlist set pagernotify='yes' where eventid=100"),
            0);
  const std::string id = root.add_pending(100, "&port=5&", "2026-01-02 03:04:05");
  ASSERT_EQ(catalogue_add({"PAGER", "pager", "pagernotify", nullptr}), 8);
  ASSERT_EQ(notify_register_channels(), 0);
  ASSERT_EQ(channel_register("PAGER", &pager_queue, pager_submit, pager_start,
                             {"PAGE[", "] ", "", true, false}),
            0);
  testing::internal::CaptureStdout();
  notify_method_start_all();
  EXPECT_EQ(notify_enabled_mask, 15);
  std::string request = "&eventid=100&sqlid=" + id + "&port=5&state=down&";
  EventMessage message{static_cast<int32_t>(request.size()), request.data(), nullptr};
  ASSERT_EQ(event_process(&message), 0);
  EXPECT_TRUE(sandbox_wait_until(nothing_pending));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("notifymethodcounts 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nemail yes,sms on, snmp 1, pager yes\nthe needflag is 15\n"),
            std::string::npos)
      << out;
  const std::string page = root.read("tmp/pager.txt");
  EXPECT_EQ(page.rfind("PAGE[Port 5 down] receive alarm from [gw-test](sn:", 0), 0u) << page;
  EXPECT_EQ(page.substr(page.find(")\n")), ")\n[2026-01-02 03:04:05]\r\nPort 5 is down") << page;
}

}  // namespace
