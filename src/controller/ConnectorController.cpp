#include "ConnectorController.h"

#include "JsonFields.h"

#include "Async.h"
#include "BridgeAdmin.h"
#include "Bundle.h"
#include "ConnectorPaths.h"
#include "ProcessInfo.h"

#include <QLocale>
#include <QPointer>
#include <QRegularExpression>

using namespace JsonFields;

ConnectorController::ConnectorController(Platform platform, QObject* parent)
    : QObject(parent), updatedThisLaunch(ProcessInfo::hasFlag(QStringLiteral("--after-update"))),
      service(*platform.service.ptr), statusItemService(*platform.statusItemService.ptr),
      workspace(platform.workspace ? platform.workspace : systemWorkspace()),
      verifier(platform.signing ? platform.signing : systemCodeSigning()),
      bundlePath(platform.bundlePath.value_or(Bundle::main() ? Bundle::main()->path : QString())),
      info_(platform.info), sharedService_(platform.service.ptr),
      sharedStatusItemService_(platform.statusItemService.ptr) {}

ConnectorController::~ConnectorController() = default;

// The list of observable fields names each getter with the type its store function takes.
#define CONNECTOR_CHECK_GETTER(Type, name, Name)                                                             \
    static_assert(                                                                                           \
        std::is_same_v<std::remove_cvref_t<decltype(std::declval<const ConnectorController&>().name())>,     \
                       Type>);
CONNECTOR_OBSERVABLE_FIELDS(CONNECTOR_CHECK_GETTER)
#undef CONNECTOR_CHECK_GETTER

// Store functions: mechanical, one announcement per assignment.
void ConnectorController::storeBackground(Background value) {
    assign(background_, std::move(value));
}
void ConnectorController::storeStatusItemAtLogin(BackgroundService::Status value) {
    assign(statusItemAtLogin_, value);
}
void ConnectorController::storeBridge(std::optional<BridgeStatus> value) {
    assign(bridge_, std::move(value));
}
void ConnectorController::storeEngines(QList<Engine> value) {
    assign(engines_, std::move(value));
}
void ConnectorController::storeEnginesNotListed(qsizetype value) {
    assign(enginesNotListed_, value);
}
void ConnectorController::storeCliTools(QList<CliTool> value) {
    assign(cliTools_, std::move(value));
}
void ConnectorController::storeCliBusy(bool value) {
    assign(cliBusy_, value);
}
void ConnectorController::storeCliMessage(std::optional<QString> value) {
    assign(cliMessage_, std::move(value));
}
void ConnectorController::storeCliAvailable(bool value) {
    assign(cliAvailable_, value);
}
void ConnectorController::storeCliActivity(std::optional<CliActivity> value) {
    assign(cliActivity_, std::move(value));
}
void ConnectorController::storeCliResult(std::optional<CliResult> value) {
    assign(cliResult_, std::move(value));
}
void ConnectorController::storePairings(QList<Pairing> value) {
    assign(pairings_, std::move(value));
}
void ConnectorController::storeNotice(std::optional<QString> value) {
    assign(notice_, std::move(value));
}
void ConnectorController::storeUninstalling(bool value) {
    assign(uninstalling_, value);
}
void ConnectorController::storeUpdate(UpdateState value) {
    const bool leavesReady = !value.is<UpdateState::Ready>();
    assign(update_, std::move(value));
    // A request to install once work ends belongs to the staged copy; any other state withdraws it.
    if (leavesReady && waitsToInstall_)
        storeWaitsToInstall(false);
}
void ConnectorController::storeWaitsToInstall(bool value) {
    assign(waitsToInstall_, value);
}
void ConnectorController::storeLastRefresh(std::optional<QDateTime> value) {
    assign(lastRefresh_, std::move(value));
}
void ConnectorController::storeStrell(std::optional<StrellStatus> value) {
    assign(strell_, std::move(value));
}
void ConnectorController::storeStrellBusy(bool value) {
    assign(strellBusy_, value);
}
void ConnectorController::storeStrellMessage(std::optional<QString> value) {
    assign(strellMessage_, std::move(value));
}
void ConnectorController::storeStrellError(bool value) {
    assign(strellError_, value);
}
void ConnectorController::storeSessionHooks(std::optional<SessionHooksStatus> value) {
    assign(sessionHooks_, std::move(value));
}
void ConnectorController::storeSessionHooksBusy(bool value) {
    assign(sessionHooksBusy_, value);
}
void ConnectorController::storeSessionHooksMessage(std::optional<QString> value) {
    assign(sessionHooksMessage_, std::move(value));
}

// ---- dates

