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
    bounds.honoursSwitchFiles = testBuild;
    bounds.plainHttpConfigurationQuery = testBuild;
    return bounds;
}

Bounds ThisBuild() {
    if (!Deployment::kTestBuild) return For(false);  // no seam in a release
    return g_overridden.load() ? g_override : For(true);
}

ScopedBounds::ScopedBounds(const Bounds& bounds) {
    g_override = bounds;
    g_overridden.store(true);
}

ScopedBounds::~ScopedBounds() { g_overridden.store(false); }

}  // namespace LocalSwitches
