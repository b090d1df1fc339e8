#include "base/rebuild_cache.h"

namespace {

// Every cache in the process; a function-local static so that caches at
// namespace scope in other files can register while they are constructed.
std::vector<TRebuildCacheBase*>& Caches() {
    static std::vector<TRebuildCacheBase*> caches;
    return caches;
}

uint32_t acceptedBuild = 0; // the build whose demo plays
uint32_t currentBuild = 0;  // the build in progress (== acceptedBuild outside a rebuild)
bool rebuilding = false;    // BeginRebuild ran once

} // namespace

TRebuildCacheBase::TRebuildCacheBase() { Caches().push_back(this); }

TRebuildCacheBase::~TRebuildCacheBase() { std::erase(Caches(), this); }

void BeginRebuild(const TChangedFile& changed) {
    rebuilding = true;
    currentBuild = acceptedBuild + 1;
    for (TRebuildCacheBase* cache : Caches()) cache->MarkStale(changed);
}

void EndRebuild(bool keepNew) {
    for (TRebuildCacheBase* cache : Caches()) cache->Settle(keepNew);
    if (keepNew)
        acceptedBuild = currentBuild;
    else
        currentBuild = acceptedBuild;
}

bool RebuildsKept() { return rebuilding; }

uint32_t CurrentBuild() { return currentBuild; }
