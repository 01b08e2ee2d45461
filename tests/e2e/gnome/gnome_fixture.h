#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "harness/app_process.h"
#include "harness/gnome/headless_gnome.h"
#include "harness/wayland/wayland_probe.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;

// A fresh headless GNOME with the probe window focused.
class TollmereOnGnome : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = HeadlessGnome::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    try {
      gnome_ = std::make_unique<HeadlessGnome>();
    } catch (const GnomeCannotStart& e) {
      GTEST_SKIP() << e.what();
    }
    probe_ = std::make_unique<WaylandProbe>(gnome_->socket_path());
    ASSERT_TRUE(probe_->WaitForFocus(5s)) << "mutter did not focus the probe";
  }

  // Runs `binary` in this session with `args`; its stderr trace lines are
  // read as the program's.
  std::unique_ptr<AppProcess> Run(const std::string& binary, std::vector<std::string> args) const {
    return std::make_unique<AppProcess>(binary, gnome_->ClientEnvironment(), std::move(args));
  }

  // The built program with --trace and `args`, e.g. {"--backend=portal"}.
  AppProcess& Launch(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "--trace");
    app_ = Run(TOLLMERE_BINARY, std::move(args));
    return *app_;
  }

  // Approves the portal's dialog once it has taken the focus from the
  // probe, then waits for the probe to get the focus back from it.
  void Approve() {
    // Keys sent before the dialog has the focus would reach the probe.
    ASSERT_TRUE(probe_->WaitForFocus(10s, false)) << "no dialog took the focus";
    ASSERT_TRUE(gnome_->ApproveRemoteDesktopDialog()) << "no dialog, or it stayed open:\n"
                                                      << gnome_->Log();
    ASSERT_TRUE(probe_->WaitForFocus(5s)) << "the probe did not get the focus back";
  }

  std::unique_ptr<HeadlessGnome> gnome_;
  std::unique_ptr<WaylandProbe> probe_;
  std::unique_ptr<AppProcess> app_;
};

}  // namespace tollmere::e2e
