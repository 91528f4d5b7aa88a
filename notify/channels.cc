#include "notify/channels.h"

#include <array>
#include <cstdio>
#include <iterator>
#include <utility>

#include "notify/channel.h"

namespace {

constexpr const auto &kChannels = kNotifyChannels<EventListRow>;
constexpr size_t kChannelCount = std::size(kChannels);

template <size_t... Slot>
std::array<ChannelQueue, sizeof...(Slot)> make_queues(std::index_sequence<Slot...>) {
  return {ChannelQueue(static_cast<uint32_t>(kChannels[Slot].flag), kChannels[Slot].deliver)...};
}

// Never destroyed: the workers use their queues until the process ends, and
// static destruction at exit would pull a backlog from under a worker.
std::array<ChannelQueue, kChannelCount> &queues = *new std::array<ChannelQueue, kChannelCount>(
    make_queues(std::make_index_sequence<kChannelCount>{}));

// NotifyMethod operations take no context, so each table line gets its own.
template <size_t Slot>
void *work(void *) {
  channel_work_forever(&queues[Slot]);
}

template <size_t Slot>
int submit(const NotifyData *data) {
  return channel_submit(&queues[Slot], data);
}

template <size_t Slot>
void register_channel() {
  NotifyMethod method{};
  std::snprintf(method.name, sizeof method.name, "%s", kChannels[Slot].name);
  method.flag = static_cast<uint32_t>(kChannels[Slot].flag);
  method.submit = submit<Slot>;
  method.start = [] { channel_start(&queues[Slot], work<Slot>); };
  notify_method_register(&method);
}

template <size_t... Slot>
void register_all(std::index_sequence<Slot...>) {
  (register_channel<Slot>(), ...);
}

template <size_t... Slot>
constexpr std::array<void *(*)(void *), sizeof...(Slot)> make_workers(
    std::index_sequence<Slot...>) {
  return {work<Slot>...};
}

constexpr auto kWorkers = make_workers(std::make_index_sequence<kChannelCount>{});

// The slot of the channel of flag; kChannelCount for none.
size_t slot_of(int flag) {
  size_t slot = 0;
  while (slot < kChannelCount && kChannels[slot].flag != flag) ++slot;
  return slot;
}

int submit_to(int flag, const NotifyData *data) {
  size_t slot = slot_of(flag);
  return channel_submit(slot < kChannelCount ? &queues[slot] : nullptr, data);
}

void start_of(int flag) {
  size_t slot = slot_of(flag);
  if (slot < kChannelCount) channel_start(&queues[slot], kWorkers[slot]);
}

}  // namespace

const char *notify_channel_word(int flag) {
  size_t slot = slot_of(flag);
  return slot < kChannelCount ? kChannels[slot].word : "";
}

int notify_register_channels(void) {
  register_all(std::make_index_sequence<kChannelCount>{});
  return 0;
}

int email_submit(const NotifyData *data) { return submit_to(kNotifyEmail, data); }
int sms_submit(const NotifyData *data) { return submit_to(kNotifySms, data); }
int snmp_submit(const NotifyData *data) { return submit_to(kNotifySnmp, data); }
void email_start(void) { start_of(kNotifyEmail); }
void sms_start(void) { start_of(kNotifySms); }
void snmp_start(void) { start_of(kNotifySnmp); }
