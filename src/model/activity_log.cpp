#include "model/activity_log.h"

namespace sonorel {

void ActivityLog::add(ActivityEntry entry)
{
    entries.insert(entries.begin(), std::move(entry));
    if (entries.size() > capacity)
        entries.resize(capacity);
}

}  // namespace sonorel
