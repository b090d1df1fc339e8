#include "base/rebuild_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TNamed : TKeptEntry {
    std::string Name;
};

TNamed Named(const std::string& name) {
    TNamed entry;
    entry.Name = name;
    entry.Files = {"/data/" + name};
    return entry;
}

std::vector<std::string> Names(const std::vector<TNamed>& entries) {
    std::vector<std::string> names;
    for (const TNamed& entry : entries) names.push_back(entry.Name);
    return names;
}

} // namespace

// One cache through a refused rebuild and an accepted one: what each build
// asked for, what a changed file makes load again, and what gets dropped.
TEST(RebuildCache, RefusedBuildGivesEntriesBackAcceptedBuildDropsTheUnused) {
    std::vector<std::string> dropped;
    TRebuildCache<TNamed> cache([&dropped](std::vector<TNamed>& gone) {
        for (const TNamed& entry : gone) dropped.push_back(entry.Name);
    });
    const auto find = [&cache](const std::string& name) {
        return cache.Find([&name](const TNamed& entry) { return entry.Name == name; });
    };
    std::vector<std::string> read;
    SetInputFileObserver([&read](const std::string& name) { read.push_back(name); });

    // The playing build made a and b.
    BeginRebuild(nullptr);
    cache.Add(Named("a"));
    cache.Add(Named("b"));
    EndRebuild(true);
    EXPECT_TRUE(RebuildsKept());

    // b's file changed: the new build passes the old b by and loads it
    // again, then is refused. The playing build has its b back.
    BeginRebuild([](const std::string& path) { return path == "/data/b"; });
    ASSERT_NE(find("a"), nullptr);
    EXPECT_EQ(find("b"), nullptr);
    cache.Add(Named("b"));
    EndRebuild(false);
    EXPECT_EQ(dropped, std::vector<std::string>{"b"});
    EXPECT_EQ(Names(cache.Entries()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(read, std::vector<std::string>{"/data/a"}) << "an entry taken from memory still counts as read";

    // The next build asks for b alone and plays: a belonged only to the
    // previous build.
    dropped.clear();
    BeginRebuild(nullptr);
    ASSERT_NE(find("b"), nullptr) << "a refused build's stale marks do not outlive it";
    EndRebuild(true);
    EXPECT_EQ(dropped, std::vector<std::string>{"a"});
    EXPECT_EQ(Names(cache.Entries()), std::vector<std::string>{"b"});
    SetInputFileObserver(nullptr);
}
