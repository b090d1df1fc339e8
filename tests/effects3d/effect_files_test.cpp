// The run and the pre-flight check agree on the files of every effect type:
// with every file missing, each file a run reports is one the check reports
// too, so a type cannot read a file its check does not know about.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/report.h"
#include "effects/effect_types.h"
#include "fx3d_support.h"

namespace fx3d {
namespace {

class EffectFilesTest : public EffectTest {
protected:
    // The candidate file names that appear in the reports so far.
    std::set<std::string> NamedFiles() const {
        static const char* const names[] = {"missA.jpg", "missB.jpg",       "missC.jpg", "shader.jpg",
                                            "flare.jpg", "velmorandex.3ds", "cyl2.3ds"};
        std::set<std::string> named;
        for (const char* name : names)
            if (Reports().find(name) != std::string::npos) named.insert(name);
        return named;
    }
};

void NameMissingFiles(TCEffect& effect) {
    effect.A = "missA.jpg";
    effect.B = "missB.jpg";
    effect.C = "missC.jpg";
}

TEST_F(EffectFilesTest, EveryFileTheRunReadsIsChecked) {
    for (const TEffectType& type : EffectTypes()) {
        SCOPED_TRACE(type.Name);
        ReportList.clear();
        DemoCheckOnly = false;
        auto played = type.Create();
        NameMissingFiles(*played);
        played->Load();
        const std::set<std::string> run = NamedFiles();

        ReportList.clear();
        DemoCheckOnly = true;
        auto checked = type.Create();
        NameMissingFiles(*checked);
        CheckEffectFiles(type, *checked);
        const std::set<std::string> check = NamedFiles();
        DemoCheckOnly = false;
        DemoQuit = false;

        for (const std::string& name : run) EXPECT_TRUE(check.count(name)) << name << " is not checked";
        EXPECT_EQ(run.empty(), type.Files.empty()) << "a type with files reports them when they are missing";
    }
}

} // namespace
} // namespace fx3d