namespace {

// Reads exactly `count` ASCII digits at `pos`.
std::optional<int> digits(const QString& text, qsizetype& pos, int count) {
    if (pos + count > text.size())
        return std::nullopt;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    pos += count;
    return value;
}

bool expect(const QString& text, qsizetype& pos, char16_t c) {
    if (pos >= text.size() || text[pos].unicode() != c)
        return false;
    ++pos;
    return true;
}

// "YYYY-MM-DDTHH:MM:SS", then fractional seconds exactly when `fraction` is set, then the zone.
// Zones: "Z", "+hhmm"/"-hhmm", and also "+hh:mm" and "+hh"; no zone at all means UTC.
std::optional<QDateTime> parseISO(const QString& text, bool fraction) {
    qsizetype pos = 0;
    const auto year = digits(text, pos, 4);
    if (!year || !expect(text, pos, u'-'))
        return std::nullopt;
    const auto month = digits(text, pos, 2);
    if (!month || !expect(text, pos, u'-'))
        return std::nullopt;
    const auto day = digits(text, pos, 2);
    if (!day || !expect(text, pos, u'T'))
        return std::nullopt;
    const auto hour = digits(text, pos, 2);
    if (!hour || !expect(text, pos, u':'))
        return std::nullopt;
    const auto minute = digits(text, pos, 2);
    if (!minute || !expect(text, pos, u':'))
        return std::nullopt;
    const auto second = digits(text, pos, 2);
    if (!second)
        return std::nullopt;

    int milliseconds = 0;
    if (fraction) {
        if (!expect(text, pos, u'.'))
            return std::nullopt;
        int count = 0;
        while (pos < text.size() && text[pos] >= QLatin1Char('0') && text[pos] <= QLatin1Char('9')) {
            // Precision beyond milliseconds is dropped.
            if (count < 3)
                milliseconds = milliseconds * 10 + (text[pos].unicode() - u'0');
            ++count;
            ++pos;
        }
        if (count == 0)
            return std::nullopt;
        for (int i = count; i < 3; ++i)
            milliseconds *= 10;
    }

    int offsetSeconds = 0;
    if (pos < text.size()) {
        const char16_t sign = text[pos].unicode();
        if (sign == u'Z' && pos + 1 == text.size()) {
            ++pos;
        } else if (sign == u'+' || sign == u'-') {
            ++pos;
            const auto hours = digits(text, pos, 2);
            if (!hours || *hours > 23)
                return std::nullopt;
            int minutes = 0;
            if (pos < text.size()) {
                expect(text, pos, u':');
                const auto m = digits(text, pos, 2);
                if (!m || *m > 59)
                    return std::nullopt;
                minutes = *m;
            }
            offsetSeconds = (*hours * 3600 + minutes * 60) * (sign == u'-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
    }
    if (pos != text.size())
        return std::nullopt;

    const QDate date(*year, *month, *day);
    if (!date.isValid() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    const QTime time(*hour, *minute, *second, milliseconds);
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

} // namespace

std::optional<QDateTime> ConnectorController::date(const QString& text) {
    if (auto withFraction = parseISO(text, true))
        return withFraction;
    return parseISO(text, false);
}

QString ConnectorController::displayTime(const QDateTime& time) {
    const QLocale locale;
    // The locale's long date without the weekday and with abbreviated month names: "Mar 1, 2025",
    // "2025年3月1日", "1. März 2025".
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression leadingWeekday(QStringLiteral("^d{3,4}[,\\s]*"));
    static const QRegularExpression trailingWeekday(QStringLiteral("[,\\s]*d{3,4}$"));
    static const QRegularExpression innerWeekday(QStringLiteral("d{3,4}[,\\s]*"));
    dateFormat.remove(leadingWeekday).remove(trailingWeekday).remove(innerWeekday);
    dateFormat.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    const QDateTime local = time.toLocalTime();
    return locale.toString(local.date(), dateFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), QLocale::ShortFormat);
}

// ---- replies

BridgeStatus ConnectorController::bridgeStatus(const nlohmann::json& status) {
    BridgeStatus bridge;
    bridge.port = integer(status, "port");
    bridge.version = ReplyCaps::clipped(text(status, "bridgeVersion"));
    if (auto started = text(status, "startedAt"))
        bridge.startedAt = date(*started);
    bridge.managed = boolean(status, "managed").value_or(false);
    bridge.openRuns = integer(status, "open").value_or(0);
    if (const nlohmann::json* repo = object(status, "companyRepo")) {
        bridge.repoRoot = ReplyCaps::clipped(text(*repo, "root"));
        bridge.repoRoles = integer(*repo, "roles").value_or(0);
        bridge.repoProblem = ReplyCaps::clipped(text(*repo, "problem"));
    }
    if (const nlohmann::json* leases = object(status, "leases")) {
        bridge.leasesOn = text(*leases, "state") == QStringLiteral("on");
        bridge.leasesReason = ReplyCaps::clipped(text(*leases, "reason"));
        bridge.leasesHolder = ReplyCaps::clipped(text(*leases, "holder"));
    }
    return bridge;
}

QList<Engine> ConnectorController::parseEngines(const nlohmann::json* engines, qsizetype* notListed) {
    QList<Engine> result;
    qsizetype beyond = 0;
    if (notListed)
        *notListed = 0;
    if (!engines || !engines->is_array())
        return result;
    for (const auto& element : *engines) {
        if (!element.is_object())
            continue;
        const std::optional<bool> installed = boolean(element, "installed");
        const std::optional<QString> engineId = text(element, "engine");
        // An EvoX that is not installed is not listed at all: it is optional, unlike the other tools.
        if (engineId == QStringLiteral("evox") && installed == false)
            continue;
        if (result.size() == ReplyCaps::listedEngines) {
            ++beyond;
            continue;
        }

        Engine engine;
        engine.id = engineId.value_or(QStringLiteral("?"));
        engine.title = engineTitle(engine.id);
        const std::optional<QString> version = text(element, "version");
        const std::optional<QString> binaryPath = text(element, "binaryPath");
        const std::optional<QString> login = text(element, "login");
        const bool loggedOut = login == QStringLiteral("logged_out");
        const nlohmann::json* error = object(element, "error");
        const std::optional<QString> errorMessage = error ? text(*error, "message") : std::nullopt;

        if (installed == false) {
            engine.summary = QStringLiteral("没找到");
            engine.detail = QStringLiteral("这台 Mac 上没找到 ") + engine.title +
                            QStringLiteral("（登录 shell 的 PATH 和常见目录里都没有）");
            engine.usable = false;
        } else if (errorMessage) {
            engine.summary = loggedOut ? QStringLiteral("没登录") : QStringLiteral("不能用");
            engine.detail = *errorMessage;
            engine.usable = false;
            engine.path = binaryPath;
        } else {
            QStringList parts;
            if (version)
                parts << *version;
            if (login == QStringLiteral("logged_in"))
                parts << QStringLiteral("已登录");
            else if (loggedOut)
                parts << QStringLiteral("没登录");
            const QString line =
                parts.isEmpty() ? QStringLiteral("已找到") : parts.join(QStringLiteral(" · "));
            engine.summary = line;
            engine.detail = line;
            engine.usable = !loggedOut;
            engine.path = binaryPath;
        }
        engine.title = ReplyCaps::clipped(engine.title);
        engine.summary = ReplyCaps::clipped(engine.summary);
        engine.detail = ReplyCaps::clipped(engine.detail);
        engine.path = ReplyCaps::clipped(engine.path);
        result.append(std::move(engine));
    }
    if (notListed)
        *notListed = beyond;
    return result;
}

QList<Pairing> ConnectorController::parsePairings(const nlohmann::json& result) {
    QList<Pairing> pairings;
    if (!isArrayOfObjects(result))
        return pairings;
    for (const auto& element : result) {
        const std::optional<QString> id = text(element, "id");
        if (!id)
            continue;
        Pairing pairing;
        pairing.id = *id;
        pairing.label = text(element, "profileLabel").value_or(QStringLiteral("（未命名账号）"));
        pairing.tail = text(element, "profileTail").value_or(QString());
        pairing.client = text(element, "clientName").value_or(QStringLiteral("Orvane"));
        if (auto seen = text(element, "lastSeenAt")) {
            const std::optional<QDateTime> when = date(*seen);
            pairing.lastSeen = when ? displayTime(*when) : *seen;
        }
        pairings.append(std::move(pairing));
    }
    return pairings;
}

ConnectorController::CliFields ConnectorController::parseCliFields(const nlohmann::json* tools) {
    CliFields fields;
    if (!tools)
        return fields;
    fields.present = true;
    fields.busy = boolean(*tools, "busy").value_or(false);
    fields.operation = text(*tools, "operation");
    fields.message = ReplyCaps::clipped(text(*tools, "message"));
    const nlohmann::json* entries = member(*tools, "tools");
    if (!entries || !isArrayOfObjects(*entries))
        return fields;
    for (const auto& element : *entries) {
        // One per engine at most is shown; a tool of no listed engine is never needed.
        if (fields.tools.size() == ReplyCaps::listedEngines + 1)
            break;
        const std::optional<QString> id = text(element, "engine");
        if (!id)
            continue;
        CliTool tool;
        tool.id = *id;
        tool.currentVersion = ReplyCaps::clipped(text(element, "currentVersion"));
        tool.latestVersion = ReplyCaps::clipped(text(element, "latestVersion"));
        tool.canUpdate = boolean(element, "canUpdate").value_or(false);
        tool.updateAvailable = boolean(element, "updateAvailable").value_or(false);
        tool.models = integer(element, "models");
        tool.checked = text(element, "checkedAt").has_value();
        tool.message = ReplyCaps::clipped(text(element, "message").value_or(QString()));
        fields.tools.append(std::move(tool));
    }
    return fields;
}

void ConnectorController::storeCliFields(const CliFields& tools) {
    storeCliAvailable(tools.present);
    storeCliBusy(cliRequestInFlight || tools.busy);
    if (cliBusy_) {
        // An activity we set for our own command says more than the bridge's one word; keep it.
        if (!cliActivity_)
            storeCliActivity(CliActivity::operation(tools.operation));
    } else {
        storeCliActivity(std::nullopt);
    }
    storeCliMessage(tools.message);

    bool evoxListed = false;
    for (const Engine& engine : engines_)
        evoxListed = evoxListed || engine.id == QLatin1String("evox");

    QList<CliTool> list;
    for (const CliTool& tool : tools.tools)
        if (evoxListed || tool.id != QLatin1String("evox"))
            list.append(tool);
    storeCliTools(std::move(list));
}

ConnectorController::ParsedStatus ConnectorController::parseStatus(const nlohmann::json& status) {
    ParsedStatus parsed;
    parsed.bridge = bridgeStatus(status);
    parsed.engines = parseEngines(member(status, "engines"), &parsed.enginesNotListed);
    parsed.strell = StrellStatus::parse(member(status, "strell"));
    parsed.sessionHooks = SessionHooksStatus::parse(member(status, "sessionHooks"));
    parsed.cli = parseCliFields(object(status, "cliTools"));
    return parsed;
}

void ConnectorController::storeStatus(const ParsedStatus& status) {
    storeBridge(status.bridge);
    storeEngines(status.engines);
    storeEnginesNotListed(status.enginesNotListed);
    storeStrell(status.strell);
    storeSessionHooks(status.sessionHooks);
    storeCliFields(status.cli);
}

void ConnectorController::resetUnreachable() {
    // The tool list and messages stay: they describe the last known versions, still worth showing.
    storeBridge(std::nullopt);
    storeEngines({});
    storeEnginesNotListed(0);
    storePairings({});
    storeCliAvailable(false);
    storeCliBusy(cliRequestInFlight);
    if (!cliBusy_)
        storeCliActivity(std::nullopt);
    storeStrell(std::nullopt);
    storeSessionHooks(std::nullopt);
    storeLastRefresh(QDateTime::currentDateTimeUtc());
}

// ---- refresh

QCoro::Task<void> ConnectorController::refresh() {
    if (uninstalling_)
        co_return;
    // The application keeps its controller for its whole life; tests and teardown may not, so every
    // resumption checks that the object is still there.
    const QPointer<ConnectorController> self(this);
    if (background_.is<Background::RequiresApproval>() || background_.is<Background::Checking>()) {
        QCoro::Task<void> ensuring = ensureBackgroundItem();
        co_await std::move(ensuring);
        if (!self)
            co_return;
    }
    // The status asks the service manager: off the main thread too.
    const std::shared_ptr<BackgroundService> loginItem = sharedStatusItemService_;
    auto readLoginItem = [loginItem] { return loginItem->status(); };
    const BackgroundService::Status atLogin = co_await Async::onWorker(std::move(readLoginItem));
    if (!self)
        co_return;
    storeStatusItemAtLogin(atLogin);

    nlohmann::json status;
    bool answered = false;
    try {
        status = co_await BridgeAdmin::request(QStringLiteral("status"));
        answered = status.is_object();
    } catch (...) {
        // Not reachable, refused or unreadable: all the same to the reader, the bridge is not running for us.
    }
    if (!self)
        co_return;
    if (!answered) {
        resetUnreachable();
        co_return;
    }
    // Read and freed on a worker: a reply of a hundred thousand engines costs the main thread nothing.
    auto read = [reply = std::move(status)]() mutable {
        const nlohmann::json taken = std::move(reply);
        return parseStatus(taken);
    };
    const ParsedStatus parsed = co_await Async::onWorker(std::move(read));
    if (!self)
        co_return;
    storeStatus(parsed);

    nlohmann::json pairings = nlohmann::json::array();
    try {
        pairings = co_await BridgeAdmin::request(QStringLiteral("pairings"));
    } catch (...) {
        pairings = nlohmann::json::array();
    }
    if (!self)
        co_return;
    storePairings(parsePairings(pairings));

    installUpdateIfIdle();
    renameLegacyBundleIfIdle();

    if (!ConnectorPaths::isolated() && cliAvailable_ && !checkedCliOnLaunch && !cliBusy_) {
        checkedCliOnLaunch = true;
        Async::spawn(cliAction(QStringLiteral("cli-check"), std::nullopt, false), "launch tool check");
    }

    storeLastRefresh(QDateTime::currentDateTimeUtc());
}
