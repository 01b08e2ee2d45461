#include "runtime/fatal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollmere::runtime {
namespace {

struct FatalTest : ::testing::Test {
  std::vector<std::string> steps;
  int status = 0;
  void SetUp() override {
    SetFatalPolicy({
        .cleanup = [this] { steps.push_back("cleanup"); },
        .report = [this](const Error& e) { steps.push_back("report " + Describe(e)); },
        .exit =
            [this](int s) {
              steps.push_back("exit");
              status = s;
            },
    });
  }
  void TearDown() override { SetFatalPolicy({}); }
};

TEST_F(FatalTest, AnErrorLeavesTheHandlerCleansUpReportsAndEnds) {
  bool rest_ran = false;
  RunHandler([&] {
    RaiseOverflow();
    rest_ran = true;
  });
  EXPECT_FALSE(rest_ran);
  EXPECT_EQ(steps, (std::vector<std::string>{"cleanup", "report Error 6: Overflow", "exit"}));
  EXPECT_EQ(status, kFatalExitStatus);
  EXPECT_NE(status, 0);
}

TEST_F(FatalTest, ForeignExceptionsAreReportedAsInternalErrors) {
  RunHandler([] { throw std::runtime_error("boom"); });
  RunHandler([] { throw 42; });
  ASSERT_EQ(steps.size(), 6u);
  EXPECT_EQ(steps[1], "report Error 51: boom");
  EXPECT_EQ(steps[4], "report Error 51: Unknown failure");
}

TEST_F(FatalTest, AFailingCleanupOrReportStillEndsTheProgram) {
  SetFatalPolicy({
      .cleanup = [] { throw std::runtime_error("cleanup failed"); },
      .report = [](const Error&) { throw std::runtime_error("no dialog"); },
      .exit = [this](int s) { status = s; },
  });
  RunHandler([] { RaiseOverflow(); });
  EXPECT_EQ(status, kFatalExitStatus);
}

TEST_F(FatalTest, AHandlerThatSucceedsEndsNothing) {
  RunHandler([] {});
  EXPECT_TRUE(steps.empty());
}

}  // namespace
}  // namespace tollmere::runtime
