#include "ConnectorSettings.h"
#include "TempHome.h"

#include <QtGlobal>
#include <gtest/gtest.h>

#include <ctime>
#include <memory>

namespace {

// Every location the controller reads (the admin socket, the preferences) is fixed per process from HOME, so
// HOME points at a throw-away directory before any test runs. Times are shown in UTC for stable texts.
class TempHomeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<TestSupport::TempDir>();
        qputenv("HOME", home_->path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home_->path() + QStringLiteral("/.config")).toUtf8());
        qputenv("TZ", "UTC");
        ::tzset();
        ConnectorSettings::registerDefaults();
    }
    void TearDown() override { home_.reset(); }

private:
    std::unique_ptr<TestSupport::TempDir> home_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new TempHomeEnvironment);

} // namespace
