// GStreamer for the ovalixsrc tests: initialised once per test program with
// the element registered statically (the program is built with the
// sanitizers, so it cannot load the plugin file through the registry's
// scanner), a registry file of its own, and torn down at the end so that the
// leak check sees only what is really lost.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "ovalix_src.h"

namespace {

class GstEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        unsetenv("GST_PLUGIN_PATH");
        setenv("GST_REGISTRY", OVALIX_GST_TEST_REGISTRY, 1);
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "ovalix",
                                               "ovalixsrc under test", OvalixSrcRegister, "1.0",
                                               "Proprietary", "ovalix", "Ovalix", "Ovalix"));
    }
    void TearDown() override { gst_deinit(); }
};

::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new GstEnvironment);

}  // namespace
