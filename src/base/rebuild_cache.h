// The one cache for what a build of the demo hands on to the next build in
// the same process (dev mode's reload): uploaded textures, decoded models.
// Builds are numbered. Every entry knows the build that made it (Born) and
// the last build that asked for it (Used). A rebuild runs between
// BeginRebuild and EndRebuild:
// - BeginRebuild(changed) starts the next build number and marks the
//   entries made from a file `changed` names as stale: lookups pass them
//   by, so those files are read again.
// - EndRebuild(true): the new build plays; every entry it did not ask for
//   belonged only to the previous build and is dropped.
// - EndRebuild(false): the new build was refused; what it made is dropped
//   and the playing build has its entries back as they were.
// A normal run never calls either: entries are then never dropped, and
// Keeping() stays false so that caches that cost memory only for a rebuild
// (copies of models) need not be filled.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/files.h"

using TChangedFile = std::function<bool(const std::string& path)>;

// Bookkeeping every cached piece carries.
struct TKeptEntry {
    std::vector<std::string> Files; // absolute names of the files it was made from
    uint32_t Born = 0;              // the build that made it
    uint32_t Used = 0;              // the last build that asked for it
    bool Stale = false;             // one of its files changed: lookups pass it by
};

// One kind of cached piece; TRebuildCache<T> is the only implementation.
class TRebuildCacheBase {
public:
    TRebuildCacheBase();
    virtual ~TRebuildCacheBase();
    TRebuildCacheBase(const TRebuildCacheBase&) = delete;
    TRebuildCacheBase& operator=(const TRebuildCacheBase&) = delete;

protected:
    friend void BeginRebuild(const TChangedFile& changed);
    friend void EndRebuild(bool keepNew);
    virtual void MarkStale(const TChangedFile& changed) = 0;
    // Drops what the build that ends leaves behind; `keepNew` as EndRebuild.
    virtual void Settle(bool keepNew) = 0;
};

void BeginRebuild(const TChangedFile& changed);
void EndRebuild(bool keepNew);
// True from the first BeginRebuild on.
bool RebuildsKept();
// The build in progress, or the playing one outside a rebuild.
uint32_t CurrentBuild();

// Entries are appended and never replaced: a lookup finds the last entry
// that matches and is not stale. TEntry derives from TKeptEntry.
template <class TEntry> class TRebuildCache final : public TRebuildCacheBase {
public:
    // Called with the entries a rebuild drops, after they left the cache
    // (Entries() holds what stays): frees what they hold outside the cache.
    using TDropped = std::function<void(std::vector<TEntry>& dropped)>;
    explicit TRebuildCache(TDropped dropped = nullptr) : onDropped(std::move(dropped)) {}

    // The last live entry `match` accepts, or null. A found entry counts as
    // asked for by the build in progress, and its files as read by it.
    template <class TMatch> TEntry* Find(const TMatch& match) {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->Stale || !match(*it)) continue;
            it->Used = CurrentBuild();
            for (const std::string& file : it->Files) NoteInputFile(file);
            return &*it;
        }
        return nullptr;
    }
    TEntry& Add(TEntry entry) {
        entry.Born = entry.Used = CurrentBuild();
        entries.push_back(std::move(entry));
        return entries.back();
    }
    const std::vector<TEntry>& Entries() const { return entries; }
    // Forgets every entry without dropping what it holds (tests).
    void Clear() { entries.clear(); }

private:
    void MarkStale(const TChangedFile& changed) override {
        for (TEntry& entry : entries)
            entry.Stale = changed && std::any_of(entry.Files.begin(), entry.Files.end(), changed);
    }
    void Settle(bool keepNew) override {
        const uint32_t build = CurrentBuild();
        std::vector<TEntry> kept;
        std::vector<TEntry> dropped;
        for (TEntry& entry : entries) {
            const bool drop = keepNew ? entry.Used != build : entry.Born == build;
            (drop ? dropped : kept).push_back(std::move(entry));
        }
        entries = std::move(kept);
        for (TEntry& entry : entries) {
            entry.Stale = false;
            // A refused build asked for some entries; the playing build
            // still uses them.
            if (!keepNew) entry.Used = build - 1;
        }
        if (onDropped && !dropped.empty()) onDropped(dropped);
    }

    std::vector<TEntry> entries;
    TDropped onDropped;
};
