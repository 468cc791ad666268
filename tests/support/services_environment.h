#pragma once
// The global environment of a test binary that talks to the local services: libcurl set up once for
// the whole binary, the services checked before the first test. A binary that needs files of its own
// in the served folder derives from it and puts them there in Prepare().
#include <gtest/gtest.h>

#include <curl/curl.h>

#include "support/local_services.h"

class ServicesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_ALL);
        ASSERT_TRUE(LocalServices::Available()) << "run through scripts/with-local-services.sh";
        Prepare();
    }
    void TearDown() override { curl_global_cleanup(); }

protected:
    virtual void Prepare() {}
};
