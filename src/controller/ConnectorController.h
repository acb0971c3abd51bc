#pragma once

#include "AppVerifier.h"
#include "ControllerTypes.h"
#include "Health.h"
#include "SessionHooksStatus.h"
#include "StrellStatus.h"

#include "BackgroundService.h"
#include "Platform.h"
#include "SystemTools.h"
#include "UpdateState.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>

struct ControllerTestAccess;

// The application's one observable model: everything the status menu and the window show, and every
// operation they start. Main thread only. Each observable field has a getter and a private store function
// that announces changed() on every assignment, also when the value is equal (the status item redraws per
// assignment). Plain fields are public members. Derived values (health and its texts) are computed on read.
//
// One source file per concern: ConnectorController.cpp (state and refresh), Health.cpp, BackgroundItems.cpp,
// ExecutorTools.cpp, Updates.cpp, and later ones for pairing, uninstall, session hooks, gateway routing and
// the legacy rename.
class ConnectorController : public QObject {
    Q_OBJECT

public:
    explicit ConnectorController(Platform platform, QObject* parent = nullptr);
    ~ConnectorController() override;

    // Observable fields, in declaration order.
    const Background& background() const { return background_; }
    BackgroundService::Status statusItemAtLogin() const { return statusItemAtLogin_; }
    const std::optional<BridgeStatus>& bridge() const { return bridge_; }
    const QList<Engine>& engines() const { return engines_; }
    const QList<CliTool>& cliTools() const { return cliTools_; }
    bool cliBusy() const { return cliBusy_; }
    const std::optional<QString>& cliMessage() const { return cliMessage_; }
    bool cliAvailable() const { return cliAvailable_; }
    const std::optional<CliActivity>& cliActivity() const { return cliActivity_; }
    const std::optional<CliResult>& cliResult() const { return cliResult_; }
    const QList<Pairing>& pairings() const { return pairings_; }
    const std::optional<QString>& notice() const { return notice_; }
    bool uninstalling() const { return uninstalling_; }
    const UpdateState& update() const { return update_; }
    bool waitsToInstall() const { return waitsToInstall_; }
    const std::optional<QDateTime>& lastRefresh() const { return lastRefresh_; }
    const std::optional<StrellStatus>& strell() const { return strell_; }
    bool strellBusy() const { return strellBusy_; }
    const std::optional<QString>& strellMessage() const { return strellMessage_; }
    bool strellError() const { return strellError_; }
    const std::optional<SessionHooksStatus>& sessionHooks() const { return sessionHooks_; }
    bool sessionHooksBusy() const { return sessionHooksBusy_; }
    const std::optional<QString>& sessionHooksMessage() const { return sessionHooksMessage_; }

    // Plain fields (not observable).
    bool cliRequestInFlight = false; // an executor-tool command was sent and not yet answered
    bool checkedCliOnLaunch = false; // the one-time tool check after launch has been started
    const bool updatedThisLaunch;    // this process was started with "--after-update"
    bool holdsAutoInstall = false;   // the status menu is open: no installation under it
    bool triedLegacyRename = false;
    bool renamingBundle = false;
    BackgroundService& service;           // the bridge's background item
    BackgroundService& statusItemService; // the status-bar login item
    const std::shared_ptr<Workspace> workspace;
    const AppVerifier verifier;
    const QString bundlePath;                                          // the running application's bundle
    QString serviceManagerTool = SystemTools::serviceManagerTool();    // starts the agent (tests: a stand-in)
    std::chrono::milliseconds cliPollLimit{std::chrono::seconds(360)}; // following accepted tool work
    double bridgeWaitSeconds = 20; // how long a pairing link waits for the bridge (tests shorten both)

    // True exactly while the bridge's last status is known.
    bool running() const { return bridge_.has_value(); }

    // One full reading of the bridge's state: "status", then "pairings". Never fails; does nothing while an
    // uninstall runs. Refreshes may overlap; the last one to write a field wins.
    QCoro::Task<void> refresh();

    static QString engineTitle(const QString& id) { return ::engineTitle(id); }

    // The bridge's ISO 8601 date texts, with or without fractional seconds.
    static std::optional<QDateTime> date(const QString& text);

    // A point in time for display: abbreviated date and short time, local time, the user's locale.
    static QString displayTime(const QDateTime& time);

    // Health and summaries.
    Health health() const;
    QString healthTitle() const { return health().title(); }
    QString version() const; // "1.4.0（27）" from the Info dictionary
    static QString version(const nlohmann::json& info);

    // The self-update's inputs.
    static std::optional<QUrl> updateFeed(); // from the override and the main bundle's Info dictionary
    static std::optional<QUrl> updateFeed(const nlohmann::json& info);
    qint64 currentBuild() const;
    QString updateWaitLine() const;

    // Operations that refresh() calls, each defined in the source file of its own concern. Virtual so that
    // the points at which the refresh calls them can be observed on their own. ensureBackgroundItem() asks
    // the service manager on a worker; callers await it.
    virtual QCoro::Task<void> ensureBackgroundItem();

