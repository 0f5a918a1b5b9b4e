#include "webhook/WebhookSender.h"

#include <gtest/gtest.h>

// HMAC-SHA256 test vectors of RFC 4231 (cases 1 and 2), as the signature header carries them.
TEST(WebhookSignature, KnownVectors) {
    EXPECT_EQ("sha256=b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
              WebhookSignature(std::string(20, '\x0b'), "Hi There"));
    EXPECT_EQ("sha256=5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
              WebhookSignature("Jefe", "what do ya want for nothing?"));
}

TEST(WebhookBackoff, DoublesFromOneSecondUpToTheLongest) {
    const std::pair<int, long long> cases[] = {{0, 1000},  {1, 1000},  {2, 2000},  {3, 4000},
                                               {6, 32000}, {7, 60000}, {8, 60000}, {100000, 60000}};
    for (const auto& [attempts, wait] : cases) EXPECT_EQ(wait, WebhookBackoffMs(attempts, 60000)) << attempts;
    EXPECT_EQ(250, WebhookBackoffMs(5, 250));
}
