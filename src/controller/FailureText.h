#pragma once

#include "BackgroundService.h"
#include "BridgeAdmin.h"
#include "Workspace.h"

#include <QString>
#include <nlohmann/json.hpp>

#include <exception>

// The user-visible description of a failed action's error, shown after the action's own prefix.
inline QString failureText(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const BridgeAdmin::Failure*>(&error))
        return failure->message;
    if (const auto* failure = dynamic_cast<const Workspace::Failure*>(&error))
        return failure->message;
    if (const auto* failure = dynamic_cast<const BackgroundService::Failure*>(&error))
        return failure->message;
    // The JSON decoder's own words are English and technical; the user only needs to know the reply was bad.
    if (dynamic_cast<const nlohmann::json::exception*>(&error))
        return QStringLiteral("管理通道的回答看不懂");
    return QString::fromUtf8(error.what());
}