    // Background items and the bridge start (BackgroundItems.cpp).
    QCoro::Task<void> announce(bool onlyRunning);
    QCoro::Task<void> reregisterBackgroundItem();
    void setStatusItemAtLogin(bool on);
    void openLoginItemsSettings();
    void startBridge();
    void revealLog();
    virtual QCoro::Task<void> cliAction(QString command, std::optional<QString> engine = std::nullopt,
                                        bool userInitiated = true);
    virtual void installUpdateIfIdle();
    virtual void renameLegacyBundleIfIdle();

    // Called by the application shell: at launch (the update schedule, outside isolated validation; the end
    // of a legacy rename, with --after-rename) and for every link addressed to the connector. Never fail.
    void startUpdateChecks();
    void finishLegacyRename(bool restartBridge);

    // Executor tools (ExecutorTools.cpp): the result line of a finished command, from the tools and the
    // bridge's closing message as the refresh after the work left them.
    static QString cliSummary(const QString& command, const QList<CliTool>& tools,
                              const std::optional<QString>& message);

    // Pairing (Pairing.cpp). handle() answers a pairing link given as its original text (a parsed QUrl has
    // already lower-cased scheme and host, which the check must see as sent); it never throws.
    // disconnect() starts revoking a pairing and returns at once. openSenvik() brings a companion app to the
    // front or starts one.
    QCoro::Task<void> handle(QString link);
    using QObject::disconnect;
    void disconnect(const Pairing& pairing);
    QCoro::Task<void> openSenvik();

    // Hardening (BackgroundItems.cpp): the login-item switch's work, awaitable; setStatusItemAtLogin() starts
    // it and returns at once.
    QCoro::Task<void> switchStatusItemAtLogin(bool on);

signals:
    // Any observable field was assigned; observers read the new values.
    void changed();

private:
    friend struct ControllerTestAccess;

    void storeBackground(Background value);
    void storeStatusItemAtLogin(BackgroundService::Status value);
    void storeBridge(std::optional<BridgeStatus> value);
    void storeEngines(QList<Engine> value);
    void storeCliTools(QList<CliTool> value);
    void storeCliBusy(bool value);
    void storeCliMessage(std::optional<QString> value);
    void storeCliAvailable(bool value);
    void storeCliActivity(std::optional<CliActivity> value);
    void storeCliResult(std::optional<CliResult> value);
    void storePairings(QList<Pairing> value);
    void storeNotice(std::optional<QString> value);
    void storeUninstalling(bool value);
    void storeUpdate(UpdateState value); // clears waitsToInstall when anything but ready is stored
    void storeWaitsToInstall(bool value);
    void storeLastRefresh(std::optional<QDateTime> value);
    void storeStrell(std::optional<StrellStatus> value);
    void storeStrellBusy(bool value);
    void storeStrellMessage(std::optional<QString> value);
    void storeStrellError(bool value);
    void storeSessionHooks(std::optional<SessionHooksStatus> value);
    void storeSessionHooksBusy(bool value);
    void storeSessionHooksMessage(std::optional<QString> value);

    template <typename T> void assign(T& field, T value) {
        field = std::move(value);
        emit changed();
    }

    // The steps of refresh() that turn replies into fields.
    void resetUnreachable();
    void storeStatus(const nlohmann::json& status);
    void storeCliFields(const nlohmann::json* tools);
    static BridgeStatus bridgeStatus(const nlohmann::json& status);
    static QList<Engine> parseEngines(const nlohmann::json* engines);
    static QList<Pairing> parsePairings(const nlohmann::json& result);

    // Delivers `link` to the application at `app` (Pairing.cpp); fails with the workspace's error.
    QCoro::Task<void> open(QUrl link, QString app, bool activate);
    QCoro::Task<void> revoke(QString id);

    const nlohmann::json& info_;

    Background background_ = Background::Checking{};
    BackgroundService::Status statusItemAtLogin_ = BackgroundService::Status::notRegistered;
    std::optional<BridgeStatus> bridge_;
    QList<Engine> engines_;
    QList<CliTool> cliTools_;
    bool cliBusy_ = false;
    std::optional<QString> cliMessage_;
    bool cliAvailable_ = false;
    std::optional<CliActivity> cliActivity_;
    std::optional<CliResult> cliResult_;
    QList<Pairing> pairings_;
    std::optional<QString> notice_;
    bool uninstalling_ = false;
    UpdateState update_ = UpdateState::Idle{};
    bool waitsToInstall_ = false;
    std::optional<QDateTime> lastRefresh_;
    std::optional<StrellStatus> strell_;
    bool strellBusy_ = false;
    std::optional<QString> strellMessage_;
    bool strellError_ = false;
    std::optional<SessionHooksStatus> sessionHooks_;
    bool sessionHooksBusy_ = false;
    std::optional<QString> sessionHooksMessage_;

    // Hardening (Pairing.cpp): the pairing answer itself; handle() wraps it so that nothing escapes.
    QCoro::Task<void> answerPairing(QString link);
};
