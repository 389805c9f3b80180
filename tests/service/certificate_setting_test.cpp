// The module and the chat's certificate: the settings "tls" and "tlspin"
// reach every post, a first key accepted in pin mode is stored, the status
// line and the test switch say when the checks were off, and the event log
// is told once per key.
#include <gtest/gtest.h>

#include "module_harness.h"

namespace vantrel {
namespace {

using testing::MemoryKey;
using testing::ModuleHarness;

const std::string kKey1(64, 'a');
const std::string kKey2(64, 'b');

// A 200 from a server whose self-signed certificate has key.
PostReport AcceptedWithChecksOff(const std::string& key, bool first_pin = false) {
  PostReport r{200, u"OK", u"", {}};
  r.certificate.checks_off = true;
  r.certificate.shown.seen = true;
  r.certificate.shown.unknown_authority = true;
  r.certificate.shown.key_sha256 = key;
  if (first_pin) r.certificate.new_pin = key;
  return r;
}

void Settings(ModuleHarness::World& world, std::optional<String> tls) {
  world.key.values[u"chaturl"] = MemoryKey::Sz(u"https://chat.example/hooks/ID/TOKEN");
  world.key.values[u"instancename"] = MemoryKey::Sz(u"Demo");
  world.key.values[u"lastrecnum"] = MemoryKey::Dword(3);
  if (tls) world.key.values[u"tls"] = MemoryKey::Sz(*tls);
}

TEST(CertificateSettingTest, PinModeStoresTheFirstKeyAndPostsWithItAfterwards) {
  ModuleHarness::World world;
  Settings(world, u"pin");
  world.records = {4};
  world.answer = AcceptedWithChecksOff(kKey1, true);
  ModuleHarness module(world);
  module.TarkastaLogit();

  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].tls.mode, TlsMode::kPin);
  EXPECT_EQ(world.posts[0].tls.pin, "");
  EXPECT_EQ(world.key.values[u"tlspin"].type, kRegSz);
  EXPECT_EQ(world.key.values[u"tlspin"].data, MemoryKey::Sz(FromUtf8(kKey1)).data);
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4);

  world.records = {4, 5};
  world.answer = AcceptedWithChecksOff(kKey1);
  module.TarkastaLogit();
  ASSERT_EQ(world.posts.size(), 2u);
  EXPECT_EQ(world.posts[1].tls.pin, kKey1);
}

TEST(CertificateSettingTest, WithoutTlsNothingIsStoredAndTheStatusLineSaysIt) {
  ModuleHarness::World world;
  Settings(world, std::nullopt);
  world.records = {4};
  world.answer = AcceptedWithChecksOff(kKey1);
  ModuleHarness module(world);
  world.AdvanceBy(std::chrono::seconds(1));

  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].tls.mode, TlsMode::kAccept);
  EXPECT_FALSE(world.key.values.count(u"tlspin"));
  ASSERT_EQ(world.statuses.size(), 1u);
  EXPECT_NE(world.statuses[0].find(": 1 new entry, notice delivered (certificate not verified: unknown authority, "
                                   "key SHA-256 " +
                                   kKey1 + ", sent with the checks off); next check after "),
            std::string::npos)
      << world.statuses[0];
}

TEST(CertificateSettingTest, AnUnknownTlsIsNamedAndTheCertificateAcceptedAsWithout) {
  ModuleHarness::World world;
  Settings(world, u"strict");
  world.records = {4};
  ModuleHarness module(world);
  world.AdvanceBy(std::chrono::seconds(1));

  ASSERT_EQ(world.posts.size(), 1u);
  EXPECT_EQ(world.posts[0].tls.mode, TlsMode::kAccept);
  ASSERT_EQ(world.statuses.size(), 1u);
  EXPECT_NE(world.statuses[0].find("notice delivered; Invalid value 'strict' for 'tls' (accept, verify or pin): "
                                   "certificates are accepted as without it; next check after"),
            std::string::npos)
      << world.statuses[0];
  EXPECT_EQ(world.key.Integer(u"lastrecnum"), 4);
}

TEST(CertificateSettingTest, TheEventLogIsToldOncePerKey) {
  ModuleHarness::World world;
  Settings(world, std::nullopt);
  world.answer = AcceptedWithChecksOff(kKey1);
  ModuleHarness module(world);
  const auto check = [&](std::int64_t record, const PostReport& answer) {
    world.records.push_back(record);
    world.answer = answer;
    module.TarkastaLogit();
  };
  check(4, AcceptedWithChecksOff(kKey1));
  check(5, AcceptedWithChecksOff(kKey1));
  check(6, PostReport{0, u"", u"REST request failed: Error sending data: (7) refused", {}});
  check(7, AcceptedWithChecksOff(kKey1));
  ASSERT_EQ(world.certificate_entries.size(), 1u);
  EXPECT_EQ(world.certificate_entries[0],
            "Notices go to https://chat.example: certificate not verified: unknown authority, key SHA-256 " + kKey1 +
                ", sent with the checks off. The setting 'tls' = 'verify' refuses such a server; 'pin' accepts this "
                "key alone.");
  check(8, AcceptedWithChecksOff(kKey2));
  EXPECT_EQ(world.certificate_entries.size(), 2u) << "another key";
  check(9, PostReport{200, u"OK", u"", {}});
  check(10, AcceptedWithChecksOff(kKey2));
  EXPECT_EQ(world.certificate_entries.size(), 3u) << "the checks were on in between";
}

TEST(CertificateSettingTest, TheTestSwitchSaysItAndStoresNoPin) {
  ModuleHarness::World world;
  Settings(world, u"pin");
  world.answer = AcceptedWithChecksOff(kKey1, true);
  ModuleHarness module(world);
  const auto before = world.key.values.size();
  EXPECT_EQ(module.SendTestNotice(), 0);
  EXPECT_NE(world.output.find("Test notice delivered to https://chat.example: HTTP 200 OK\n"
                              "Certificate not verified: unknown authority, key SHA-256 " +
                              kKey1 +
                              ", sent with the checks off; 'tls' is 'pin': the service's first post pins this key as "
                              "'tlspin'\n"),
            std::string::npos)
      << world.output;
  EXPECT_EQ(world.key.values.size(), before);
  EXPECT_TRUE(world.certificate_entries.empty());
}

}  // namespace
}  // namespace vantrel
