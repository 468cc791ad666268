#include "base/LocalSwitches.h"

#include <atomic>

#include "deployment_values.h"

namespace LocalSwitches {

namespace {
std::atomic<bool> g_overridden{false};
Bounds g_override;  // written before g_overridden is set, read after it is seen set
}  // namespace

Bounds For(bool testBuild) {
    Bounds bounds;
    bounds.plainHttpConfigurationQuery = testBuild;
    return bounds;
}

Bounds ThisBuild() { return g_overridden.load() ? g_override : For(Deployment::kTestBuild); }

ScopedBounds::ScopedBounds(const Bounds& bounds) {
    g_override = bounds;
    g_overridden.store(true);
}

ScopedBounds::~ScopedBounds() { g_overridden.store(false); }

}  // namespace LocalSwitches
