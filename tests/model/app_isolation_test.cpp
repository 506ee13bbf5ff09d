#include "model/app_isolation.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace sonorel;

namespace {

TEST(app_isolation, guidance_follows_the_first_rule_the_ratings_match)
{
    using enum AppIsolation::Result;
    struct Row {
        AppIsolation::Result reference, affected, otherOutput;
        const char* startsWith;
    };
    for (const Row& row : std::initializer_list<Row>{
             {notTested, clear, clear, "Play Doctor’s quiet left/right tone"},
             {clear, notTested, notTested, "Play Doctor’s quiet left/right tone"},
             {clear, silent, notTested, "Doctor’s tone is clear."},
             {clear, clear, faulty, "Both tests sound clear."},
             {silent, clear, clear, "The first output needs closer inspection."},
             {silent, clear, notTested, "The problem also affects Doctor’s tone."},
             {faulty, faulty, silent, "The problem also affects Doctor’s tone."},
         }) {
        AppIsolation isolation;
        isolation.reference = row.reference;
        isolation.affected = row.affected;
        isolation.otherOutput = row.otherOutput;
        EXPECT_TRUE(isolation.guidance().starts_with(row.startsWith)) << isolation.guidance();
    }
}

}  // namespace
