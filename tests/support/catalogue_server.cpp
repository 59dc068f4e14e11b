#include "catalogue_server.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "test_support.h"

namespace filmo_test {

const char *const k_anonymous_home =
    R"({"List":[{"Id":"trending","Value":"Trending now"}],)"
    R"("Basics":[{"IMDbId":"tt0062622","Title":"2001: A Space Odyssey","Year":1968,)"
    R"("Genres":["Sci-Fi"]}]})";
// Not ASCII on purpose: the server's hash must agree with the client's on UTF-16 units.
const char *const k_member_home =
    R"({"List":[{"Id":"continue","Value":"Reprendre — à suivre 🎬"}],)"
    R"("Basics":[{"IMDbId":"tt0047478","Title":"Shichinin no samurai","Year":1954}]})";

void write_catalogue_corpus(const ScratchDir &dir) {
    dir.write("homepage.anonymous-profile0.zlib", zlib_compress(k_anonymous_home));
    dir.write("homepage.auth-profile0.zlib", zlib_compress(k_member_home));
    dir.write("collections.en-US.json",
              R"([{"Id":11,"Name":"Film noir","IsAuto":true,"Playlists":[{"Name":"Essentials",)"
              R"("IMDbIds":["tt0036775","tt0040068"]}]},{"id":12,"name":"Silent era"}])");
    dir.write("people-detail.nm0000040.json",
              R"({"ID":240,"Name":"Stanley Kubrick","IMDbId":"nm0000040","Gender":2})");
    dir.write("people-detail.404.json", R"({"status":404})");
    dir.write("people-popular.p1-pascal.json",
              R"([{"ID":1,"Name":"Akira Kurosawa"},{"ID":2,"Name":"Agnès Varda"}])");
    dir.write("people-popular.p2-pascal.json", R"([{"ID":3,"Name":"Satyajit Ray"}])");
    dir.write("people-popular.pn2-camel.json", R"([{"id":4,"name":"Chantal Akerman"}])");
    dir.write("people-popular.404.json", R"({"status":404})");
}

namespace {

// Extensions of each kind of certificate; P-256 keys keep the making quick.
const char *const k_openssl_config = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[local]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[other]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
)";

void openssl(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {FILMO_OPENSSL};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (run_command(argv, out) != 0) throw std::runtime_error("openssl " + args[0] + ": " + out);
}

std::vector<std::string> new_key(const std::string &key) {
    return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TestPki::TestPki() {
    const std::string d = dir_.path() + "/";
    const std::string cnf = d + "openssl.cnf";
    dir_.write("openssl.cnf", k_openssl_config);
    ca_ = d + "ca.pem";
    openssl(std::vector<std::string>{"req", "-x509", "-config", cnf, "-extensions", "ca", "-subj",
                                     "/CN=filmo test CA", "-days", "2", "-out", ca_} +
            new_key(d + "ca.key"));
    // A certificate signed by the CA, followed by its key.
    auto signed_by_ca = [&](const std::string &name, const std::string &cn,
                            const std::string &section) {
        openssl(std::vector<std::string>{"req", "-new", "-config", cnf, "-subj", "/CN=" + cn,
                                         "-out", d + name + ".csr"} +
                new_key(d + name + ".key"));
        openssl({"x509", "-req", "-in", d + name + ".csr", "-CA", ca_, "-CAkey", d + "ca.key",
                 "-set_serial", std::to_string(name.size() + 100), "-days", "2", "-extfile",
                 cnf, "-extensions", section, "-out", d + name + ".crt"});
    };
    signed_by_ca("local", "127.0.0.1", "local");
    signed_by_ca("other", "other.example", "other");
    openssl(std::vector<std::string>{"req", "-x509", "-config", cnf, "-extensions", "local",
                                     "-subj", "/CN=127.0.0.1", "-days", "2", "-out",
                                     d + "self.crt"} +
            new_key(d + "self.key"));
    // The server takes one file: the certificate, then its key.
    auto bundle = [&](const std::string &name) {
        std::string pem;
        for (const char *part : {".crt", ".key"}) {
            std::ifstream f(d + name + part, std::ios::binary);
            pem.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        dir_.write(name + ".pem", pem);
        return d + name + ".pem";
    };
    local_ = bundle("local");
    other_ = bundle("other");
    self_ = bundle("self");
}

CatalogueServer::CatalogueServer(const std::string &corpus, const std::string &tls_cert,
                                 const std::vector<std::string> &extra) {
    std::vector<std::string> argv = {FILMO_PYTHON, FILMO_SOURCE_DIR "/scripts/catalogue_server.py",
                                     corpus, "--port", "0", "--quiet"};
    if (!tls_cert.empty()) argv.insert(argv.end(), {"--tls-cert", tls_cert});
    argv.insert(argv.end(), extra.begin(), extra.end());
    child_ = std::make_unique<ChildProcess>(argv);
    if (!child_->read_line(line_, 15000)) return;
    const std::string prefix = "listening 127.0.0.1:";
    if (line_.rfind(prefix, 0) != 0) return;
    base_ = (tls_cert.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") +
            line_.substr(prefix.size());
}

}  // namespace filmo_test
