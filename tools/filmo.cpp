// filmo: the command-line host of the catalogue client. It fetches one view through the library
// and shows what the view's accessors return, as readable tables or, with --json, as one JSON
// object holding every accessor's answer. By default the views come from the bundled sample
// corpus through the fixture backend; --corpus picks another corpus, --host a live server.
//
// A host like any other: it includes only the public header and links the shared library.
#include <cstdio>
#include <memory>
#include <string>

#include "filmo.h"
#include "filmo_cli.h"
#include "filmo_paths.h"

#ifndef FILMO_CORPUS_FROM_BINDIR
#define FILMO_CORPUS_FROM_BINDIR "../share/filmo/corpus"
#endif
#ifndef FILMO_TOOL_VERSION
#define FILMO_TOOL_VERSION "0"
#endif

namespace {

using namespace filmo_cli;

// The bundled corpus: beside the build tree's tools directory, or where the install put it.
std::string bundled_corpus(const char *argv0, std::string &looked) {
    std::string dir = binary_dir(argv0);
    const std::string candidates[] = {dir + "/../corpus", dir + "/" FILMO_CORPUS_FROM_BINDIR};
    for (const std::string &c : candidates) {
        if (is_dir(c)) return c;
        looked += looked.empty() ? c : " and " + c;
    }
    return std::string();
}

// The library's text as it is, then what its error number means, if it ends in one.
int fail_with_library_error(int status) {
    const char *err = filmo_last_error();
    const char *reading = err ? error_reading(err) : nullptr;
    if (err && *err && reading)
        std::fprintf(stderr, "filmo: %s (%s)\n", err, reading);
    else if (err && *err)
        std::fprintf(stderr, "filmo: %s\n", err);
    else
        std::fprintf(stderr, "filmo: failed with status %d\n", status);
    return status;
}

int install_source(const options &o, const char *argv0) {
    if (o.host) {
        filmo_set_host(o.host);
        int32_t rc = filmo_use_curl();
        return rc ? fail_with_library_error(rc) : 0;
    }
    std::string corpus;
    if (o.corpus) {
        corpus = o.corpus;
    } else {
        std::string looked;
        corpus = bundled_corpus(argv0, looked);
        if (corpus.empty()) {
            std::fprintf(stderr, "filmo: the bundled corpus is not in %s; use --corpus DIR\n",
                         looked.c_str());
            return FILMO_ERR_TRANSPORT;
        }
    }
    int32_t rc = filmo_fake_corpus(corpus.c_str());
    if (rc) return fail_with_library_error(rc);
    filmo_use_fake();
    if (o.has_mode && (rc = filmo_fake_mode(o.mode)) != 0) return fail_with_library_error(rc);
    return 0;
}

int32_t fetch(const options &o) {
    switch (o.command) {
    case cmd_home:
        if (o.has_known_hash) filmo_set_homepage_hash(o.known_hash);
        return filmo_get_homepage(o.user, o.profile, o.language, o.home_flags);
    case cmd_collections: return filmo_get_collections(o.language);
    case cmd_person: return filmo_get_people_detail(o.person_id.c_str(), o.language);
    case cmd_popular:
        return filmo_get_people_popular(o.page, o.page_size, o.page_numbers, o.language);
    case cmd_none: break;
    }
    return FILMO_ERR_ARG;
}

int run(const options &o) {
    if (o.command == cmd_home && o.raw) {
        const char *page = filmo_home_json();
        std::printf("%s\n", page ? page : "");
        return 0;
    }
    std::unique_ptr<yyjson_mut_doc, decltype(&yyjson_mut_doc_free)> doc(yyjson_mut_doc_new(nullptr),
                                                                         &yyjson_mut_doc_free);
    yyjson_mut_val *view = gather(doc.get(), o);
    if (!view || !(o.json ? print_json(doc.get(), view, o) : show(doc.get(), view, o))) {
        std::fprintf(stderr, "filmo: out of memory\n");
        return FILMO_ERR_OOM;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    std::string problem;
    if (!parse_args(argc, argv, o, problem)) {
        std::fprintf(stderr, "filmo: %s\nTry 'filmo --help'.\n", problem.c_str());
        return exit_usage;
    }
    if (o.help) {
        std::fputs(usage_text, stdout);
        std::printf("\nlibrary version %s\n", filmo_version());
    } else if (o.version) {
        std::printf("filmo %s (library %s)\n", FILMO_TOOL_VERSION, filmo_version());
    } else if (o.task != task_view) {
        int rc = o.task == task_record ? record_corpus(o) : check_server(o);
        if (rc) return rc;
    } else {
        int rc = install_source(o, argc > 0 ? argv[0] : nullptr);
        if (rc) return rc;
        int32_t status = fetch(o);
        if (status != FILMO_OK) return fail_with_library_error(status);
        rc = run(o);
        if (rc) return rc;
    }
    // A full disk or a closed pipe: the output is not all there, which is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "filmo: cannot write output\n");
        return exit_output;
    }
    return 0;
}
