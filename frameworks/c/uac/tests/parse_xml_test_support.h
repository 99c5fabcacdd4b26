// Test support for the XML layer: fixture paths, the layer's start and stop
// around a test program, and a loaded, decorated configuration that cleans
// up after itself.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "uac/parse_xml.h"

/* The path of fixture `name` under tests/data. */
inline std::string fixture_path(const char *name) {
    return std::string(CV_TEST_DATA_DIR) + "/" + name;
}

/* Starts the XML layer before the tests and stops it after them. */
class parse_xml_layer_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(parse_xml_initialize(), 0u); }
    void TearDown() override { parse_xml_deinitialize(); }
};

#define PARSE_XML_TEST_LAYER()                                                              \
    [[maybe_unused]] static ::testing::Environment *const parse_xml_layer_env =             \
        ::testing::AddGlobalTestEnvironment(new parse_xml_layer_environment)

/* A document loaded (from a file or an XML string, by default accepting any
 * version) and decorated into its own heap; `start` is the null-terminated
 * start list holding the root. */
struct decorated_conf {
    xmlDoc *document = nullptr;
    cv_uac_heap *heap = nullptr;
    parse_xml_tracker *tracker = nullptr;
    xmlNode *start[2] = {nullptr, nullptr};
    cv_status load_status = 0;
    cv_status decorate_status = 0;

    explicit decorated_conf(const std::string &source, std::int32_t version = PARSE_XML_ANY_VERSION) {
        load_status = parse_xml_load_document(source.c_str(), &version, &document);
        if (load_status != 0) return;
        EXPECT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
        start[0] = parse_xml_get_root(document);
        if (start[0]) decorate_status = parse_xml_decorate_tree(start[0], &tracker, heap);
    }
    ~decorated_conf() {
        if (start[0]) (void)parse_xml_undecorate_tree(start[0]);
        cv_uac_heap_release(&heap);
        parse_xml_free_document(document);
    }
    decorated_conf(const decorated_conf &) = delete;
    decorated_conf &operator=(const decorated_conf &) = delete;

    xmlNode *const *roots() const { return start; }
};
