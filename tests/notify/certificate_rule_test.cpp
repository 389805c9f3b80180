// What the exchange does with a certificate that does not verify, under each
// "tls" choice: the settings read, the step after a refused attempt, and the
// whole exchange through a transport that stands in for the platform's.
#include "notify/certificate_rule.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "notify/rest_client.h"
#include "platform/exception.h"

namespace vantrel {
namespace {

const std::string kKey1(64, '1');
const std::string kKey2(64, '2');

TlsChoice Choice(TlsMode mode, const std::string& pin = std::string()) {
  TlsChoice c;
  c.mode = mode;
  c.pin = pin;
  return c;
}

CertificateFacts SelfSigned(const std::string& key) {
  CertificateFacts f;
  f.seen = true;
  f.unknown_authority = true;
  f.key_sha256 = key;
  return f;
}

TEST(CertificateRule, ReadsTheSettings) {
  struct Row {
    const char* name;
    std::optional<String> tls, tlspin;
    TlsMode mode;
    std::string pin;
    bool pin_invalid;
    std::string problem;
  } rows[] = {
      {"missing", std::nullopt, std::nullopt, TlsMode::kAccept, "", false, ""},
      {"accept", u"accept", u"ab", TlsMode::kAccept, "", false, ""},
      {"verify in capitals, with blanks", u" VERIFY ", std::nullopt, TlsMode::kVerify, "", false, ""},
      {"pin without a pin", u"pin", std::nullopt, TlsMode::kPin, "", false, ""},
      {"pin with an empty pin", u"pin", u"", TlsMode::kPin, "", false, ""},
      {"pin with colons and capitals", u"pin",
       u"11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11:11",
       TlsMode::kPin, kKey1, false, ""},
      {"pin that is no fingerprint", u"pin", u"sha256//abc", TlsMode::kPin, "", true,
       "Invalid value for 'tlspin': not a SHA-256 fingerprint (64 hexadecimal digits); nothing is sent to a server "
       "whose certificate does not verify until it is deleted or set to the server's fingerprint"},
      {"anything else", u"strict", std::nullopt, TlsMode::kAccept, "", false,
       "Invalid value 'strict' for 'tls' (accept, verify or pin): certificates are accepted as without it"},
      {"empty", u"", std::nullopt, TlsMode::kAccept, "", false,
       "Invalid value '' for 'tls' (accept, verify or pin): certificates are accepted as without it"},
  };
  for (const Row& row : rows) {
    const TlsChoice c = ReadTlsChoice(row.tls, row.tlspin);
    EXPECT_EQ(c.mode, row.mode) << row.name;
    EXPECT_EQ(c.pin, row.pin) << row.name;
    EXPECT_EQ(c.pin_invalid, row.pin_invalid) << row.name;
    EXPECT_EQ(ToUtf8(c.problem), row.problem) << row.name;
  }
}

TEST(CertificateRule, DecidesAfterARefusal) {
  const CertificateGate on;
  const CertificateGate off_any{false, ""};
  const CertificateGate off_key1{false, kKey1};
  const String transport = u"Error sending data: (60) SSL certificate problem";
  const std::string changed =
      "The server's key has changed: SHA-256 " + kKey2 + ", pinned " + kKey1 +
      "; nothing was sent. To accept the new key, delete 'tlspin' or set it to the new fingerprint";
  CertificateFacts expired_elsewhere = SelfSigned(kKey1);
  expired_elsewhere.unknown_authority = false;
  expired_elsewhere.wrong_name = true;
  expired_elsewhere.bad_dates = true;
  struct Row {
    const char* name;
    TlsChoice choice;
    CertificateGate gate;
    CertificateFacts refused;
    bool retry;
    std::string accepted_key;
    std::string failure;
  } rows[] = {
      {"accept: sent again with the checks off, to any key", {}, on, SelfSigned(kKey1), true, "", ""},
      {"accept: refused again with the checks off ends it",
       {},
       off_any,
       SelfSigned(kKey1),
       false,
       "",
       ToUtf8(transport)},
      {"verify: never sent", Choice(TlsMode::kVerify), on, expired_elsewhere, false, "",
       "The server's certificate does not verify (name, dates; key SHA-256 " + kKey1 +
           "): 'tls' is 'verify', so nothing was sent"},
      {"verify: nothing seen",
       Choice(TlsMode::kVerify),
       on,
       {},
       false,
       "",
       "The server's certificate does not verify: 'tls' is 'verify', so nothing was sent"},
      {"pin, first use: sent again to this key alone", Choice(TlsMode::kPin), on, SelfSigned(kKey1), true, kKey1, ""},
      {"pin, the pinned key: sent again to it alone", Choice(TlsMode::kPin, kKey1), on, SelfSigned(kKey1), true, kKey1,
       ""},
      {"pin, another key: never sent", Choice(TlsMode::kPin, kKey1), on, SelfSigned(kKey2), false, "", changed},
      {"pin, no key seen", Choice(TlsMode::kPin), on, {}, false, "", ToUtf8(transport)},
      {"pin, a key that changed between the attempts", Choice(TlsMode::kPin), off_key1, SelfSigned(kKey2), false, "",
       changed},
      {"pin, a tlspin that is no fingerprint", ReadTlsChoice(u"pin", u"x"), on, SelfSigned(kKey1), false, "",
       ToUtf8(ReadTlsChoice(u"pin", u"x").problem)},
  };
  for (const Row& row : rows) {
    const CertificateStep step = AfterCertificateRefused(row.choice, row.gate, row.refused, transport);
    EXPECT_EQ(step.retry, row.retry) << row.name;
    EXPECT_EQ(step.accepted_key, row.accepted_key) << row.name;
    EXPECT_EQ(ToUtf8(step.failure), row.failure) << row.name;
  }
}

TEST(CertificateRule, AdmitsWhatTheGateAllows) {
  CertificateFacts verified;
  verified.seen = true;
  verified.key_sha256 = kKey2;
  struct Row {
    const char* name;
    CertificateGate gate;
    CertificateFacts facts;
    bool admitted;
  } rows[] = {
      {"verified, checks on", {}, verified, true},
      {"verified, another key than the accepted one", {false, kKey1}, verified, true},
      {"not verified, checks on", {}, SelfSigned(kKey1), false},
      {"not verified, checks off", {false, ""}, SelfSigned(kKey1), true},
      {"not verified, the accepted key", {false, kKey1}, SelfSigned(kKey1), true},
      {"not verified, another key", {false, kKey1}, SelfSigned(kKey2), false},
      {"nothing seen, a key asked for", {false, kKey1}, {}, false},
  };
  for (const Row& row : rows) EXPECT_EQ(CertificateAdmitted(row.gate, row.facts), row.admitted) << row.name;
}

// The platform's transport stand-in: answers each attempt from a script and
// keeps the gates it was given.
class ScriptedTransport : public HttpTransport {
 public:
  struct Step {
    bool answered;
    CertificateFacts facts;
  };
  explicit ScriptedTransport(std::deque<Step> steps, std::vector<CertificateGate>& gates)
      : steps_(std::move(steps)), gates_(gates) {}
  bool Perform(const HttpAttempt& attempt, HttpAnswer& answer, HttpFailure& failure) override {
    gates_.push_back(attempt.certificate);
    const Step step = steps_.front();
    steps_.pop_front();
    if (step.answered) {
      answer.status = 200;
      answer.reason = "OK";
      answer.certificate = step.facts;
      return true;
    }
    failure.kind = HttpFailure::kSecureChannel;
    failure.message = u"Error sending data: (60) SSL certificate problem";
    failure.certificate = step.facts;
    return false;
  }

