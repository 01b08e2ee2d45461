// The GNOME tests rest on the harness answering the portal's dialog and on
// the probe seeing the keys a portal session sends: check both with a
// portal client of our own before the program is put through them.
#include <linux/input-event-codes.h>

#include <csignal>

#include "gnome_fixture.h"

namespace tollmere::e2e {
namespace {

class GnomeHarness : public TollmereOnGnome {
 protected:
  // A portal client that asks for a keyboard and, once allowed, runs `steps`.
  AppProcess& StartClient(std::vector<std::string> steps) {
    client_ = Run(PORTAL_CLIENT, std::move(steps));
    EXPECT_TRUE(client_->WaitForTrace("selected", std::nullopt, 10s)) << client_->Stderr();
    return *client_;
  }

  std::unique_ptr<AppProcess> client_;
};

TEST_F(GnomeHarness, ApprovedSessionsKeyReachesTheProbeOnce) {
  const PortalKeyCalls calls(*gnome_);
  AppProcess& client = StartClient({"press:57", "wait:300", "release:57"});
  Approve();
  ASSERT_FALSE(HasFatalFailure());
  const auto started = client.WaitForTrace("started", std::nullopt, 5s);
  ASSERT_TRUE(started) << client.Stderr();
  EXPECT_EQ(started->arg, "1") << "the session should have the keyboard and nothing else";

  ASSERT_TRUE(probe_->WaitForKeys(2, 5s)) << client.Stderr();
  const ExitStatus status = client.WaitForExit(5s);
  EXPECT_TRUE(status.Exited() && status.Code() == 0) << status.Describe() << client.Stderr();
  probe_->Pump(200ms);
  const auto keys = probe_->Transitions(KEY_SPACE);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].press);
  EXPECT_FALSE(keys[1].press);
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE));
  // The dialog's own keys went to the dialog.
  EXPECT_EQ(probe_->Transitions(KEY_S).size(), 0u);
  const auto sent = calls.Calls();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[0].keycode == KEY_SPACE && sent[0].press);
  EXPECT_TRUE(sent[1].keycode == KEY_SPACE && !sent[1].press);
}

TEST_F(GnomeHarness, RefusedSessionGetsNoKeyboard) {
  AppProcess& client = StartClient({"press:57", "release:57"});
  ASSERT_TRUE(gnome_->RefuseRemoteDesktopDialog()) << gnome_->Log();
  const auto refused = client.WaitForTrace("refused", std::nullopt, 5s);
  ASSERT_TRUE(refused) << client.Stderr();
  EXPECT_EQ(refused->arg, "1") << "Escape is the user's refusal";
  EXPECT_FALSE(client.WaitForTrace("started", std::nullopt, 0ms));
  probe_->Pump(200ms);
  EXPECT_TRUE(probe_->Transitions(KEY_SPACE).empty());
}

// What a program killed during a hold leaves behind: the desktop ends the
// session with the client's bus connection, and releases its keys.
TEST_F(GnomeHarness, SessionKilledDuringAHoldReleasesTheKey) {
  const PortalKeyCalls calls(*gnome_);
  AppProcess& client = StartClient({"press:57", "hang"});
  Approve();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(client.WaitForTrace("press", "57", 5s)) << client.Stderr();
  ASSERT_TRUE(probe_->WaitForKeys(1, 5s));
  ASSERT_TRUE(probe_->KeyDownNow(KEY_SPACE));

  client.Signal(SIGKILL);
  EXPECT_EQ(client.WaitForExit(5s).Signal(), SIGKILL);
  ASSERT_TRUE(probe_->WaitForKeys(2, 3s)) << "the key was left down";
  EXPECT_FALSE(probe_->Transitions(KEY_SPACE)[1].press);
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE)) << probe_->KeysDownText();
  // The release was the desktop's: the client only ever pressed.
  const auto sent = calls.Calls();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].keycode == KEY_SPACE && sent[0].press);
}

}  // namespace
}  // namespace tollmere::e2e
