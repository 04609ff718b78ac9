// The fetch over https against a local TLS server with a certificate made for the test: it is
// accepted only when it is trusted, names the host and is in date. Verification is never off.
#include <httplib.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "TestHttpServer.h"
#include "net/CheckServer.h"
#include "net/OpenUrl.h"

using namespace pellamark;

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};

// A self-signed certificate for `altName` ("IP:127.0.0.1", "DNS:...") valid from `fromSeconds`
// to `toSeconds` from now, with its key.
struct TestCertificate {
    std::unique_ptr<EVP_PKEY, KeyDeleter> key;
    std::unique_ptr<X509, CertDeleter> cert;

    TestCertificate(const char* altName, long fromSeconds, long toSeconds)
        : key(EVP_EC_gen("P-256")), cert(X509_new()) {
        X509* c = cert.get();
        X509_set_version(c, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
        X509_gmtime_adj(X509_getm_notBefore(c), fromSeconds);
        X509_gmtime_adj(X509_getm_notAfter(c), toSeconds);
        X509_set_pubkey(c, key.get());
        X509_NAME* name = X509_get_subject_name(c);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Pellamark test"), -1, -1,
                                   0);
        X509_set_issuer_name(c, name);
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, c, c, nullptr, nullptr, 0);
        for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, altName},
                                         std::pair{NID_basic_constraints, "CA:TRUE"}}) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
            X509_add_ext(c, extension, -1);
            X509_EXTENSION_free(extension);
        }
        X509_sign(c, key.get(), EVP_sha256());
    }

    void writePem(const std::filesystem::path& file) const {
        FILE* out = std::fopen(file.c_str(), "w");
        ASSERT_NE(out, nullptr);
        PEM_write_X509(out, cert.get());
        std::fclose(out);
    }
};

// An https server on 127.0.0.1 with an ephemeral port, serving the probe page.
class TlsServer {
public:
    explicit TlsServer(const TestCertificate& certificate)
        : m_server(certificate.cert.get(), certificate.key.get()) {
        m_server.Get("/app/apphtml.html", [this](const httplib::Request&, httplib::Response& res) {
            ++m_served;
            res.set_content("secure page", "text/html");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) {
            std::this_thread::yield();
        }
    }
    ~TlsServer() {
        m_server.stop();
        m_thread.join();
    }
    std::string origin() const { return "https://127.0.0.1:" + std::to_string(m_port); }
    int served() const { return m_served; }

private:
    httplib::SSLServer m_server;
    int m_port = 0;
    std::atomic<int> m_served{0};
    std::thread m_thread;
};

struct TlsCase {
    const char* name;
    const char* altName;
    long validFrom, validTo; // seconds from now
    bool trusted;            // the test's certificate given as the one to trust
    bool accepted;
};

void PrintTo(const TlsCase& value, std::ostream* out) {
    *out << value.name;
}

class OpenUrlTls : public ::testing::TestWithParam<TlsCase> {
protected:
    pellamark::testing::ScopedNoProxy noProxy;
    pellamark::testing::TempDir dir;
};

TEST_P(OpenUrlTls, AcceptsOnlyAVerifiedServer) {
    const TlsCase& c = GetParam();
    const TestCertificate certificate(c.altName, c.validFrom, c.validTo);
    certificate.writePem(dir / "trusted.pem");
    TlsServer server(certificate);
    bool libraryFailed = false;
    FetchOptions options;
    options.idleTimeout = std::chrono::seconds(5);
    options.totalTimeout = std::chrono::seconds(10);
    if (c.trusted) {
        options.caFile = (dir / "trusted.pem").string();
    }
    options.onRunTimeError = [&](std::int32_t, const std::string&) { libraryFailed = true; };

    const std::string text = OpenUrl(server.origin() + "/app/apphtml.html", options);

    EXPECT_EQ(text, c.accepted ? "secure page" : "");
    // A refused certificate ends the handshake: the page is never asked for.
    EXPECT_EQ(server.served(), c.accepted ? 1 : 0);
    EXPECT_FALSE(libraryFailed);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, OpenUrlTls,
    ::testing::Values(TlsCase{"Trusted", "IP:127.0.0.1", -60, 3600, true, true},
                      TlsCase{"NotTrusted", "IP:127.0.0.1", -60, 3600, false, false},
                      TlsCase{"ForAnotherName", "DNS:favourites.example.org", -60, 3600, true,
                              false},
                      TlsCase{"Expired", "IP:127.0.0.1", -7200, -3600, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A service host built in as an https address is probed over https, and its certificate decides.
TEST(CheckServerTls, ProbesAnHttpsServiceAndTrustsOnlyAVerifiedOne) {
    pellamark::testing::ScopedNoProxy noProxy;
    pellamark::testing::TempDir dir;
    const TestCertificate certificate("IP:127.0.0.1", -60, 3600);
    certificate.writePem(dir / "trusted.pem");
    TlsServer server(certificate);
    struct Host : ServerCheckHost {
        void MsgBox(const std::string&) override { ++boxes; }
        void UnloadMain() override {}
        int boxes = 0;
    };
    const auto fetchTrusting = [&](const std::string& caFile) {
        return [caFile](const std::string& url, const FetchOptions& options) {
            FetchOptions trusting = options;
            trusting.caFile = caFile;
            return OpenUrl(url, trusting);
        };
    };

    Host trusting;
    EXPECT_TRUE(
        CheckServer(trusting, fetchTrusting((dir / "trusted.pem").string()), server.origin()));
    Host system;
    EXPECT_FALSE(CheckServer(system, OpenUrl, server.origin()));
    EXPECT_EQ(system.boxes, 1);
    EXPECT_EQ(server.served(), 1);
}

} // namespace
