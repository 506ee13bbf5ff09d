#include "pulse/server_cache.h"

#include <algorithm>
#include <type_traits>

namespace sonorel::pulse {

namespace {

template <typename Record>
void mark(std::map<uint32_t, Record>& records, std::set<uint32_t>& changed, uint32_t index, bool removed)
{
    if (removed) {
        records.erase(index);
        changed.erase(index);
    } else {
        changed.insert(index);
    }
}

// A list's end (eol > 0) finishes its operation. A failure (eol < 0) fails
// the reading for a whole list; for one object it means the object is gone,
// and its entry was dropped when it was asked for.
bool ended(CacheRound* round, int eol, bool wholeList)
{
    if (eol == 0)
        return false;
    if (eol < 0 && wholeList)
        round->failed = true;
    round->finish();
    return true;
}

template <typename Info, bool wholeList>
void onDevice(pa_context*, const Info* info, int eol, void* userdata)
{
    auto* round = static_cast<CacheRound*>(userdata);
    if (ended(round, eol, wholeList))
        return;
    constexpr bool isSink = std::is_same_v<Info, pa_sink_info>;
    if constexpr (isSink)
        round->cache->sinks[info->index] = copyDevice(*info, true);
    else
        round->cache->sources[info->index] = copyDevice(*info, false);
}

template <typename Info, bool wholeList>
void onStream(pa_context*, const Info* info, int eol, void* userdata)
{
    auto* round = static_cast<CacheRound*>(userdata);
    if (ended(round, eol, wholeList))
        return;
    if constexpr (std::is_same_v<Info, pa_sink_input_info>)
        round->cache->sinkInputs[info->index] = copyStream(*info, false, info->sink);
    else
        round->cache->sourceOutputs[info->index] = copyStream(*info, true, info->source);
}

template <bool wholeList>
void onCard(pa_context*, const pa_card_info* info, int eol, void* userdata)
{
    auto* round = static_cast<CacheRound*>(userdata);
    if (ended(round, eol, wholeList))
        return;
    round->cache->cards[info->index] = copyCard(*info);
}

void onServer(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* round = static_cast<CacheRound*>(userdata);
    if (!info) {
        round->failed = true;
    } else {
        round->server.serverName = info->server_name ? info->server_name : "";
        round->server.defaultSink = info->default_sink_name ? info->default_sink_name : "";
        round->server.defaultSource = info->default_source_name ? info->default_source_name : "";
    }
    round->finish();
}

void onStreamRestore(pa_context*, const pa_ext_stream_restore_info* info, int eol, void* userdata)
{
    auto* round = static_cast<CacheRound*>(userdata);
    if (eol != 0) {
        // Without the extension alerts follow the default output.
        round->cache->streamRestoreRead = eol > 0;
        round->finish();
        return;
    }
    if (!info->name || std::string(info->name) != alertEntryName)
        return;
    AlertEntry entry;
    if (info->device && *info->device)
        entry.device = info->device;
    for (int i = 0; i < info->channel_map.channels; ++i)
        entry.channelPositions.push_back(int(info->channel_map.map[i]));
    entry.volumes.assign(info->volume.values, info->volume.values + info->volume.channels);
    entry.muted = info->mute != 0;
    round->cache->alertEntry = std::move(entry);
}

// Drops the cached entries and asks for each one again.
template <typename Record, typename Ask>
void askAgain(std::map<uint32_t, Record>& records, std::set<uint32_t>& changed,
              std::vector<pa_operation*>& operations, Ask ask)
{
    for (uint32_t index : changed) {
        records.erase(index);
        operations.push_back(ask(index));
    }
    changed.clear();
}

}  // namespace

void ServerCache::event(pa_subscription_event_type_t type, uint32_t index)
{
    const bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
    case PA_SUBSCRIPTION_EVENT_SINK:
        mark(sinks, changedSinks, index, removed);
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        mark(sources, changedSources, index, removed);
        break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        mark(sinkInputs, changedSinkInputs, index, removed);
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
        mark(sourceOutputs, changedSourceOutputs, index, removed);
        break;
    case PA_SUBSCRIPTION_EVENT_CARD:
        mark(cards, changedCards, index, removed);
        break;
    default:
        // The server info is asked for with every reading.
        break;
    }
}

void ServerCache::written(bool isSink, uint32_t index, bool alerts)
{
    (isSink ? changedSinks : changedSources).insert(index);
    alertsChanged = alertsChanged || alerts;
}

