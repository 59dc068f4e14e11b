// The local catalogue server (scripts/catalogue_server.py) on 127.0.0.1 over a small corpus
// written for the tests, plain or behind TLS, and the test certificates it can serve.
#ifndef FILMO_CATALOGUE_SERVER_H
#define FILMO_CATALOGUE_SERVER_H

#include <memory>
#include <string>
#include <vector>

#include "loopback_server.h"

namespace filmo_test {

// The pages of the corpus that the tests read back.
extern const char *const k_anonymous_home;
extern const char *const k_member_home;

// Writes the corpus under the fixture backend's file names: both home pages, the collections,
// one person ("nm0000040", Stanley Kubrick), popular pages 1, 2 and the camel-case page, and the
// two 404 answers.
void write_catalogue_corpus(const ScratchDir &dir);

// A CA and three server certificates made with the openssl command for this run, in a scratch
// directory: one for 127.0.0.1 and localhost signed by the CA, one for another host name signed
// by the CA, and a self-signed one for 127.0.0.1 and localhost. Each certificate file holds its
// key too.
class TestPki {
public:
    TestPki();  // throws std::runtime_error when openssl fails
    const std::string &ca() const { return ca_; }
    const std::string &local() const { return local_; }
    const std::string &other_host() const { return other_; }
    const std::string &self_signed() const { return self_; }
    const std::string &dir() const { return dir_.path(); }

private:
    ScratchDir dir_;
    std::string ca_, local_, other_, self_;
};

// scripts/catalogue_server.py over `corpus` on an ephemeral port of 127.0.0.1; with a
// certificate file it speaks HTTPS; `extra` are further switches (--fault NAME). Stopped by the
// destructor.
class CatalogueServer {
public:
    explicit CatalogueServer(const std::string &corpus, const std::string &tls_cert = "",
                             const std::vector<std::string> &extra = {});
    bool started() const { return !base_.empty(); }
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT"; empty when it did not start.
    const std::string &base() const { return base_; }
    const std::string &startup_line() const { return line_; }

private:
    std::unique_ptr<ChildProcess> child_;
    std::string base_, line_;
};

}  // namespace filmo_test

#endif
