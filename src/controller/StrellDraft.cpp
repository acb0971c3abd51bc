#include "StrellDraft.h"

nlohmann::json StrellDraft::payload() const {
    if (!enabled)
        return nullptr;
    return nlohmann::json{
        {"rolePath", role.toStdString()}, {"origin", origin.toStdString()}, {"model", model.toStdString()}};
}