bool ServerCache::hasChanges() const
{
    return alertsChanged || !changedSinks.empty() || !changedSources.empty() || !changedSinkInputs.empty()
        || !changedSourceOutputs.empty() || !changedCards.empty();
}

namespace {

// Two maps' records in index order, the first map's before the second's.
template <typename Record>
std::vector<Record> recordsOf(const std::map<uint32_t, Record>& first, const std::map<uint32_t, Record>& second)
{
    std::vector<Record> result;
    result.reserve(first.size() + second.size());
    for (const auto* records : {&first, &second})
        for (const auto& [index, record] : *records)
            result.push_back(record);
    return result;
}

}  // namespace

std::vector<DeviceRecord> ServerCache::devices() const
{
    auto records = recordsOf(sinks, sources);
    // Monitors mirror an output; they are not microphones.
    std::erase_if(records, [](const DeviceRecord& d) { return d.monitorOf != noSink; });
    return records;
}

std::map<uint32_t, uint32_t> ServerCache::monitoredSinks() const
{
    std::map<uint32_t, uint32_t> monitors;
    for (const auto& [index, source] : sources)
        if (source.monitorOf != noSink)
            monitors[index] = source.monitorOf;
    return monitors;
}

std::vector<StreamRecord> ServerCache::streams() const
{
    return recordsOf(sinkInputs, sourceOutputs);
}

void CacheRound::listAll(pa_context* context, std::vector<pa_operation*>& operations)
{
    ServerCache& c = *cache;
    // Events that come during the listing stay marked: their objects are asked for again.
    c.sinks.clear();
    c.sources.clear();
    c.sinkInputs.clear();
    c.sourceOutputs.clear();
    c.cards.clear();
    c.alertEntry.reset();
    c.alertsChanged = false;
    operations.push_back(pa_context_get_sink_info_list(context, onDevice<pa_sink_info, true>, this));
    operations.push_back(pa_context_get_source_info_list(context, onDevice<pa_source_info, true>, this));
    operations.push_back(pa_context_get_sink_input_info_list(context, onStream<pa_sink_input_info, true>, this));
    operations.push_back(pa_context_get_source_output_info_list(context, onStream<pa_source_output_info, true>, this));
    operations.push_back(pa_context_get_card_info_list(context, onCard<true>, this));
    operations.push_back(pa_ext_stream_restore_read(context, onStreamRestore, this));
    listed = true;
}

void CacheRound::askForChanges(pa_context* context, std::vector<pa_operation*>& operations)
{
    ServerCache& c = *cache;
    askAgain(c.sinks, c.changedSinks, operations, [&](uint32_t i) {
        return pa_context_get_sink_info_by_index(context, i, onDevice<pa_sink_info, false>, this);
    });
    askAgain(c.sources, c.changedSources, operations, [&](uint32_t i) {
        return pa_context_get_source_info_by_index(context, i, onDevice<pa_source_info, false>, this);
    });
    askAgain(c.sinkInputs, c.changedSinkInputs, operations, [&](uint32_t i) {
        return pa_context_get_sink_input_info(context, i, onStream<pa_sink_input_info, false>, this);
    });
    askAgain(c.sourceOutputs, c.changedSourceOutputs, operations, [&](uint32_t i) {
        return pa_context_get_source_output_info(context, i, onStream<pa_source_output_info, false>, this);
    });
    askAgain(c.cards, c.changedCards, operations, [&](uint32_t i) {
        return pa_context_get_card_info_by_index(context, i, onCard<false>, this);
    });
    // Without the extension's own events the entry is read every time.
    if (c.alertsChanged || !c.streamRestoreSubscribed) {
        c.alertEntry.reset();
        c.alertsChanged = false;
        operations.push_back(pa_ext_stream_restore_read(context, onStreamRestore, this));
    }
}

std::vector<pa_operation*> CacheRound::start(pa_context* context, bool withServer, bool withObjects)
{
    std::vector<pa_operation*> operations;
    if (withServer)
        operations.push_back(pa_context_get_server_info(context, onServer, this));
    if (withObjects && !cache->primed)
        listAll(context, operations);
    else if (withObjects)
        askForChanges(context, operations);
    // A request that could not even be sent means the connection is gone.
    if (std::count(operations.begin(), operations.end(), nullptr) > 0)
        failed = true;
    pending = int(std::count_if(operations.begin(), operations.end(), [](pa_operation* op) { return op; }));
    return operations;
}

}  // namespace sonorel::pulse