 private:
  std::deque<Step> steps_;
  std::vector<CertificateGate>& gates_;
};

// One exchange under each choice against a server whose certificate does
// not verify: how many attempts and with which gates, what it said and
// what it would pin.
TEST(CertificateRule, TheExchangeFollowsTheChoice) {
  const ScriptedTransport::Step refused1{false, SelfSigned(kKey1)}, answered1{true, SelfSigned(kKey1)};
  struct Row {
    const char* name;
    TlsChoice choice;
    std::deque<ScriptedTransport::Step> steps;
    std::vector<std::string> gates;  // "on", or "off:" and the accepted key
    std::string failure;
    std::string said;
    std::string new_pin;
  } rows[] = {
      {"accept",
       {},
       {refused1, answered1},
       {"on", "off:"},
       "",
       "certificate not verified: unknown authority, key SHA-256 " + kKey1 + ", sent with the checks off",
       ""},
      {"verify",
       Choice(TlsMode::kVerify),
       {refused1},
       {"on"},
       "REST request failed: The server's certificate does not verify (unknown authority; key SHA-256 " + kKey1 +
           "): 'tls' is 'verify', so nothing was sent",
       "",
       ""},
      {"pin, first use",
       Choice(TlsMode::kPin),
       {refused1, answered1},
       {"on", "off:" + kKey1},
       "",
       "certificate not verified: unknown authority, key SHA-256 " + kKey1 +
           ", sent with the checks off and its key pinned",
       kKey1},
      {"pin, pinned",
       Choice(TlsMode::kPin, kKey1),
       {refused1, answered1},
       {"on", "off:" + kKey1},
       "",
       "certificate not verified: unknown authority, key SHA-256 " + kKey1 + ", accepted by its pinned key",
       ""},
      {"pin, another key pinned",
       Choice(TlsMode::kPin, kKey2),
       {refused1},
       {"on"},
       "REST request failed: The server's key has changed: SHA-256 " + kKey1 + ", pinned " + kKey2 +
           "; nothing was sent. To accept the new key, delete 'tlspin' or set it to the new fingerprint",
       "",
       ""},
      {"a certificate that verifies",
       Choice(TlsMode::kVerify),
       {{true, CertificateFacts{true, false, false, false, false, kKey1}}},
       {"on"},
       "",
       "",
       ""},
  };
  for (const Row& row : rows) {
    std::vector<CertificateGate> gates;
    RestClient client(std::make_unique<ScriptedTransport>(row.steps, gates));
    client.SetBaseURL(u"https://chat.example/hooks/ID");
    client.Tls = row.choice;
    RestResponse response;
    RestRequest request(client, response);
    request.Method = RestRequestMethod::kPost;
    std::string failure;
    try {
      request.Execute();
    } catch (const std::exception&) {
      failure = ToUtf8(CurrentFailureMessage());
    }
    std::vector<std::string> seen;
    for (const CertificateGate& g : gates) seen.push_back(g.checks_on ? "on" : "off:" + g.accepted_key);
    EXPECT_EQ(seen, row.gates) << row.name;
    EXPECT_EQ(failure, row.failure) << row.name;
    EXPECT_EQ(ToUtf8(response.Certificate.Text()), row.said) << row.name;
    EXPECT_EQ(response.Certificate.new_pin, row.new_pin) << row.name;
  }
}

}  // namespace
}  // namespace vantrel
