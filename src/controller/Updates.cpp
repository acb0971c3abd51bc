#include "ConnectorController.h"

#include "Bundle.h"
#include "ConnectorSettings.h"
#include "UpdateFeed.h"
#include "UpdateGate.h"

std::optional<QUrl> ConnectorController::updateFeed() {
    return updateFeed(Bundle::mainInfo());
}

std::optional<QUrl> ConnectorController::updateFeed(const nlohmann::json& info) {
    return UpdateFeed::feedURL(info, ConnectorSettings::updateFeedOverride());
}

qint64 ConnectorController::currentBuild() const {
    return UpdateFeed::buildNumber(info_);
}

QString ConnectorController::updateWaitLine() const {
    return UpdateGate::waitLine(bridge_ ? bridge_->openRuns : 0, cliBusy_, holdsAutoInstall);
}
