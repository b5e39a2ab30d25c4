// OpenSSL's legacy provider (Blowfish, CAST5, RC2 and the other older ciphers the oracles need)
// beside the default one, loaded once per test program and unloaded when its tests are done, so
// that a leak checker finds nothing of them left at exit.
#include <gtest/gtest.h>
#include <openssl/provider.h>

namespace {
class TOpenSslProviders final : public testing::Environment
{
public:
    void SetUp() override
    {
        m_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        m_default = OSSL_PROVIDER_load(nullptr, "default");
        ASSERT_NE(m_legacy, nullptr) << "OpenSSL's legacy provider is missing";
        ASSERT_NE(m_default, nullptr);
    }
    void TearDown() override
    {
        if (m_legacy != nullptr) {
            OSSL_PROVIDER_unload(m_legacy);
        }
        if (m_default != nullptr) {
            OSSL_PROVIDER_unload(m_default);
        }
    }

private:
    OSSL_PROVIDER* m_legacy = nullptr;
    OSSL_PROVIDER* m_default = nullptr;
};

// Linked into the test programs that use OpenSSL as an oracle; registering takes ownership.
[[maybe_unused]] testing::Environment* const g_providers = testing::AddGlobalTestEnvironment(new TOpenSslProviders);
} // namespace
